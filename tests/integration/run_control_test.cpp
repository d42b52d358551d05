// Run control of the headless station over real ports: several rounds on the same workers, and
// Stop (SIGINT) in the middle of runs.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "station_run.h"

namespace quenby::integration {
namespace {

const std::vector<std::string> kVersionGroupPass{"     Pass!!   [M-core_1.8,0000,,]",
                                                 "     Pass!!   NMEA ",
                                                 "     Pass!!   UpdateHz:1Hz"};
const std::string kAcqPass = "     Pass!!   Acq SV(29) in {n} sec(s).";
const std::string kVersionMismatch =
    "     Fail(Version)!!   Device[M-core_1.9,0000,,], Check[M-core_1.8,0000,,]";
const std::string kVersionText = "M-core_1.8,0000,,";
const std::string kRatesText = "1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*";

std::vector<std::string> memoOf(const PrintedRun& printed, int port) {
  return printed.memo.count(port) ? printed.memo.at(port) : std::vector<std::string>{};
}

std::vector<LogRow> logOf(const TestLogContents& log, int port) {
  return log.linesByPort.count(port) ? log.linesByPort.at(port) : std::vector<LogRow>{};
}

TEST(RunControl, SecondRoundRunsAgainOnTheSameWorkers) {
  StationFolder station;
  station.writeSettings(
      "[System]\n"
      "Enable_Test=532486\n"  // 0x82006: version group and acquisition
      "[Basic]\n"
      "Version_Timeout=3\n"
      "AcqTime_Timeout=3\n");
  station.startModules("1,2", kQuickModules + "[COM2]\nversion=M-core_1.9,0000,,\n");
  const RunResult run = station.run({"--com", "1,2", "--rounds", "2"});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  PrintedRun printed(run.output);
  const auto passRun = joined({kVersionGroupPass, {kAcqPass}, finishLines()});
  const auto failRun = joined({{kVersionMismatch}, finishLines()});
  EXPECT_TRUE(memoMatches(memoOf(printed, 1), joined({passRun, passRun})));
  EXPECT_TRUE(memoMatches(memoOf(printed, 2), joined({failRun, failRun})));
  EXPECT_EQ(printed.summary[1], "summary: 2 run(s), 2 passed, 0 failed");
  EXPECT_EQ(printed.summary[2], "summary: 2 run(s), 0 passed, 2 failed");

  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, 4u);
  const auto passLines = logOf(log, 1);
  const auto failLines = logOf(log, 2);
  ASSERT_EQ(passLines.size(), 2u);
  ASSERT_EQ(failLines.size(), 2u);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    EXPECT_TRUE(logLineMatches(passLines[round], 1, "29",
                               {.verdict = "Pass", .hz = "1", .version = kVersionText,
                                .acq = "{n}", .nmea = kRatesText}));
    EXPECT_TRUE(logLineMatches(failLines[round], 2, "29",
                               {.verdict = "Fail(Version)", .version = "M-core_1.9,0000,,"}));
  }

  // Each round opens the port, shakes hands and ends with the end sentences.
  const std::string oneRun = kEndTestMode + "$PMTK810,0003,1D*4D\r\n" + kEndSentences;
  EXPECT_EQ(station.transcript(1), oneRun + oneRun);
  EXPECT_EQ(station.transcript(2), oneRun + oneRun);
}

