// The real quenby-modsim on a temporary ports folder, talked to through the station's own serial
// port class, the way the station's workers talk to a module.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/nmea_fields.h"
#include "engine/nmea_sentence.h"
#include "engine/posix_serial_port.h"
#include "fakes/temp_folder.h"
#include "simulator_process.h"

namespace quenby::modsim {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using quenby::testing::TempFolder;
using testing::SimulatorProcess;

// Replies come quickly; everything else stays the module's own.
constexpr const char* kQuickScenario =
    "[default]\n"
    "version_delay=50\n"
    "rates_delay=60\n"
    "interval_delay=70\n"
    "acq_delay=300\n"
    "bitsync_delay=200\n"
    "signal_delay=200\n"
    "bt_mac=0A1B2C3D4E5F\n"
    "reset_delay=100\n";

// What the station read during `span`, one read of the serial port after the other.
struct Received {
  std::vector<std::string> chunks;

  std::string all() const {
    std::string text;
    for (const std::string& c : chunks) text += c;
    return text;
  }
  // The lines that pass the station's checksum test.
  std::vector<std::string> validSentences() const {
    std::vector<std::string> valid;
    const std::string text = all();
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find_first_of("\r\n", start);
      const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (line.starts_with('$') && sentenceChecksumOk(line)) valid.push_back(line);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return valid;
  }
  bool hasValid(std::string_view start) const {
    for (const std::string& s : validSentences())
      if (s.starts_with(start)) return true;
    return false;
  }
};

Received readFor(PosixSerialPort& port, std::chrono::milliseconds span) {
  Received received;
  const auto end = std::chrono::steady_clock::now() + span;
  char buffer[ReadChunkMax];
  while (std::chrono::steady_clock::now() < end) {
    const std::size_t n = port.read(buffer, sizeof buffer);
    received.chunks.emplace_back(buffer, n);
  }
  return received;
}

// What the station read until `done` holds for it, or until `limit` has passed.
Received readUntil(PosixSerialPort& port, const std::function<bool(const Received&)>& done,
                   std::chrono::milliseconds limit = 10s) {
  Received received;
  const auto end = std::chrono::steady_clock::now() + limit;
  char buffer[ReadChunkMax];
  while (!done(received) && std::chrono::steady_clock::now() < end) {
    const std::size_t n = port.read(buffer, sizeof buffer);
    received.chunks.emplace_back(buffer, n);
  }
  return received;
}

class Simulator : public ::testing::Test {
 protected:
  fs::path ports() const { return folder.path() / "ports"; }
  fs::path transcripts() const { return folder.path() / "transcripts"; }

  // Starts the simulator on `com` with the scenario text and waits for it to be ready.
  std::unique_ptr<SimulatorProcess> start(const std::string& com, const std::string& scenario = kQuickScenario) {
    folder.write("scenario.ini", scenario);
    auto process = std::make_unique<SimulatorProcess>(std::vector<std::string>{
        "--ports-dir", ports().string(), "--com", com, "--scenario", (folder / "scenario.ini").string(),
        "--transcript-dir", transcripts().string()});
    EXPECT_EQ(process->waitForReady(), "ready\n");
    return process;
  }

  TempFolder folder;
};

TEST_F(Simulator, StartSentenceBringsEveryRequestedReply) {
  auto sim = start("3,5");
  EXPECT_TRUE(fs::is_symlink(ports() / "COM3"));
  EXPECT_TRUE(fs::is_symlink(ports() / "COM5"));

  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(3, 38400));
  port.writeText(EndTestModeSentence);
  port.writeText(startSentence(0x000F, 0x1D));
  const std::vector<std::string_view> replies{
      "$PMTK705,M-core_1.8,0000,,*", "$PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*",
      "$PMTK500,1000,0,0,0,0*", "$PMTK592,0A1B2C3D4E5F*", "$PMTK813*", "$PMTK814*",
      "$PMTK815,29,1,95,12345,123,4250,60*", "$GPRMC,", "$GPGSV,"};
  const Received received = readUntil(port, [&](const Received& r) {
    return std::all_of(replies.begin(), replies.end(), [&](std::string_view reply) { return r.hasValid(reply); });
  });
  port.writeFixed(EndTestModeSentence);

  for (std::string_view reply : replies) EXPECT_TRUE(received.hasValid(reply)) << reply;
  EXPECT_EQ(received.all().find('\0'), std::string::npos);

  // The transcript holds the station's bytes as they were sent, the zero byte included (once the
  // simulator has taken the last sentence: waited for, bounded).
  const std::string sent =
      std::string(EndTestModeSentence) + startSentence(0x000F, 0x1D) + std::string(EndTestModeSentence) + '\0';
  for (int i = 0; i < 500 && folder.read("transcripts/COM3.txt") != sent; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_EQ(folder.read("transcripts/COM3.txt"), sent);
  EXPECT_EQ(folder.read("transcripts/COM5.txt"), "");
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, WrongBaudRateGivesNoValidSentence) {
  auto sim = start("4", std::string(kQuickScenario) + "[COM4]\nbaud=115200\n");
  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(4, 38400));
  port.writeText(startSentence(0x0001, 0x01));
  // The first read may still hold a slice the module sent just as the station changed the rate.
  readFor(port, 300ms);
  const Received wrong = readFor(port, 1200ms);
  EXPECT_GT(wrong.all().size(), 0u);                     // the line is not quiet ...
  EXPECT_EQ(wrong.all().find('$'), std::string::npos);  // ... but nothing in it is a sentence

