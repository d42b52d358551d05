#include "engine/verdicts.h"

#include <array>
#include <string>
#include <string_view>

#include "engine/expected_texts.h"
#include "engine/number_format.h"
#include "engine/port_worker.h"

namespace quenby {
namespace {

// Result lines are indented by five spaces.
constexpr std::string_view Indent = "     ";

std::string passLine(std::string_view detail) {
  return std::string(Indent) + "Pass!!   " + std::string(detail);
}

std::string failLine(const std::string& failCode, std::string_view detail) {
  return std::string(Indent) + "Fail(" + failCode + ")!!   " + std::string(detail);
}

bool passed(const PortWorker& w) { return w.record().verdictWord.load() == 1; }

// A failure, a time-out, Stop or the last pass has emptied the set: the run's outcome stands, and
// a reply still queued behind it in the same received text must not change it (a late "done"
// report would otherwise turn a failed or stopped run into a pass).
bool runDecided(const PortWorker& w) { return w.record().testItems.load() == 0; }

// The item passed: the next item's time starts now, and a commanding next item starts with its
// command unsent.
void startNextItem(PortWorker& w) {
  w.record().itemStartTick = w.clock().counter();
  w.record().commandSent = false;
}

// Ends the run: a failure empties the set, so no later item runs.
void failRun(PortWorker& w, const std::string& failCode) {
  w.record().runFailCode = failCode;
  w.record().clearAllItems();
}

void fullPurge(PortWorker& w) { w.serial().purge(Purge::Full); }

// After a verdict the line is purged only when the run is over. While items remain, the bytes
// not yet read arrived after the text just judged: they are the module's next replies (a signal
// report right behind the bit-sync report it follows), never stale ones, and a purge would drop
// whichever of them happened to reach the port in the moment before it.
void purgeWhenDecided(PortWorker& w) {
  if (runDecided(w)) fullPurge(w);
}

std::string svIdText(const PortWorker& w) { return std::to_string(w.settings().svId); }

// ---- The output-rate table of a failed NMEA Type ---------------------------------------------

constexpr std::size_t OutputRateCount = 19;

// The module's output rates: its output text cut at every "," and "*", in order. A piece that is
// missing (a short text) stays empty; an empty piece keeps its place, so every rate stays on its
// own sentence kind's line.
std::array<std::string, OutputRateCount> deviceRates(std::string_view outputText) {
  std::array<std::string, OutputRateCount> rates{};
  std::size_t index = 0;
  std::size_t start = 0;
  while (index < OutputRateCount && start < outputText.size()) {
    const std::size_t cut = outputText.find_first_of(",*", start);
    const std::size_t end = cut == std::string_view::npos ? outputText.size() : cut;
    rates[index++] = std::string(outputText.substr(start, end - start));
    if (cut == std::string_view::npos) break;
    start = cut + 1;
  }
  return rates;
}

void appendOutputRateTable(PortWorker& w) {
  const TestSettings& s = w.settings();
  struct Row {
    std::string_view label;
    std::int32_t check;
  };
  // The sentence kinds in the module's output-rate order; the eleven without a setting are
  // always expected off.
  const std::array<Row, OutputRateCount> rows{{
      {"\tGLL :\t", s.nmeaFreqGll},
      {"\tRMC :\t", s.nmeaFreqRmc},
      {"\tVTG :\t", s.nmeaFreqVtg},
      {"\tGGA :\t", s.nmeaFreqGga},
      {"\tGSA :\t", s.nmeaFreqGsa},
      {"\tGSV :\t", s.nmeaFreqGsv},
      {"\tGRS :\t", 0},
      {"\tGST :\t", 0},
      {"\tPLT :\t", 0},
      {"\tPLP :\t", 0},
      {"\tPLS :\t", 0},
      {"\tPLI :\t", 0},
      {"\tPLH :\t", 0},
      {"\tMALM :\t", 0},
      {"\tMEPH :\t", 0},
      {"\tMDGP :\t", 0},
      {"\tMDBG :\t", 0},
      {"\tZDA :\t", s.nmeaFreqZda},
      {"\tMCHN :\t", s.nmeaFreqMchn},
  }};
  const auto device = deviceRates(w.record().results.nmeaType.value);
  w.view().appendLine("\t==== Device === Check ===");
  for (std::size_t i = 0; i < OutputRateCount; ++i)
    w.view().appendLine(std::string(rows[i].label) + device[i] + "\t" +
                        std::to_string(rows[i].check));
}

}  // namespace

void verdictOpenFailure(PortWorker& w) {
  w.view().appendLine(std::string(Indent) + "Fail!!   Open ComPort Fail!!");
  w.record().verdictWord.store(0);
  failRun(w, "ComPort");
}

void verdictPortLost(PortWorker& w, const std::string& why) {
  w.view().appendLine(std::string(Indent) + "Fail!!   ComPort Lost!!");
  w.view().appendLine(std::string(Indent) + why);
  w.record().verdictWord.store(0);
  failRun(w, "ComPort");
}

void verdictItemTimeout(PortWorker& w) {
  WorkerRecord& r = w.record();
  w.view().appendLine(failLine(r.runFailCode,
                               "TimeOut!! [" + std::to_string(w.elapsedItemSeconds()) + "]"));
  r.clearAllItems();
  r.verdictWord.store(0);
  fullPurge(w);
}

void verdictUpdateHz(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.updateHz.recorded = true;
  const std::string rate = formatGeneral(r.results.updateHz.rate);
  if (passed(w)) {
    r.clearItem(item::UpdateHz);
    w.view().appendLine(passLine("UpdateHz:" + rate + "Hz"));
    // The item clock is left running: the next item's time counts from the previous restart.
    r.commandSent = false;
  } else {
    r.runFailCode = w.settings().updateHzFailCode;
    // This line has four leading spaces and no fail code.
    w.view().appendLine("    Fail!!   UpdateHz:" + rate + "Hz,Check" +
                        formatGeneral(w.settings().updateHz) + "Hz");
    r.clearAllItems();
  }
}

void verdictFirmwareVersion(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.firmwareVersion.recorded = true;
  const std::string expected = expectedVersionText(w.settings());
  if (passed(w)) {
    w.view().appendLine(passLine("[" + expected + "]"));
    r.clearItem(item::FirmwareVersion);
    startNextItem(w);
    w.view().showFirmwareVersion(r.results.firmwareVersion.value);
  } else {
    failRun(w, w.settings().versionFailCode);
    w.view().appendLine(failLine(r.runFailCode, "Device[" + r.results.firmwareVersion.value +
                                                    "], Check[" + expected + "]"));
  }
}

void verdictNmeaType(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.nmeaType.recorded = true;
  if (passed(w)) {
    w.view().appendLine(passLine("NMEA "));
    r.clearItem(item::NmeaType);
    startNextItem(w);
  } else {
    r.runFailCode = w.settings().nmeaFailCode;
    w.view().appendLine(failLine(r.runFailCode, "Device[" + r.results.nmeaType.value +
                                                    "], Check[" +
                                                    expectedOutputText(w.settings()) + "]"));
    appendOutputRateTable(w);
    r.clearAllItems();
  }
}

void verdictAcquisition(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  const std::string seconds = std::to_string(w.elapsedItemSeconds());
  r.results.acquisitionTime = {true, seconds};
  w.view().appendLine(passLine("Acq SV(" + svIdText(w) + ") in " + seconds + " sec(s)."));
  r.clearItem(item::AcquisitionTime);
  startNextItem(w);
  r.verdictWord.store(1);
  purgeWhenDecided(w);
}

void verdictBitSync(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  const std::string seconds = std::to_string(w.elapsedItemSeconds());
  r.results.bitSyncTime = {true, seconds};
  w.view().appendLine(passLine("Bit Sync in " + seconds + " sec(s)."));
  r.clearItem(item::BitSyncTime);
  startNextItem(w);
  r.ttffArmed = false;
  r.verdictWord.store(1);
  purgeWhenDecided(w);
}

void verdictPhase(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.phase.recorded = true;
  const std::string detail = "Phase Ratio:" + r.results.phase.value;
  if (passed(w)) {
    // Signal Quality stays in the set until its CNR result passes.
    w.view().appendLine(passLine(detail));
    r.commandSent = false;
  } else {
    failRun(w, w.settings().signalPhaseFailCode);
    w.view().appendLine(failLine(r.runFailCode, detail));
  }
  purgeWhenDecided(w);
}

void verdictTcxo(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.tcxo.recorded = true;
  const std::string detail = "TCXO Offset(Hz):" + r.results.tcxo.first +
                             "   ,Drift(Hz/sec):" + r.results.tcxo.second;
  if (passed(w)) {
    w.view().appendLine(passLine(detail));
    r.commandSent = false;
  } else {
    failRun(w, w.settings().signalTcxoFailCode);
    w.view().appendLine(failLine(r.runFailCode, detail));
  }
  purgeWhenDecided(w);
}

void verdictCnr(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  const ItemResults& res = r.results;
  const std::string values = res.cnr.first + "   ,Dev:" + res.cnr.second;
  if (passed(w)) {
    w.view().appendLine(passLine("SV(" + svIdText(w) + ") CNR:" + values));
    if (res.phase.recorded && res.tcxo.recorded && res.cnr.recorded) {
      r.clearItem(item::SignalQuality);
      startNextItem(w);
    }
  } else {
    failRun(w, w.settings().signalCnrFailCode);
    // No colon after "CNR" on the fail line.
    w.view().appendLine(failLine(r.runFailCode, "SV(" + svIdText(w) + ") CNR" + values));
  }
  purgeWhenDecided(w);
}

void verdictTtff(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  const std::string seconds = std::to_string(w.elapsedItemSeconds());
  r.results.coldStartTtff = {true, seconds};
  w.view().appendLine(passLine("Cold Start TTFF : " + seconds));
  r.clearItem(item::ColdStartTtff);
  r.verdictWord.store(1);
  r.ttffArmed = false;
  startNextItem(w);
  purgeWhenDecided(w);
}

void verdictBluetooth(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.bluetoothMac.recorded = true;
  if (passed(w)) {
    const std::string& address = r.results.bluetoothMac.value;
    w.view().appendLine(passLine("Write BT Mac(" + address + ") into flash!!"));
    w.view().showBluetoothMac(address);
    r.clearItem(item::BluetoothMac);
    startNextItem(w);
  } else {
    failRun(w, w.settings().btFailCode);
    w.view().appendLine(failLine(r.runFailCode, "Write Fail!!"));
  }
  purgeWhenDecided(w);
}

void verdictResetDone(PortWorker& w) {
  if (runDecided(w)) return;
  WorkerRecord& r = w.record();
  r.results.factoryReset = {true, std::to_string(w.elapsedItemSeconds())};
  w.view().appendLine(passLine("Already Reset!!"));
  r.clearItem(item::FactoryReset);
  startNextItem(w);
  r.verdictWord.store(1);
  purgeWhenDecided(w);
}

}  // namespace quenby
