#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/verdicts.h"
#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::WorkerHarness;
using Lines = std::vector<std::string>;
using Slots = std::function<void(ItemResults&)>;

// A run started at counter 100 with `items`; the verdict comes 12 seconds later (unless stated)
// with the command-sent flag and TTFF armed set, and the values the parser stored.
struct Setup {
  std::uint32_t items;
  std::uint32_t word = 0;
  Slots given = [](ItemResults&) {};
  std::string failCode = AbortFailCode;
  std::int64_t elapsedMs = 12000;
  std::function<void(TestSettings&)> settings = [](TestSettings&) {};
};

void start(WorkerHarness& h, const Setup& s) {
  s.settings(h.settings);
  h.settings.enableTest = static_cast<std::int32_t>(s.items);
  h.worker->startRun();
  WorkerRecord& r = h.worker->record();
  r.verdictWord = s.word;
  r.runFailCode = s.failCode;
  r.commandSent = true;
  r.ttffArmed = true;
  if (s.given) s.given(r.results);
  h.clock.advanceMs(s.elapsedMs);
}

struct Expect {
  Lines memo;
  std::uint32_t items;
  std::uint32_t word;
  std::string failCode = AbortFailCode;
  bool clockRestarted = false;
  bool commandSent = true;
  bool ttffArmed = true;
  int fullPurges = 1;  // only a verdict that ends the run purges
  Slots recorded = [](ItemResults&) {};  // the slots the verdict changed
  std::string shownVersion = {};
  std::string shownMac = {};
};

struct VerdictCase {
  const char* name;
  void (*verdict)(PortWorker&);
  Setup setup;
  Expect expect;
};

constexpr std::uint32_t Sq = item::SignalQuality;