  ASSERT_TRUE(port.open(4, 115200));
  port.writeText(startSentence(0x0001, 0x01));
  const Received right =
      readUntil(port, [](const Received& r) { return r.hasValid("$PMTK705,") && r.hasValid("$GPGGA,"); });
  EXPECT_TRUE(right.hasValid("$PMTK705,"));
  EXPECT_TRUE(right.hasValid("$GPGGA,"));
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, OutputIsPacedToTheBaudRate) {
  // 4800 baud carries 480 bytes a second; the module's default output is more than that.
  auto sim = start("6", "[COM6]\nbaud=4800\n");
  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(6, 4800));
  const Received received = readFor(port, 2100ms);
  const std::size_t bytes = received.all().size();
  EXPECT_GT(bytes, 480u);
  EXPECT_LT(bytes, 480u * 21 / 10 + 100);
  EXPECT_TRUE(received.hasValid("$GPGGA,"));
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, StartupMessageSplitAcrossReadsAfterFactoryReset) {
  auto sim = start("7", std::string(kQuickScenario) + "startup_split_at=9\nsplit_pause=700\n");
  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(7, 38400));
  port.writeFixed(FactoryResetSentence);
  const Received received = readUntil(
      port, [](const Received& r) { return r.all().find("$PMTK010,001*2E\r\n") != std::string::npos; });
  EXPECT_NE(received.all().find("$PMTK010,001*2E\r\n"), std::string::npos) << received.all();
  for (const std::string& chunk : received.chunks) EXPECT_EQ(chunk.find(StartupMessage), std::string::npos);
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, VanishingModuleTakesItsLinkAway) {
  auto sim = start("8,9", std::string(kQuickScenario) + "[COM8]\nvanish_after=0.2\n");
  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(8, 38400));
  port.writeText(startSentence(0x0001, 0x01));
  // Until the link is gone and what the module sent before has been read.
  readUntil(port, [&](const Received& r) {
    return !fs::exists(fs::symlink_status(ports() / "COM8")) && !r.chunks.empty() && r.chunks.back().empty();
  });
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports() / "COM8")));
  EXPECT_EQ(readFor(port, 400ms).all(), "");
  port.close();
  EXPECT_FALSE(port.open(8, 38400));
  EXPECT_TRUE(fs::is_symlink(ports() / "COM9"));  // the other module carries on
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, SilentModuleSendsNothing) {
  auto sim = start("10", "[COM10]\nsilent=on\n");
  PosixSerialPort port(ports());
  ASSERT_TRUE(port.open(10, 38400));
  port.writeText(startSentence(0x000F, 0x01));
  EXPECT_EQ(readFor(port, 1200ms).all(), "");
  EXPECT_EQ(sim->stop(), 0);
}

TEST_F(Simulator, StopSignalsRemoveTheLinks) {
  for (int signal : {SIGTERM, SIGINT}) {
    auto sim = start("1-3");
    // A station holding a port open does not keep the link alive.
    PosixSerialPort port(ports());
    ASSERT_TRUE(port.open(2, 38400));
    EXPECT_EQ(sim->stop(signal), 0) << signal;
    for (const char* name : {"COM1", "COM2", "COM3"})
      EXPECT_FALSE(fs::exists(fs::symlink_status(ports() / name))) << name;
  }
}

TEST_F(Simulator, ReplacesAStaleLinkButNeverAFile) {
  fs::create_directories(ports());
  fs::create_symlink("/dev/pts/nonexistent", ports() / "COM1");
  auto sim = start("1");
  EXPECT_NE(fs::read_symlink(ports() / "COM1"), "/dev/pts/nonexistent");
  EXPECT_EQ(sim->stop(), 0);

  folder.write("ports/COM2", "not a terminal");
  SimulatorProcess refused({"--ports-dir", ports().string(), "--com", "1,2"});
  EXPECT_EQ(refused.waitForExit(), 1);
  EXPECT_EQ(folder.read("ports/COM2"), "not a terminal");
  EXPECT_FALSE(fs::exists(fs::symlink_status(ports() / "COM1")));  // the link made first is gone again
}

TEST_F(Simulator, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--com", "3"},
      {"--ports-dir", ports().string()},
      {"--ports-dir", ports().string(), "--com", "0"},
      {"--ports-dir", ports().string(), "--com", "3", "--scenario", (folder / "missing.ini").string()},
  };
  for (const auto& args : cases) {
    SimulatorProcess sim(args);
    EXPECT_EQ(sim.waitForExit(), 2) << args.size() << " arguments";
  }
  EXPECT_FALSE(fs::exists(ports() / "COM3"));
}

}  // namespace
}  // namespace quenby::modsim
