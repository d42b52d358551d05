// The headless runner under faults around it: an output nobody reads, the signals that end it, a
// test log that cannot be written, two stations writing into one folder, hostile module texts,
// and command lines and settings files it cannot use as they are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "station_run.h"

namespace quenby::integration {
namespace {

// Runs that last until Stop: an acquisition that comes after a minute.
const std::string kLongRunSettings =
    "[System]\n"
    "Enable_Test=4\n"
    "[Basic]\n"
    "AcqTime_Timeout=120\n";
const std::string kLongRunModules = kQuickModules + "acq_delay=60000\n";
const std::string kHandshake = kEndTestMode + "$PMTK810,0002,1D*4C\r\n";
const std::string kVersionHandshake = kEndTestMode + "$PMTK810,0001,1D*4F\r\n";

// Short runs: the firmware version only.
const std::string kVersionOnlySettings =
    "[System]\n"
    "Enable_Test=2\n"
    "[Basic]\n"
    "Version_Timeout=5\n";

const std::string kAbortedRun = "Fail(Abort)";

// Waits (bounded) until the station has shaken hands with every module of `ports`, as their
// transcripts show.
bool handshakesSent(const StationFolder& station, const std::vector<int>& ports,
                    const std::string& handshake = kHandshake) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    bool all = true;
    for (int port : ports) all = all && station.transcript(port).starts_with(handshake);
    if (all) return true;
    ::usleep(20'000);
  }
  return false;
}

// Waits (bounded) until the module of `port` has taken in everything the station sent it: the
// simulator takes the bytes at the line's pace, after the station has already closed the port.
bool transcriptReaches(const StationFolder& station, int port, const std::string& expected) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (station.transcript(port) != expected && std::chrono::steady_clock::now() < deadline)
    ::usleep(20'000);
  return station.transcript(port) == expected;
}

// The test log's name for a day (the day of the completion).
std::string logNameFor(std::time_t when) {
  std::tm local{};
  ::localtime_r(&when, &local);
  return "Test_Log_" + std::to_string(local.tm_year + 1900) + "." +
         std::to_string(local.tm_mon + 1) + "." + std::to_string(local.tm_mday) + ".csv";
}

void expectAbortedRunsLogged(const StationFolder& station, const std::vector<int>& ports) {
  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, ports.size());
  for (int port : ports) {
    SCOPED_TRACE("COM" + std::to_string(port));
    const auto lines = log.linesByPort.count(port) ? log.linesByPort.at(port) : std::vector<LogRow>{};
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logLineMatches(lines[0], port, "29", {.verdict = kAbortedRun}));
  }
}

TEST(RunnerFaults, OutputThatNobodyReadsDoesNotHoldUpStop) {
  StationFolder station;
  station.writeSettings(kLongRunSettings);
  station.startModules("1-4", kLongRunModules);
  auto process = station.startRun({"--com", "1,2,3,4"}, /*blockedOutput=*/true);
  ASSERT_TRUE(handshakesSent(station, {1, 2, 3, 4}));

  process->signal(SIGINT);
  // Only catches a hang: a runner stuck in its print never ends by itself.
  const int status = process->waitForExit(10s);
  ASSERT_EQ(status, 1) << "quenby-run did not end on SIGINT with its output blocked";
  process->finish(10s);
  EXPECT_NE(station.errors().find("line(s) could not be printed"), std::string::npos)
      << station.errors();
  expectAbortedRunsLogged(station, {1, 2, 3, 4});
  for (int port = 1; port <= 4; ++port)
    EXPECT_TRUE(transcriptReaches(station, port, kHandshake + kEndTestModeFixed))
        << port << ": " << station.transcript(port);
  ASSERT_EQ(station.stopModules(), 0);
}

TEST(RunnerFaults, EveryEndingSignalIsAStop) {
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(::strsignal(number));
    StationFolder station;
    station.writeSettings(kLongRunSettings);
    station.startModules("1,2", kLongRunModules);
    auto process = station.startRun({"--com", "1,2"});
    ASSERT_TRUE(handshakesSent(station, {1, 2}));
    process->signal(number);
    EXPECT_EQ(process->finish(30s), 1);
    EXPECT_EQ(station.errors(), "");
    const PrintedRun printed(process->output());
    for (int port : {1, 2}) {
      EXPECT_EQ(printed.summary.count(port) ? printed.summary.at(port) : "",
                "summary: 1 run(s), 0 passed, 1 failed");
    }
    expectAbortedRunsLogged(station, {1, 2});
    for (int port : {1, 2})
      EXPECT_TRUE(transcriptReaches(station, port, kHandshake + kEndTestModeFixed))
          << port << ": " << station.transcript(port);
    ASSERT_EQ(station.stopModules(), 0);
  }
}

