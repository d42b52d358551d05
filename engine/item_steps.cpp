#include "engine/item_steps.h"

#include <array>

#include "engine/nmea_sentence.h"
#include "engine/port_worker.h"
#include "engine/verdicts.h"

namespace quenby {
namespace {

// Pauses of the cold restart: the module needs a second to restart before it takes its new
// fix interval, and a moment between two commands.
constexpr int ColdRestartSettleMs = 1000;
constexpr int CommandGapMs = 100;

struct HeaderEntry {
  std::uint32_t bit;
  std::string_view text;
};

// In the order the header is chosen: the first item of the set that has one.
constexpr std::array<HeaderEntry, 10> ItemHeaders{{
    {item::FlashDownload, "[Flash Download]"},
    {item::FirmwareVersion, "[Firmware Version]"},
    {item::AcquisitionTime, "[Acquisition Time]"},
    {item::BitSyncTime, "[Bit Sync Time]"},
    {item::SignalQuality, "[Signal Quality]"},
    {item::ColdStartTtff, "[Cold Start TTFF]"},
    {item::BluetoothMac, "[Bluetooth Mac Address]"},
    {item::FactoryReset, "[Factory Reset]"},
    {item::NmeaType, "[NMEA Type]"},
    {item::UpdateHz, "[UpdateHZ]"},
}};

// An item whose only step is watching its time: its time-out and fail-code settings, and how
// its result slot is marked when the time runs out.
struct TimeoutWatch {
  std::int32_t TestSettings::*timeout;
  std::string TestSettings::*failCode;
  void (*markSlot)(ItemResults&, const std::string& timeoutText);
};

constexpr TimeoutWatch FirmwareVersionWatch{
    &TestSettings::versionTimeout, &TestSettings::versionFailCode,
    [](ItemResults& r, const std::string& t) { r.firmwareVersion = {true, t}; }};
constexpr TimeoutWatch NmeaTypeWatch{
    &TestSettings::nmeaTimeout, &TestSettings::nmeaFailCode,
    [](ItemResults& r, const std::string& t) { r.nmeaType = {true, t}; }};
// No rate was measured: the slot keeps rate 0.
constexpr TimeoutWatch UpdateHzWatch{&TestSettings::hzTimeout, &TestSettings::updateHzFailCode,
                                     [](ItemResults& r, const std::string& t) {
                                       r.updateHz.value = t;
                                       r.updateHz.recorded = true;
                                     }};
constexpr TimeoutWatch AcquisitionWatch{
    &TestSettings::acqTimeTimeout, &TestSettings::acqTimeFailCode,
    [](ItemResults& r, const std::string& t) { r.acquisitionTime = {true, t}; }};
constexpr TimeoutWatch BitSyncWatch{
    &TestSettings::bitSyncTimeout, &TestSettings::bitSyncFailCode,
    [](ItemResults& r, const std::string& t) { r.bitSyncTime = {true, t}; }};
constexpr TimeoutWatch ColdStartWatch{
    &TestSettings::coldStartTimeout, &TestSettings::coldStartFailCode,
    [](ItemResults& r, const std::string& t) { r.coldStartTtff = {true, t}; }};
constexpr TimeoutWatch FactoryResetWatch{
    &TestSettings::resetTimeout, &TestSettings::resetFailCode,
    [](ItemResults& r, const std::string& t) { r.factoryReset = {true, t}; }};
// The address reply may never come (a module without the Bluetooth part): without a watch such a
// run would wait until Stop.
constexpr TimeoutWatch BluetoothWatch{
    &TestSettings::btTimeout, &TestSettings::btFailCode,
    [](ItemResults& r, const std::string& t) { r.bluetoothMac = {true, t}; }};

void handOffTimeout(PortWorker& w) {
  w.handOff([&w] { verdictItemTimeout(w); });
}

// The item's time has reached its time-out (a time-out of 0 fires at once).
bool reached(const PortWorker& w, std::int32_t timeout) {
  return std::int64_t{w.elapsedItemSeconds()} >= timeout;
}

void watchTimeout(PortWorker& w, const TimeoutWatch& watch) {
  const TestSettings& s = w.settings();
  const std::int32_t timeout = s.*watch.timeout;
  if (!reached(w, timeout)) return;
  WorkerRecord& r = w.record();
  watch.markSlot(r.results, timeoutText(timeout));
  r.runFailCode = s.*watch.failCode;
  handOffTimeout(w);
}

// Signal Quality waits for three results of one reply. It times out one second later than the
// other items: only once its time has gone past the time-out.
void stepSignalQuality(PortWorker& w) {
  const TestSettings& s = w.settings();
  if (std::int64_t{w.elapsedItemSeconds()} <= s.signalTimeout) return;
  ItemResults& res = w.record().results;
  std::string& failCode = w.record().runFailCode;
  const std::string text = timeoutText(s.signalTimeout);
  // The run fail code is that of the last result missing, in the order phase, TCXO, CNR.
  if (!res.phase.recorded) {
    res.phase = {true, text};
    failCode = s.signalPhaseFailCode;
  }
  if (!res.tcxo.recorded) {
    res.tcxo = {true, text, text};
    failCode = s.signalTcxoFailCode;
  }
  if (!res.cnr.recorded) {
    res.cnr = {true, text, text};
    failCode = s.signalCnrFailCode;
  }
  handOffTimeout(w);
}

// Cold restart, then a fix every second with only RMC and GSV output; the first valid RMC after
// it ends the item.
void stepColdStartTtff(PortWorker& w) {
  WorkerRecord& r = w.record();
  r.resetWait = false;
  if (!r.commandSent) {
    handOffItemHeader(w);
    SerialPort& port = w.serial();
    port.writeText(ColdRestartSentence);
    w.clock().sleepMs(ColdRestartSettleMs);
    port.writeText(FixInterval1000Sentence);
    w.clock().sleepMs(CommandGapMs);
    port.writeText(RmcGsvOutputSentence);
    r.commandSent = true;
    r.commandTick = w.clock().counter();
    // Nothing received before the restart may be taken for its first fix.
    port.purge(Purge::Receive);
    r.pendingText.clear();
    r.ttffArmed = true;
  }
  watchTimeout(w, ColdStartWatch);
}

// The reset command goes out again whenever the run loop finds no start-up message about three
// seconds after it (the loop clears the command-sent flag while the reset wait is on).
void stepFactoryReset(PortWorker& w) {
  WorkerRecord& r = w.record();
  r.resetWait = true;
  if (!r.commandSent) {
    handOffItemHeader(w);
    w.serial().writeFixed(FactoryResetSentence);
    r.commandTick = w.clock().counter();
    r.commandSent = true;
    w.clock().sleepMs(CommandGapMs);
  }
  watchTimeout(w, FactoryResetWatch);
}

struct Step {
  std::uint32_t bit;
  void (*run)(PortWorker&);
};

// The current item is the first of this list still in the set. The version group comes first,
// Bluetooth Mac Address last: a Factory Reset still to do goes before it.
constexpr std::array<Step, 9> Steps{{
    {item::FirmwareVersion, [](PortWorker& w) { watchTimeout(w, FirmwareVersionWatch); }},
    {item::NmeaType, [](PortWorker& w) { watchTimeout(w, NmeaTypeWatch); }},
    {item::UpdateHz, [](PortWorker& w) { watchTimeout(w, UpdateHzWatch); }},
    {item::AcquisitionTime, [](PortWorker& w) { watchTimeout(w, AcquisitionWatch); }},
    {item::BitSyncTime, [](PortWorker& w) { watchTimeout(w, BitSyncWatch); }},
    {item::SignalQuality, stepSignalQuality},
    {item::ColdStartTtff, stepColdStartTtff},
    {item::FactoryReset, stepFactoryReset},
    {item::BluetoothMac, [](PortWorker& w) { watchTimeout(w, BluetoothWatch); }},
}};

}  // namespace

void dispatchItemStep(PortWorker& w) {
  const std::uint32_t items = w.record().testItems.load();
  for (const Step& step : Steps) {
    if ((items & step.bit) != 0) {
      step.run(w);
      return;
    }
  }
}

std::string_view itemHeaderText(std::uint32_t testItems) {
  for (const HeaderEntry& header : ItemHeaders)
    if ((testItems & header.bit) != 0) return header.text;
  return {};
}

void handOffItemHeader(PortWorker& w) {
  const std::string_view text = itemHeaderText(w.record().testItems.load());
  if (text.empty()) return;
  w.handOff([&w, text] { w.view().appendLine(std::string(text)); });
}

std::string timeoutText(std::int32_t seconds) {
  return "Timeout(" + std::to_string(seconds) + ")";
}

}  // namespace quenby