TEST(Verdict, MemoLinesAndRecordEffects) {
  const VerdictCase cases[] = {
      {"open failure", verdictOpenFailure, {0x4, 1},
       {{"     Fail!!   Open ComPort Fail!!"}, 0, 0, "ComPort", false, true, true, 0}},
      {"time-out", verdictItemTimeout, {0x4, 1, {}, "Acq", 61000},
       {{"     Fail(Acq)!!   TimeOut!! [61]"}, 0, 0, "Acq"}},
      {"time-out bit sync", verdictItemTimeout, {0x8, 0, {}, "BitSync", 7000},
       {{"     Fail(BitSync)!!   TimeOut!! [7]"}, 0, 0, "BitSync"}},
      {"UpdateHZ pass keeps the item clock", verdictUpdateHz,
       {0x80004, 1, [](ItemResults& r) { r.updateHz.rate = 5; }, AbortFailCode, 12000,
        [](TestSettings& s) { s.updateHz = 5; }},
       {{"     Pass!!   UpdateHz:5Hz"}, 0x4, 1, AbortFailCode, false, false, true, 0,
        [](ItemResults& r) { r.updateHz.recorded = true; }}},
      {"UpdateHZ fail", verdictUpdateHz,
       {0x80004, 0, [](ItemResults& r) { r.updateHz.rate = 1; }, AbortFailCode, 12000,
        [](TestSettings& s) { s.updateHz = 5; }},
       {{"    Fail!!   UpdateHz:1Hz,Check5Hz"}, 0, 0, "UpdateHz", false, true, true, 0,
        [](ItemResults& r) { r.updateHz.recorded = true; }}},
      {"UpdateHZ fail, fractional rate", verdictUpdateHz,
       {0x80000, 0, [](ItemResults& r) { r.updateHz.rate = 1000.0f / 3.0f; }},
       {{"    Fail!!   UpdateHz:333.333343505859Hz,Check1Hz"}, 0, 0, "UpdateHz", false, true,
        true, 0, [](ItemResults& r) { r.updateHz.recorded = true; }}},
      {"version pass", verdictFirmwareVersion,
       {0x2006, 1, [](ItemResults& r) { r.firmwareVersion.value = "M-core_1.8,0000,,"; }},
       {{"     Pass!!   [M-core_1.8,0000,,]"}, 0x2004, 1, AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.firmwareVersion.recorded = true; }, "M-core_1.8,0000,,"}},
      {"version fail", verdictFirmwareVersion,
       {0x2006, 0, [](ItemResults& r) { r.firmwareVersion.value = "M-core_1.8,0000"; }},
       {{"     Fail(Version)!!   Device[M-core_1.8,0000], Check[M-core_1.8,0000,,]"}, 0, 0,
        "Version", false, true, true, 0,
        [](ItemResults& r) { r.firmwareVersion.recorded = true; }}},
      {"NMEA pass", verdictNmeaType, {0x2004, 1},
       {{"     Pass!!   NMEA "}, 0x4, 1, AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.nmeaType.recorded = true; }}},
      {"acquisition", verdictAcquisition, {0xC},
       {{"     Pass!!   Acq SV(29) in 12 sec(s)."}, 0x8, 1, AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.acquisitionTime = {true, "12"}; }}},
      {"acquisition again, bit sync current", verdictAcquisition, {0x8},
       {{"     Pass!!   Acq SV(29) in 12 sec(s)."}, 0x8, 1, AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.acquisitionTime = {true, "12"}; }}},
      {"bit sync", verdictBitSync, {0x18},
       {{"     Pass!!   Bit Sync in 12 sec(s)."}, Sq, 1, AbortFailCode, true, false, false, 0,
        [](ItemResults& r) { r.bitSyncTime = {true, "12"}; }}},
      {"phase pass", verdictPhase, {Sq, 1, [](ItemResults& r) { r.phase.value = "0.92"; }},
       {{"     Pass!!   Phase Ratio:0.92"}, Sq, 1, AbortFailCode, false, false, true, 0,
        [](ItemResults& r) { r.phase.recorded = true; }}},
      {"phase fail", verdictPhase, {Sq, 0, [](ItemResults& r) { r.phase.value = "0.50"; }},
       {{"     Fail(Phase)!!   Phase Ratio:0.50"}, 0, 0, "Phase", false, true, true, 1,
        [](ItemResults& r) { r.phase.recorded = true; }}},
      {"TCXO pass", verdictTcxo,
       {Sq, 1, [](ItemResults& r) { r.tcxo = {false, "40.920", "-0.150"}; }},
       {{"     Pass!!   TCXO Offset(Hz):40.920   ,Drift(Hz/sec):-0.150"}, Sq, 1, AbortFailCode,
        false, false, true, 0, [](ItemResults& r) { r.tcxo.recorded = true; }}},
      {"TCXO fail", verdictTcxo,
       {Sq, 0, [](ItemResults& r) { r.tcxo = {false, "-41.000", "0.010"}; }},
       {{"     Fail(TCXO)!!   TCXO Offset(Hz):-41.000   ,Drift(Hz/sec):0.010"}, 0, 0, "TCXO",
        false, true, true, 1, [](ItemResults& r) { r.tcxo.recorded = true; }}},
      {"CNR pass ends Signal Quality", verdictCnr,
       {Sq | 0x40, 1,
        [](ItemResults& r) {
          r.phase.recorded = r.tcxo.recorded = true;
          r.cnr = {true, "40.5", "1.2"};
        }},
       {{"     Pass!!   SV(29) CNR:40.5   ,Dev:1.2"}, 0x40, 1, AbortFailCode, true, false, true,
        0}},
      {"CNR pass without a phase result", verdictCnr,
       {Sq, 1,
        [](ItemResults& r) {
          r.tcxo.recorded = true;
          r.cnr = {true, "40.5", "1.2"};
        }},
       {{"     Pass!!   SV(29) CNR:40.5   ,Dev:1.2"}, Sq, 1, AbortFailCode, false, true, true, 0}},
      {"CNR fail", verdictCnr,
       {Sq, 0, [](ItemResults& r) { r.cnr = {true, "35.0", "3.4"}; }},
       {{"     Fail(CNR)!!   SV(29) CNR35.0   ,Dev:3.4"}, 0, 0, "CNR", false, true, true, 1}},
      {"TTFF", verdictTtff, {0x1040},
       {{"     Pass!!   Cold Start TTFF : 12"}, 0x1000, 1, AbortFailCode, true, false, false, 0,
        [](ItemResults& r) { r.coldStartTtff = {true, "12"}; }}},
      {"Bluetooth pass", verdictBluetooth,
       {0x1400, 1, [](ItemResults& r) { r.bluetoothMac.value = "0A:1B:2C:3D:4E:5F"; }},
       {{"     Pass!!   Write BT Mac(0A:1B:2C:3D:4E:5F) into flash!!"}, 0x1000, 1,
        AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.bluetoothMac.recorded = true; }, "", "0A:1B:2C:3D:4E:5F"}},
      {"Bluetooth fail", verdictBluetooth,
       {0x1400, 0, [](ItemResults& r) { r.bluetoothMac.value = "FF:FF:FF:FF:FF:FF"; }},
       {{"     Fail(BT_Mac)!!   Write Fail!!"}, 0, 0, "BT_Mac", false, true, true, 1,
        [](ItemResults& r) { r.bluetoothMac.recorded = true; }}},
      {"reset done, the last item", verdictResetDone, {0x1000},
       {{"     Pass!!   Already Reset!!"}, 0, 1, AbortFailCode, true, false, true, 1,
        [](ItemResults& r) { r.factoryReset = {true, "12"}; }}},
      {"reset done", verdictResetDone, {0x3000},
       {{"     Pass!!   Already Reset!!"}, 0x2000, 1, AbortFailCode, true, false, true, 0,
        [](ItemResults& r) { r.factoryReset = {true, "12"}; }}},
  };
  for (const VerdictCase& c : cases) {
    SCOPED_TRACE(c.name);
    WorkerHarness h;
    start(h, c.setup);
    ItemResults expected = h.worker->record().results;
    if (c.expect.recorded) c.expect.recorded(expected);

    c.verdict(*h.worker);

    const WorkerRecord& r = h.worker->record();
    EXPECT_EQ(h.view.memo, c.expect.memo);
    EXPECT_EQ(r.testItems.load(), c.expect.items);
    EXPECT_EQ(r.verdictWord.load(), c.expect.word);
    EXPECT_EQ(r.runFailCode, c.expect.failCode);
    EXPECT_EQ(r.itemStartTick, c.expect.clockRestarted ? 100 + c.setup.elapsedMs / 1000 : 100);
    EXPECT_EQ(r.commandSent, c.expect.commandSent);
    EXPECT_EQ(r.ttffArmed, c.expect.ttffArmed);
    EXPECT_EQ(h.module->purges, std::vector<Purge>(c.expect.fullPurges, Purge::Full));
    EXPECT_EQ(r.results, expected);
    EXPECT_EQ(h.view.firmwareVersion, c.expect.shownVersion);
    EXPECT_EQ(h.view.bluetoothMac, c.expect.shownMac);
  }
}