TEST(RunControl, InterruptStopsEveryPortAndLogsEachRunOnce) {
  StationFolder station;
  // Version group, acquisition, bit sync and factory reset; nothing times out before Stop.
  station.writeSettings(
      "[System]\n"
      "Enable_Test=536590\n"  // 0x8300E
      "[Basic]\n"
      "Version_Timeout=60\n"
      "NMEA_Timeout=60\n"
      "Hz_Timeout=60\n"
      "AcqTime_Timeout=60\n"
      "BitSync_Timeout=60\n"
      "Reset_Timeout=60\n");
  station.startModules("1-4", kQuickModules +
                                  "[COM1]\nacq_delay=60000\n"
                                  "[COM2]\nversion=M-core_1.9,0000,,\n"
                                  "[COM3]\nsilent=on\n"
                                  "[COM4]\nacq_delay=300\nbitsync_delay=300\nreset_reply=off\n");

  auto process = station.startRun({"--com", "1,2,3,4"});
  // Stop once COM2 has finished its run and COM4 waits for the module's restart.
  const bool reached = process->readUntil(
      [](const std::string& out) {
        return out.find("[COM 2] " + std::string(48, '*')) != std::string::npos &&
               out.find("[COM 4] [Factory Reset]") != std::string::npos;
      },
      30s);
  EXPECT_TRUE(reached) << process->output();
  const auto stopAt = std::chrono::steady_clock::now();
  process->signal(SIGINT);
  const int status = process->finish(30s);
  const auto stopTook = std::chrono::steady_clock::now() - stopAt;

  EXPECT_EQ(status, 1);
  EXPECT_EQ(station.errors(), "");
  // Only catches a hang: Stop does not wait for any item's time-out.
  EXPECT_LT(stopTook, 15s);

  PrintedRun printed(process->output());
  EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
  EXPECT_TRUE(memoMatches(memoOf(printed, 1), joined({kVersionGroupPass, finishLines()})));
  EXPECT_TRUE(memoMatches(memoOf(printed, 2), joined({{kVersionMismatch}, finishLines()})));
  EXPECT_TRUE(memoMatches(memoOf(printed, 3), finishLines()));
  EXPECT_TRUE(memoMatches(memoOf(printed, 4),
                          joined({kVersionGroupPass,
                                  {kAcqPass, "     Pass!!   Bit Sync in {n} sec(s).",
                                   repeated("[Factory Reset]")},
                                  finishLines()})));
  for (int port = 1; port <= 4; ++port)
    EXPECT_EQ(printed.summary[port], "summary: 1 run(s), 0 passed, 1 failed") << port;

  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, 4u);
  const std::vector<LogColumns> expected{
      {.verdict = "Fail(Abort)", .hz = "1", .version = kVersionText, .nmea = kRatesText},
      {.verdict = "Fail(Version)", .version = "M-core_1.9,0000,,"},
      {.verdict = "Fail(Abort)"},
      {.verdict = "Fail(Abort)", .hz = "1", .version = kVersionText, .acq = "{n}",
       .bitSync = "{n}", .nmea = kRatesText},
  };
  for (int port = 1; port <= 4; ++port) {
    SCOPED_TRACE("COM" + std::to_string(port));
    const auto lines = logOf(log, port);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logLineMatches(lines[0], port, "29", expected[port - 1]));
  }

  // The links stay as they were: the next run finds its ports.
  for (int port = 1; port <= 4; ++port) {
    ASSERT_TRUE(fs::is_symlink(station.portLink(port))) << port;
    EXPECT_TRUE(fs::read_symlink(station.portLink(port)).string().starts_with("/dev/pts/"));
  }
  for (int port = 1; port <= 4; ++port)
    EXPECT_TRUE(station.transcriptEndsWith(port, port == 2 ? kEndSentences : kEndTestModeFixed))
        << port;
  ASSERT_EQ(station.stopModules(), 0);

  // Stop tells every open port to leave the test mode and sends no end sentences; a port whose
  // run had already ended hears nothing more.
  const std::string handshake = kEndTestMode + "$PMTK810,0007,1D*49\r\n";
  EXPECT_EQ(station.transcript(1), handshake + kEndTestModeFixed);
  EXPECT_EQ(station.transcript(2), handshake + kEndSentences);
  EXPECT_EQ(station.transcript(3), handshake + kEndTestModeFixed);
  std::string resets = station.transcript(4);
  ASSERT_TRUE(resets.starts_with(handshake));
  ASSERT_TRUE(resets.ends_with(kEndTestModeFixed));
  resets = resets.substr(handshake.size(), resets.size() - handshake.size() - kEndTestModeFixed.size());
  EXPECT_FALSE(resets.empty());
  while (resets.starts_with(kFactoryResetFixed)) resets.erase(0, kFactoryResetFixed.size());
  EXPECT_EQ(resets, "");
}

}  // namespace
}  // namespace quenby::integration