// How often a thread of a process has gone to sleep so far (its voluntary context switches).
long sleepsOfThread(pid_t pid, pid_t thread) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(thread) +
                       "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("voluntary_ctxt_switches:")) return std::stol(line.substr(24));
  return -1;
}

TEST(RunnerFaults, StationWithSilentModulesLetsItsMainThreadSleep) {
  StationFolder station;
  station.writeSettings(kVersionOnlySettings);
  station.startModules("1,2", kQuickModules + "silent=on\n");
  auto process = station.startRun({"--com", "1,2"});
  ASSERT_TRUE(handshakesSent(station, {1, 2}, kVersionHandshake));
  const long before = sleepsOfThread(process->pid(), process->pid());
  // Nothing happens for the version's five seconds of time-out.
  ASSERT_TRUE(process->readUntil(
      [](const std::string& out) {
        return out.find("[COM 1]      Fail(Version)!!   TimeOut!!") != std::string::npos &&
               out.find("[COM 2]      Fail(Version)!!   TimeOut!!") != std::string::npos;
      },
      30s));
  const long after = sleepsOfThread(process->pid(), process->pid());
  EXPECT_EQ(process->finish(30s), 1);
  ASSERT_GE(before, 0);
  // Once a second for the time-out counter and once per hand-off; waking every 50 ms to look
  // for hand-offs would be a hundred times in these five seconds.
  EXPECT_LT(after - before, 40);
  ASSERT_EQ(station.stopModules(), 0);
}

TEST(RunnerFaults, ResultsThatCannotBeRecordedEndTheRoundsWithStatus3) {
  StationFolder station;
  station.writeSettings(kVersionOnlySettings);
  station.startModules("1,2", kQuickModules);
  // The log's name is taken by a folder (today's, and tomorrow's should the run pass midnight).
  const std::time_t now = std::time(nullptr);
  for (std::time_t day : {now, now + 24 * 3600})
    fs::create_directories(station.path() / logNameFor(day));

  const RunResult run = station.run({"--com", "1,2", "--rounds", "3"});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_NE(run.errors.find("results not recorded"), std::string::npos) << run.errors;
  const PrintedRun printed(run.output);
  for (int port : {1, 2}) {
    SCOPED_TRACE("COM" + std::to_string(port));
    // Every run passed, but only the first round ran.
    EXPECT_EQ(printed.summary.count(port) ? printed.summary.at(port) : "",
              "summary: 1 run(s), 1 passed, 0 failed");
    EXPECT_TRUE(memoMatches(printed.memo.count(port) ? printed.memo.at(port)
                                                     : std::vector<std::string>{},
                            joined({{"     Pass!!   [M-core_1.8,0000,,]",
                                     "Cannot write the test log {folder}/Test_Log_{n}.{n}.{n}.csv: Is a directory",
                                     ",Pass,N/A,,COM" + std::to_string(port) +
                                         ",{n}-{n}-{n},{n}:{n}:{n},N/A,\"M-core_1.8,0000,,\",29,"
                                         "N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,{n}"},
                                    finishLines()})));
  }
}

TEST(RunnerFaults, ASecondStationOnOneFolderIsRefusedAndTheFirstLosesNothing) {
  StationFolder station;
  station.writeSettings(kVersionOnlySettings);
  station.startModules("1-4", kQuickModules);
  constexpr int Rounds = 3;
  const fs::path program = station.path() / "quenby-run";
  RunnerProcess first(program, {"--com", "1,2", "--rounds", std::to_string(Rounds)},
                      station.path() / "stderr-first.txt");
  ASSERT_TRUE(first.readUntil(
      [](const std::string& out) { return out.find("[COM 1] ") != std::string::npos; }, 30s))
      << first.output();
  // Other ports, the same folder: its settings, ports and log belong to the first station.
  RunnerProcess second(program, {"--com", "3,4"}, station.path() / "stderr-second.txt");
  EXPECT_EQ(second.finish(30s), 2);
  EXPECT_EQ(first.finish(StationFolder::kRunLimit), 0);

  RunnerProcess third(program, {"--com", "3,4"}, station.path() / "stderr-third.txt");
  EXPECT_EQ(third.finish(StationFolder::kRunLimit), 0);
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_NE(station.errorsOf("stderr-second.txt")
                .find("Another station is already running in " + station.path().string()),
            std::string::npos)
      << station.errorsOf("stderr-second.txt");
  EXPECT_EQ(second.output(), "");
  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, 2u * Rounds + 2u);
  for (int port = 1; port <= 4; ++port)
    EXPECT_EQ(log.linesByPort.count(port) ? log.linesByPort.at(port).size() : 0u,
              port <= 2 ? static_cast<std::size_t>(Rounds) : 1u)
        << port;
}

