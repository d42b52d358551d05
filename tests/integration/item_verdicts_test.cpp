// Every test item's pass, fail and time-out over real pseudo-terminals: sixteen simulated modules,
// each with its own fault, run at once by quenby-run; each port's memo and log line must be the
// one its module earns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station_run.h"

namespace quenby::integration {
namespace {

// Every item but Flash Download, on satellite 12, with short time-outs.
const std::string kAllItemsSettings =
    "[System]\n"
    "Enable_Test=536670\n"  // 0x8305E
    "[Basic]\n"
    "SVid=12\n"
    "Version_Timeout=3\n"
    "NMEA_Timeout=3\n"
    "Hz_Timeout=3\n"
    "AcqTime_Timeout=3\n"
    "BitSync_Timeout=3\n"
    "Signal_Timeout=3\n"
    "ColdStart_Timeout=6\n"
    "Reset_Timeout=4\n";

// A reply that the module would send after a minute never comes within the run.
constexpr const char* kNever = "60000";

// ---- Memo lines of the items passing ---------------------------------------------------------

const std::vector<std::string> kVersionPass{"     Pass!!   [M-core_1.8,0000,,]"};
const std::vector<std::string> kNmeaPass{"     Pass!!   NMEA "};
const std::vector<std::string> kHzPass{"     Pass!!   UpdateHz:1Hz"};
const std::vector<std::string> kAcqPass{"     Pass!!   Acq SV(12) in {n} sec(s)."};
const std::vector<std::string> kBitSyncPass{"     Pass!!   Bit Sync in {n} sec(s)."};
const std::vector<std::string> kPhasePass{"     Pass!!   Phase Ratio:0.95"};
const std::vector<std::string> kTcxoPass{
    "     Pass!!   TCXO Offset(Hz):12.345   ,Drift(Hz/sec):0.123"};
const std::vector<std::string> kCnrPass{"     Pass!!   SV(12) CNR:42.5   ,Dev:0.6"};
const std::vector<std::string> kColdStartPass{"[Cold Start TTFF]",
                                              "     Pass!!   Cold Start TTFF : {n}"};
const std::vector<std::string> kResetPass{"[Factory Reset]", "     Pass!!   Already Reset!!"};

const std::vector<std::string> kVersionGroupPass = joined({kVersionPass, kNmeaPass, kHzPass});
const std::vector<std::string> kSignalPass = joined({kPhasePass, kTcxoPass, kCnrPass});
const std::vector<std::string> kUpToSignalPass =
    joined({kVersionGroupPass, kAcqPass, kBitSyncPass, kSignalPass});

const std::string kVersionText = "\"M-core_1.8,0000,,\"";
const std::string kRatesText = "\"1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*\"";

// The log line of a module that passes everything up to and including Signal Quality.
LogColumns passedUpToSignal(std::string verdict) {
  return LogColumns{.verdict = std::move(verdict), .hz = "1", .version = kVersionText,
                    .acq = "{n}", .bitSync = "{n}", .phase = "0.95", .tcxoOffset = "12.345",
                    .tcxoDrift = "0.123", .cnrMean = "42.5", .cnrSigma = "0.6",
                    .nmea = kRatesText};
}

LogColumns passedAll() {
  LogColumns c = passedUpToSignal("Pass");
  c.cttff = "{n}";
  c.reset = "{n}";
  return c;
}

struct ItemCase {
  const char* name;
  std::string scenario;  // the port's own scenario keys
  std::vector<std::string> memo;
  LogColumns log;
};

std::vector<ItemCase> itemCases() {
  LogColumns versionTimeout = passedUpToSignal("Fail(Version)");
  versionTimeout.version = "\"Timeout(3)\"";
  LogColumns nmeaTimeout = passedUpToSignal("Fail(NMEA)");
  nmeaTimeout.nmea = "\"Timeout(3)\"";
  LogColumns hzTimeout = passedUpToSignal("Fail(UpdateHz)");
  hzTimeout.hz = "0";  // no rate was measured
  LogColumns cttffTimeout = passedUpToSignal("Fail(CTTFF)");
  cttffTimeout.cttff = "Timeout(6)";
  LogColumns resetTimeout = passedUpToSignal("Fail(Reset)");
  resetTimeout.cttff = "{n}";
  resetTimeout.reset = "Timeout(4)";

  return {
      {"every item passes", "", joined({kUpToSignalPass, kColdStartPass, kResetPass}),
       passedAll()},
      {"firmware version differs", "version=M-core_1.9,0000,,\n",
       {"     Fail(Version)!!   Device[M-core_1.9,0000,,], Check[M-core_1.8,0000,,]"},
       {.verdict = "Fail(Version)", .version = "\"M-core_1.9,0000,,\""}},
      // The later replies still come and pass; each pass restarts the clock of the item that
      // is still waiting.
      {"firmware version never comes", std::string("version_delay=") + kNever + "\n",
       joined({kNmeaPass, kHzPass, kAcqPass, kBitSyncPass, kSignalPass,
               {"     Fail(Version)!!   TimeOut!! [3]"}}),
       versionTimeout},
      {"output rates differ", "output_rates=1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0\n",
       joined({kVersionPass,
               {"     Fail(NMEA)!!   Device[1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*], "
                "Check[1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*]",
                "\t==== Device === Check ===", "\tGLL :\t1\t1", "\tRMC :\t1\t1",
                "\tVTG :\t1\t1", "\tGGA :\t1\t1", "\tGSA :\t1\t1", "\tGSV :\t5\t1",
                "\tGRS :\t0\t0", "\tGST :\t0\t0", "\tPLT :\t0\t0", "\tPLP :\t0\t0",
                "\tPLS :\t0\t0", "\tPLI :\t0\t0", "\tPLH :\t0\t0", "\tMALM :\t0\t0",
                "\tMEPH :\t0\t0", "\tMDGP :\t0\t0", "\tMDBG :\t0\t0", "\tZDA :\t1\t0",
                "\tMCHN :\t0\t0"}}),
       {.verdict = "Fail(NMEA)", .version = kVersionText,
        .nmea = "\"1,1,1,1,1,5,0,0,0,0,0,0,0,0,0,0,0,1,0*\""}},
      {"output rates never come", std::string("rates_delay=") + kNever + "\n",
       joined({kVersionPass, kHzPass, kAcqPass, kBitSyncPass, kSignalPass,
               {"     Fail(NMEA)!!   TimeOut!! [3]"}}),
       nmeaTimeout},
      {"fix interval differs", "fix_interval=200\n",
       joined({kVersionPass, kNmeaPass, {"    Fail!!   UpdateHz:5Hz,Check1Hz"}}),
       {.verdict = "Fail(UpdateHz)", .hz = "5", .version = kVersionText, .nmea = kRatesText}},
      {"fix interval never comes", std::string("interval_delay=") + kNever + "\n",
       joined({kVersionPass, kNmeaPass, kAcqPass, kBitSyncPass, kSignalPass,
               {"     Fail(UpdateHz)!!   TimeOut!! [3]"}}),
       hzTimeout},
      {"no acquisition", std::string("acq_delay=") + kNever + "\n",
       joined({kVersionGroupPass, {"     Fail(Acq)!!   TimeOut!! [3]"}}),
       {.verdict = "Fail(Acq)", .hz = "1", .version = kVersionText, .acq = "Timeout(3)",
        .nmea = kRatesText}},
      {"no bit sync", std::string("bitsync_delay=") + kNever + "\n",
       joined({kVersionGroupPass, kAcqPass, {"     Fail(BitSync)!!   TimeOut!! [3]"}}),
       {.verdict = "Fail(BitSync)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .bitSync = "Timeout(3)", .nmea = kRatesText}},
      {"phase ratio too low", "phase=0.5\n",
       joined({kVersionGroupPass, kAcqPass, kBitSyncPass,
               {"     Fail(Phase)!!   Phase Ratio:0.50"}}),
       {.verdict = "Fail(Phase)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .bitSync = "{n}", .phase = "0.50", .nmea = kRatesText}},
      {"TCXO offset too large", "tcxo_offset=-50.5\n",
       joined({kVersionGroupPass, kAcqPass, kBitSyncPass, kPhasePass,
               {"     Fail(TCXO)!!   TCXO Offset(Hz):-50.500   ,Drift(Hz/sec):0.123"}}),
       {.verdict = "Fail(TCXO)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .bitSync = "{n}", .phase = "0.95", .tcxoOffset = "-50.500", .tcxoDrift = "0.123",
        .nmea = kRatesText}},
      {"CNR too low", "cnr_mean=35.2\n",
       joined({kVersionGroupPass, kAcqPass, kBitSyncPass, kPhasePass, kTcxoPass,
               {"     Fail(CNR)!!   SV(12) CNR35.2   ,Dev:0.6"}}),
       {.verdict = "Fail(CNR)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .bitSync = "{n}", .phase = "0.95", .tcxoOffset = "12.345", .tcxoDrift = "0.123",
        .cnrMean = "35.2", .cnrSigma = "0.6", .nmea = kRatesText}},
      // Signal Quality times out one second after its setting.
      {"no signal quality report", std::string("signal_delay=") + kNever + "\n",
       joined({kVersionGroupPass, kAcqPass, kBitSyncPass, {"     Fail(CNR)!!   TimeOut!! [4]"}}),
       {.verdict = "Fail(CNR)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .bitSync = "{n}", .phase = "Timeout(3)", .tcxoOffset = "Timeout(3)",
        .tcxoDrift = "Timeout(3)", .cnrMean = "Timeout(3)", .cnrSigma = "Timeout(3)",
        .nmea = kRatesText}},
      {"no fix after the cold restart", "ttff=60\n",
       joined({kUpToSignalPass, {"[Cold Start TTFF]", "     Fail(CTTFF)!!   TimeOut!! [6]"}}),
       cttffTimeout},
      // The reset command goes out again (with its header) until the time-out.
      {"no start-up message after the factory reset", "reset_reply=off\n",
       joined({kUpToSignalPass, kColdStartPass,
               {repeated("[Factory Reset]"), "     Fail(Reset)!!   TimeOut!! [4]"}}),
       resetTimeout},
      {"start-up message in two pieces", "startup_split_at=9\n",
       joined({kUpToSignalPass, kColdStartPass, kResetPass}), passedAll()},
  };
}

std::string scenarioFor(const std::vector<ItemCase>& cases) {
  std::string scenario = kQuickModules;
  for (std::size_t i = 0; i < cases.size(); ++i)
    scenario += "[COM" + std::to_string(i + 1) + "]\n" + cases[i].scenario;
  return scenario;
}

int takeSeconds(const std::vector<std::string>& memo) {
  for (const auto& line : memo)
    if (line.starts_with("     Take(")) return std::stoi(line.substr(10));
  return -1;
}

TEST(ItemVerdicts, SixteenModulesEachEarnTheirOwnMemoAndLogLine) {
  const std::vector<ItemCase> cases = itemCases();
  ASSERT_EQ(cases.size(), 16u);

  StationFolder station;
  station.writeSettings(kAllItemsSettings);
  station.startModules("1-16", scenarioFor(cases));
  const RunResult run = station.run({"--com", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  const PrintedRun printed(run.output);
  EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, cases.size());

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ItemCase& c = cases[i];
    const int port = static_cast<int>(i + 1);
    SCOPED_TRACE("COM" + std::to_string(port) + ": " + c.name);
    const auto& memo = printed.memo.count(port) ? printed.memo.at(port) : std::vector<std::string>{};
    EXPECT_TRUE(memoMatches(memo, joined({c.memo, finishLines()})));

    const bool passes = c.log.verdict == "Pass";
    EXPECT_EQ(printed.summary.count(port) ? printed.summary.at(port) : "",
              passes ? "summary: 1 run(s), 1 passed, 0 failed"
                     : "summary: 1 run(s), 0 passed, 1 failed");

    const auto lines = log.linesByPort.count(port) ? log.linesByPort.at(port)
                                                   : std::vector<std::string>{};
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logLineMatches(lines[0], port, "12", c.log));
    // The log's total time is the one the memo reported.
    EXPECT_EQ(csvColumns(lines[0]).back(), std::to_string(takeSeconds(memo)));
  }

  // What the station sent: the handshake (flags 000F: version group, acquisition, bit sync,
  // signal quality; satellite 0C), then the items' own commands, then the end sentences.
  const std::string handshake = kEndTestMode + "$PMTK810,000F,0C*3E\r\n";
  EXPECT_EQ(station.transcript(1),
            handshake + kColdRestartCommands + kFactoryResetFixed + kEndSentences);
  EXPECT_EQ(station.transcript(2), handshake + kEndSentences);

  // Without the start-up message the reset command is repeated until the time-out.
  const std::string resent = station.transcript(15);
  const std::string before = handshake + kColdRestartCommands;
  ASSERT_TRUE(resent.starts_with(before));
  ASSERT_TRUE(resent.ends_with(kEndSentences));
  std::string between = resent.substr(before.size(), resent.size() - before.size() - kEndSentences.size());
  int resets = 0;
  while (between.starts_with(kFactoryResetFixed)) {
    between.erase(0, kFactoryResetFixed.size());
    ++resets;
  }
  EXPECT_EQ(between, "");
  EXPECT_GE(resets, 2);
}

// A module that a run used to hold or fail although it earned a pass: an item set with a bit that
// no item handles (Enable_Test 8226 = 0x2002 | 0x20, here with UpdateHZ), a firmware version of
// 56 characters, and a fix interval of 333 ms against Update_Hz 3. The run ends, and passes.
TEST(ItemVerdicts, LongVersionAtThreeHertzWithAStrayItemBitPasses) {
  const std::string version = "QNB-EXT_5.1.7_3333_23021500,0001,QZ3329-GLONASS,SDK1.3.2";
  StationFolder station;
  station.writeSettings("[System]\n"
                        "Enable_Test=532514\n"  // 0x80000 | 8226
                        "[Basic]\n"
                        "Update_Hz=3\n"
                        "Version_MTK=QNB-EXT_5.1.7_3333_23021500\n"
                        "Version_Customer=0001\n"
                        "Version_Product_Model=QZ3329-GLONASS\n"
                        "Version_SDKver=SDK1.3.2\n"
                        "Version_Timeout=3\n"
                        "NMEA_Timeout=3\n"
                        "Hz_Timeout=3\n");
  station.startModules("7", kQuickModules + "[COM7]\nversion=" + version + "\nfix_interval=333\n");
  const RunResult run = station.run({"--com", "7"});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.errors, "");
  const PrintedRun printed(run.output);
  EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
  const auto memo = printed.memo.count(7) ? printed.memo.at(7) : std::vector<std::string>{};
  EXPECT_TRUE(memoMatches(memo, joined({{"     Pass!!   [" + version + "]"}, kNmeaPass,
                                        {"     Pass!!   UpdateHz:3.00300312042236Hz"},
                                        finishLines()})));
  const TestLogContents log = readTestLog(station.path());
  const auto lines = log.linesByPort.count(7) ? log.linesByPort.at(7) : std::vector<std::string>{};
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(logLineMatches(lines[0], 7, "29",
                             {.verdict = "Pass", .hz = "3.00300312042236",
                              .version = "\"" + version + "\"", .nmea = kRatesText}));
}

}  // namespace
}  // namespace quenby::integration