TEST(Verdict, NmeaFailShowsTheRateTable) {
  WorkerHarness h;
  start(h, {item::NmeaType, 0,
            [](ItemResults& r) { r.nmeaType.value = "1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*"; }});
  verdictNmeaType(*h.worker);

  const Lines expected = {
      "     Fail(NMEA)!!   Device[1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*], "
      "Check[1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*]",
      "\t==== Device === Check ===",
      "\tGLL :\t1\t1", "\tRMC :\t1\t1", "\tVTG :\t1\t1", "\tGGA :\t1\t1", "\tGSA :\t1\t1",
      "\tGSV :\t5\t1", "\tGRS :\t0\t0", "\tGST :\t0\t0", "\tPLT :\t0\t0", "\tPLP :\t0\t0",
      "\tPLS :\t0\t0", "\tPLI :\t0\t0", "\tPLH :\t0\t0", "\tMALM :\t0\t0", "\tMEPH :\t0\t0",
      "\tMDGP :\t0\t0", "\tMDBG :\t0\t0", "\tZDA :\t1\t0", "\tMCHN :\t0\t0"};
  EXPECT_EQ(h.view.memo, expected);
  EXPECT_EQ(h.worker->record().runFailCode, "NMEA");
  EXPECT_EQ(h.worker->record().testItems.load(), 0u);
  EXPECT_TRUE(h.worker->record().results.nmeaType.recorded);
}

TEST(Verdict, NmeaFailTableKeepsEachRateOnItsLine) {
  // A short or gappy reply: an empty piece stays in place, a missing one is empty.
  WorkerHarness h;
  start(h, {item::NmeaType, 0, [](ItemResults& r) { r.nmeaType.value = "1,,3*"; }});
  verdictNmeaType(*h.worker);

  ASSERT_EQ(h.view.memo.size(), 21u);
  EXPECT_EQ(h.view.memo[2], "\tGLL :\t1\t1");
  EXPECT_EQ(h.view.memo[3], "\tRMC :\t\t1");
  EXPECT_EQ(h.view.memo[4], "\tVTG :\t3\t1");
  EXPECT_EQ(h.view.memo[5], "\tGGA :\t\t1");
  EXPECT_EQ(h.view.memo[20], "\tMCHN :\t\t0");
}

TEST(Verdict, ReplyAfterTheRunIsDecidedChangesNothing) {
  // A failure has emptied the set; replies parsed after it in the same text must not turn the
  // run into a pass or add results.
  for (auto verdict : {verdictAcquisition, verdictBitSync, verdictPhase, verdictTcxo,
                       verdictCnr, verdictBluetooth, verdictTtff, verdictResetDone}) {
    WorkerHarness h;
    start(h, {item::SignalQuality, 0, [](ItemResults& r) { r.phase = {true, "0.50"}; }});
    verdictPhase(*h.worker);  // fails: Fail(Phase)
    const ItemResults before = h.worker->record().results;

    verdict(*h.worker);

    EXPECT_EQ(h.view.memo, Lines{"     Fail(Phase)!!   Phase Ratio:0.50"});
    EXPECT_EQ(h.worker->record().verdictWord.load(), 0u);
    EXPECT_EQ(h.worker->record().results, before);
    EXPECT_EQ(h.worker->record().runFailCode, "Phase");
    EXPECT_EQ(h.module->purges.size(), 1u);
  }
}

}  // namespace
}  // namespace quenby