// A module that answers the version query with a spreadsheet formula and terminal control
// sequences.
TEST(RunnerFaults, HostileModuleTextsReachTheLogAsTextAndTheTerminalEscaped) {
  const std::string hostile = "=HYPERLINK(\"http://x\",\"y\")\x1b[2J\x1b]0;t\x07\x1b[32mPass!!";
  StationFolder station;
  station.writeSettings(kVersionOnlySettings);
  station.startModules("1", kQuickModules + "[COM1]\nversion=" + hostile + "\n");
  const RunResult run = station.run({"--com", "1"});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.output.find_first_of("\x1b\x07"), std::string::npos) << "raw control bytes";
  const std::string shown = "=HYPERLINK(\"http://x\",\"y\")\\x1b[2J\\x1b]0;t\\x07\\x1b[32mPass!!";
  const PrintedRun printed(run.output);
  EXPECT_TRUE(memoMatches(printed.memo.count(1) ? printed.memo.at(1) : std::vector<std::string>{},
                          joined({{"     Fail(Version)!!   Device[" + shown +
                                   "], Check[M-core_1.8,0000,,]"},
                                  finishLines()})));

  const TestLogContents log = readTestLog(station.path());
  ASSERT_EQ(log.lineCount, 1u);
  EXPECT_EQ(log.linesByPort.at(1)[0].at(8),
            "'=HYPERLINK(\"http://x\",\"y\") [2J ]0;t  [32mPass!!");
}

TEST(RunnerFaults, RepeatedPortsAndUnreadableSettingsGetClearAnswers) {
  StationFolder station;
  // A port named twice on the command line is refused before anything runs.
  RunResult run = station.run({"--com", "3,1,3"});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(run.errors.starts_with("quenby-run: --com names port 3 more than once\n"))
      << run.errors;
  EXPECT_EQ(run.output, "");

  // The station's own settings file is a folder: named with the reason, then the defaults
  // (port 1, where no module is).
  fs::create_directory(station.path() / "Torvane.ini");
  run = station.run({"--skip-download"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "quenby-run: Cannot read the settings file '" +
                            (station.path() / "Torvane.ini").string() +
                            "': Is a directory; the defaults are used\n");
  EXPECT_TRUE(memoMatches(PrintedRun(run.output).memo[1],
                          joined({{"     Fail!!   Open ComPort Fail!!",
                                   "     {folder}/ports/COM1: no such device"},
                                  finishLines()})));

  // A settings file named on the command line that cannot be read stops the runner.
  const fs::path loop = station.path() / "loop.ini";
  fs::create_symlink(loop, loop);
  run = station.run({"--settings", loop.string()});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(run.errors.starts_with("quenby-run: cannot read the settings file '" +
                                     loop.string() + "': Too many levels of symbolic links\n"))
      << run.errors;

  // A port repeated in ComSelect runs once; what is left out is named.
  StationFolder chosen;
  chosen.writeSettings("[System]\nComSelect=2,1,2,x,1,\n" + kVersionOnlySettings);
  chosen.startModules("1,2", kQuickModules);
  run = chosen.run({});
  ASSERT_EQ(chosen.stopModules(), 0);
  EXPECT_EQ(run.exitStatus, 0) << run.output;
  EXPECT_EQ(run.errors, "quenby-run: ComSelect=2,1,2,x,1,: left out x (not a port number from 1 "
                        "to 65535); 2, 1 (named before)\n");
  EXPECT_EQ(readTestLog(chosen.path()).lineCount, 2u);
}

}  // namespace
}  // namespace quenby::integration
