// Ports and lines that misbehave, in one run: a port held by another program, a module that
// disappears in the middle of its run, modules on the wrong baud rate, a port without a link,
// beside a good module.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <string>
#include <vector>

#include "station_run.h"

namespace quenby::integration {
namespace {

// Version group, acquisition and bit sync, with short time-outs.
const std::string kShortRunSettings =
    "[System]\n"
    "Enable_Test=532494\n"  // 0x8200E
    "[Basic]\n"
    "Version_Timeout=3\n"
    "NMEA_Timeout=3\n"
    "Hz_Timeout=3\n"
    "AcqTime_Timeout=3\n"
    "BitSync_Timeout=3\n";

const std::vector<std::string> kVersionGroupPass{"     Pass!!   [M-core_1.8,0000,,]",
                                                 "     Pass!!   NMEA ",
                                                 "     Pass!!   UpdateHz:1Hz"};
const std::string kAcqPass = "     Pass!!   Acq SV(29) in {n} sec(s).";
const std::string kVersionText = "M-core_1.8,0000,,";
const std::string kRatesText = "1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*";

// Holds a terminal the way another program would: open and locked.
class HeldTerminal {
 public:
  explicit HeldTerminal(const fs::path& link) {
    fd_ = ::open(fs::read_symlink(link).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~HeldTerminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldTerminal(const HeldTerminal&) = delete;
  HeldTerminal& operator=(const HeldTerminal&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

struct FaultCase {
  const char* name;
  std::string scenario;
  std::vector<std::string> memo;
  LogColumns log;
};

TEST(PortFaults, HeldVanishedAndWrongBaudPortsEndByTheirOwnVerdicts) {
  const std::vector<FaultCase> cases{
      {"held by another program", "",
       {"     Fail!!   Open ComPort Fail!!", "     {folder}/ports/COM1: held by another station"},
       {.verdict = "Fail(ComPort)"}},
      // It goes on for a second after its acquisition: its next sentence releases the reply.
      // Its terminal then hangs up: the port is lost, nothing is blamed on the module's signal.
      {"vanishes after its acquisition", "acq_delay=300\nbitsync_delay=60000\nvanish_after=2\n",
       joined({kVersionGroupPass,
               {kAcqPass, "     Fail!!   ComPort Lost!!",
                "     {folder}/ports/COM2: device gone (hung up)"}}),
       {.verdict = "Fail(ComPort)", .hz = "1", .version = kVersionText, .acq = "{n}",
        .nmea = kRatesText}},
      {"faster UART than the station", "baud=115200\n",
       {"     Fail(Version)!!   TimeOut!! [3]"},
       {.verdict = "Fail(Version)", .version = "Timeout(3)"}},
      {"slower UART than the station", "baud=4800\n",
       {"     Fail(Version)!!   TimeOut!! [3]"},
       {.verdict = "Fail(Version)", .version = "Timeout(3)"}},
      {"good module", "",
       joined({kVersionGroupPass, {kAcqPass, "     Pass!!   Bit Sync in {n} sec(s)."}}),
       {.verdict = "Pass", .hz = "1", .version = kVersionText, .acq = "{n}", .bitSync = "{n}",
        .nmea = kRatesText}},
      // No module is started on the last port: its link does not exist.
      {"no link in the ports folder", "",
       {"     Fail!!   Open ComPort Fail!!", "     {folder}/ports/COM6: no such device"},
       {.verdict = "Fail(ComPort)"}},
  };

  std::string scenario = kQuickModules;
  for (std::size_t i = 0; i < cases.size(); ++i)
    scenario += "[COM" + std::to_string(i + 1) + "]\n" + cases[i].scenario;

  StationFolder station;
  station.writeSettings(kShortRunSettings);
  station.startModules("1-5", scenario);
  ASSERT_FALSE(fs::exists(fs::symlink_status(station.portLink(6))));
  RunResult run;
  {
    HeldTerminal other(station.portLink(1));
    ASSERT_TRUE(other.held());
    run = station.run({"--com", "1,2,3,4,5,6"});
  }

  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");
  const PrintedRun printed(run.output);
  EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, cases.size());

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const int port = static_cast<int>(i + 1);
    SCOPED_TRACE("COM" + std::to_string(port) + ": " + cases[i].name);
    const auto memo = printed.memo.count(port) ? printed.memo.at(port) : std::vector<std::string>{};
    EXPECT_TRUE(memoMatches(memo, joined({cases[i].memo, finishLines()})));
    EXPECT_EQ(printed.summary.count(port), 1u);
    const auto lines = log.linesByPort.count(port) ? log.linesByPort.at(port)
                                                   : std::vector<LogRow>{};
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logLineMatches(lines[0], port, "29", cases[i].log));
  }

  // The module that vanished took its link with it; the others are still in place.
  EXPECT_FALSE(fs::exists(fs::symlink_status(station.portLink(2))));
  for (int port : {1, 3, 4, 5}) EXPECT_TRUE(fs::is_symlink(station.portLink(port))) << port;

  ASSERT_EQ(station.stopModules(), 0);
  // Nothing reaches a port that could not be opened.
  EXPECT_EQ(station.transcript(1), "");
  // The wrong-baud modules did not understand it, but the station did send its sentences.
  EXPECT_EQ(station.transcript(3), kEndTestMode + "$PMTK810,0007,1D*49\r\n" + kEndSentences);
}

}  // namespace
}  // namespace quenby::integration
