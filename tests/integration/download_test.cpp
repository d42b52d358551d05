// Firmware download through the modules' boot ROM over real pseudo-terminals: sixteen modules
// take a small image at once and then report its version; each way the boot ROM or the Download
// Agent can fail ends its port's run with its own memo line and log entry; Stop aborts a download
// in the middle; the runner refuses a Download Agent or image that fails its check.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "station_run.h"

namespace quenby::integration {
namespace {

// The version text the test image carries; the modules report another one until they get it.
const std::string kImageVersion = "QNB-TEST_3.0,0007,QZ3329,SDK1.4";

// Writes the Download Agent, the layout and an image of `imageBytes` into firmware/ of the
// station folder, and the layout beside quenby-run, where the station reads it.
void writeFirmware(const StationFolder& station, std::size_t imageBytes) {
  RunnerProcess mkdemo(QUENBY_MKDEMO_PATH,
                       {"--out", (station.path() / "firmware").string(), "--image-size",
                        std::to_string(imageBytes), "--version", kImageVersion},
                       station.path() / "mkdemo.txt");
  ASSERT_EQ(mkdemo.finish(10s), 0);
  fs::copy_file(station.path() / "firmware" / "scat.txt", station.path() / "scat.txt");
}

// Flash Download and Firmware Version; the download at 921600 baud unless another
// Baudrate_Update is given. The version's clock starts when the download passes, 2 s before the
// handshake, and its reply is judged when the module's next sentence follows it: 6 s leave room
// for both on a loaded machine.
std::string downloadSettings(const StationFolder& station, int speedIndex = 1) {
  const fs::path firmware = station.path() / "firmware";
  return "[System]\n"
         "Baudrate_Update=" + std::to_string(speedIndex) + "\n"
         "Enable_Test=3\n"
         "[Basic]\n"
         "FlashDownload_DA_Path=" + (firmware / "demo.da").string() + "\n"
         "FlashDownload_ROM_Path=" + (firmware / "demo.bin").string() + "\n"
         "Version_MTK=QNB-TEST_3.0\n"
         "Version_Customer=0007\n"
         "Version_Product_Model=QZ3329\n"
         "Version_SDKver=SDK1.4\n"
         "Version_Timeout=6\n";
}

// Every run here shakes hands for the version group on satellite 29, after the download.
const std::string kHandshake = kEndTestMode + "$PMTK810,0001,1D*4F\r\n";
const std::string kFailLine = "     Fail!!(Download)   ";
const std::string kDownloadError = "An error occurred during the download process";
// Told once when the boot ROM has kept silent for most of the power-up window.
const std::string kPowerUpNotice =
    "     No answer from the boot ROM yet: power the module now, the download gives up in 1 s";

std::vector<std::string> memoOf(const PrintedRun& printed, int port) {
  return printed.memo.count(port) ? printed.memo.at(port) : std::vector<std::string>{};
}

std::vector<LogRow> logOf(const TestLogContents& log, int port) {
  return log.linesByPort.count(port) ? log.linesByPort.at(port) : std::vector<LogRow>{};
}

bool isProgress(const std::string& line) {
  return line.starts_with("download agent ") || line.starts_with("image ");
}

// The memo without its progress lines.
std::vector<std::string> withoutProgress(const std::vector<std::string>& memo) {
  std::vector<std::string> rest;
  for (const auto& line : memo)
    if (!isProgress(line)) rest.push_back(line);
  return rest;
}

// The progress lines come right after the item header (and the power-up notice, if any): the
// Download Agent's from 0 % rising, then
// the image's from 0 % rising; a phase that is followed by another has reached 100 %. `last` is
// the pattern of the last progress line ("" for none).
::testing::AssertionResult progressedTo(const std::vector<std::string>& memo,
                                        const std::string& last) {
  std::vector<std::string> progress;
  const std::size_t first = memo.size() > 1 && memo[1] == kPowerUpNotice ? 2 : 1;
  for (std::size_t i = first; i < memo.size() && isProgress(memo[i]); ++i) progress.push_back(memo[i]);
  auto failure = [&] { return ::testing::AssertionFailure() << "progress:\n" << listed(progress); };
  if (std::count_if(memo.begin(), memo.end(), isProgress) != std::ssize(progress))
    return failure() << "progress lines elsewhere in the memo";
  if (last.empty()) return progress.empty() ? ::testing::AssertionSuccess() : failure();
  if (progress.empty() || !matchesPattern(progress.back(), last))
    return failure() << "last: " << last;
  std::string phase;
  int percent = -1;
  for (const auto& line : progress) {
    const std::string name = line.substr(0, line.rfind(' '));
    const int value = std::stoi(line.substr(name.size() + 1));
    if (name != phase) {
      if (!((phase.empty() && name == "download agent") ||
            (phase == "download agent" && name == "image" && percent == 100)))
        return failure() << "phase " << name << " after " << phase << " " << percent << "%";
      if (value != 0) return failure() << name << " starts at " << value << "%";
    } else if (value <= percent || value > 100) {
      return failure() << name << " " << value << "% after " << percent << "%";
    }
    phase = name;
    percent = value;
  }
  return ::testing::AssertionSuccess();
}

// What the station sent to a port ends with the handshake and the end sentences.
::testing::AssertionResult endsWithHandshake(const std::string& transcript) {
  if (transcript.ends_with(kHandshake + kEndSentences)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "transcript ends |" << transcript.substr(transcript.size() - std::min<std::size_t>(
                                                         transcript.size(), 120))
         << "|";
}

struct DownloadCase {
  const char* name;
  std::string scenario;  // the port's own keys; "-" starts no module on the port
  std::string lastProgress;
  std::vector<std::string> memo;  // the lines after the progress and before the closing ones
  LogColumns log;
};

// Runs the cases on ports 1 to N at once and checks the run's exit status and each port's memo,
// summary, log line and the end of its transcript.
void runCases(const std::vector<DownloadCase>& cases, std::size_t imageBytes, int exitStatus) {
  StationFolder station;
  writeFirmware(station, imageBytes);
  station.writeSettings(downloadSettings(station));
  std::string scenario = "[default]\nversion_delay=100\n";
  std::string com, modules;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string port = std::to_string(i + 1);
    com += (i ? "," : "") + port;
    if (cases[i].scenario == "-") continue;
    modules += (modules.empty() ? "" : ",") + port;
    scenario += "[COM" + port + "]\n" + cases[i].scenario;
  }
  station.startModules(modules, scenario);
  const RunResult run = station.run({"--com", com});
  ASSERT_EQ(station.stopModules(), 0);

  EXPECT_EQ(run.exitStatus, exitStatus);
  EXPECT_EQ(run.errors, "");
  const PrintedRun printed(run.output);
  EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
  const TestLogContents log = readTestLog(station.path());
  EXPECT_EQ(log.lineCount, cases.size());

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const DownloadCase& c = cases[i];
    const int port = static_cast<int>(i + 1);
    SCOPED_TRACE("COM" + std::to_string(port) + ": " + c.name);
    const auto memo = memoOf(printed, port);
    EXPECT_TRUE(memoMatches(withoutProgress(memo),
                            joined({{"[Flash Download]"}, c.memo, finishLines()})));
    EXPECT_TRUE(progressedTo(memo, c.lastProgress));
    EXPECT_EQ(printed.summary.count(port) ? printed.summary.at(port) : "",
              c.log.verdict == "Pass" ? "summary: 1 run(s), 1 passed, 0 failed"
                                      : "summary: 1 run(s), 0 passed, 1 failed");
    const auto lines = logOf(log, port);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(logLineMatches(lines[0], port, "29", c.log));
    if (c.scenario != "-") {
      EXPECT_TRUE(endsWithHandshake(station.transcript(port)));
    }
  }
}

const std::string kVersionPass = "     Pass!!   [" + kImageVersion + "]";

DownloadCase passing(const char* name, std::string scenario, const std::string& flashName) {
  std::vector<std::string> memo{"     Pass!!"};
  if (!flashName.empty()) memo.push_back("     Flash Type:" + flashName);
  memo.push_back(kVersionPass);
  return {name, std::move(scenario), "image 100%", memo,
          {.verdict = "Pass", .flash = flashName, .version = kImageVersion}};
}

// A download that fails after the Download Agent has named the flash still shows its type; the
// log keeps the error.
DownloadCase failing(const char* name, std::string scenario, std::string lastProgress,
                     const std::string& error, const std::string& flashName = "",
                     bool toldToPowerUp = false) {
  std::vector<std::string> memo{kFailLine + error};
  if (toldToPowerUp) memo.insert(memo.begin(), kPowerUpNotice);
  if (!flashName.empty()) memo.push_back("     Flash Type:" + flashName);
  return {name, std::move(scenario), std::move(lastProgress), memo,
          {.verdict = "Fail(Download)", .flash = error}};
}

const std::string kFlash16 = "QF25L016 (16 Mbit SPI NOR)";

TEST(Download, SixteenModulesTakeTheImageAtOnceAndRunItsVersion) {
  std::vector<DownloadCase> cases{
      passing("4 Mbit flash", "flash_device=1\n", "QF25L004 (4 Mbit SPI NOR)"),
      passing("parallel flash", "flash_device=5\n", "QF29W800 (8 Mbit parallel NOR)"),
      passing("flash device without a name", "flash_device=0x7FFFFFFF\n", "UNKNOWN"),
      passing("fifteen corrupt blocks, each resent", "boot_corrupt_blocks=15\n", kFlash16),
      passing("every other block corrupt", "boot_corrupt_every=2\n", kFlash16),
  };
  while (cases.size() < 16) cases.push_back(passing("good module", "", kFlash16));
  runCases(cases, 32 * 1024, 0);
}

TEST(Download, EachFailureOfTheBootRomOrAgentEndsItsRunWithItsOwnText) {
  const std::vector<DownloadCase> cases{
      failing("boot ROM never answers", "boot_answer=off\n", "", "BROM_CMD_START_FAIL", "", true),
      failing("wrong sync answer", "boot_sync_byte=0x55\n", "", "BROM_UNKNOWN_BBCHIP", "", true),
      failing("download speed refused", "boot_baud_refuse=on\n", "",
              "Failed to change the baud rate"),
      failing("sixteen corrupt blocks", "boot_corrupt_blocks=16\n", "download agent 0%",
              "BROM_DOWNLOAD_DA_FAIL"),
      failing("chip value rejected", "chip_value=0x100800\n", "download agent 0%",
              "Failed to set the baseband chip type"),
      failing("Download Agent never starts", "da_alive=off\n", "download agent 100%",
              "DA returns no response to the tool's request"),
      failing("wrong alive byte", "da_alive_byte=0x5A\n", "download agent 100%",
              "DA responded with an incorrect sync character"),
      // The image's first region does not fit a 64 KiB flash.
      failing("region outside the flash", "flash_size=65536\n", "image 0%",
              "Failed to set the download region", kFlash16),
      failing("flash write error", "flash_write_error=on\n", "image 0%", kDownloadError, kFlash16),
      failing("verify mismatch", "flash_verify_error=on\n", "image {n}%",
              "An error occurred during the readback process", kFlash16),
      // The image went into a flash that nothing named: no pass for that.
      failing("flash not identified", "flash_identified=off\n", "image 100%",
              "Flash device not identified"),
      // Neither the download nor the tests can open the port.
      {"no module on the port", "-", "",
       {kFailLine + "Failed to open the COM port", "     Fail!!   Open ComPort Fail!!",
        "     {folder}/ports/COM{n}: no such device"},
       {.verdict = "Fail(ComPort)", .flash = "Failed to open the COM port"}},
  };
  runCases(cases, 128 * 1024, 1);
}

TEST(Download, StopAbortsTheDownloadAndTheRunStillEnds) {
  struct StopCase {
    const char* name;
    int speedIndex;
    std::string phase;
    std::chrono::milliseconds pause;  // Stop after every port has printed the phase's 0 %
    std::vector<std::string> memo;
  };
  // Stop ended the download: the library's text shows, but the run stays aborted.
  const std::string abortLine = "     Fail!!(Abort)   " + kDownloadError;
  const std::vector<StopCase> cases{
      // The station's writes wait for the line: Stop mostly comes in the middle of a block.
      {"in the image, at 921600 baud", 1, "image", 0ms,
       {abortLine, "     Flash Type:" + kFlash16}},
      // Both blocks of the Download Agent (6 KiB, 3.2 s on the line) go into the terminal's
      // buffer at once, about 20 ms after the 0 %: Stop comes while the station waits for their
      // answers and most of their bytes still wait in that buffer.
      {"in the Download Agent, at 19200 baud", 7, "download agent", 300ms, {abortLine}},
  };
  // ABORT: start byte, type 0x08, a tag, no payload, CRC-32.
  const auto endsWithAbort = [](const std::string& sent, const std::string& after) {
    constexpr std::size_t kAbortBytes = 9;
    if (!sent.ends_with(after) || sent.size() < after.size() + kAbortBytes) return false;
    const std::string frame = sent.substr(sent.size() - after.size() - kAbortBytes, kAbortBytes);
    return frame.starts_with("\xC3\x08") && frame.substr(3, 2) == std::string(2, '\0');
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    StationFolder station;
    writeFirmware(station, 1024 * 1024);
    station.writeSettings(downloadSettings(station, c.speedIndex));
    station.startModules("1,2", "");

    auto process = station.startRun({"--com", "1,2"});
    const bool reached = process->readUntil(
        [&c](const std::string& out) {
          return out.find("[COM 1] " + c.phase + " 0%") != std::string::npos &&
                 out.find("[COM 2] " + c.phase + " 0%") != std::string::npos;
        },
        30s);
    EXPECT_TRUE(reached) << process->output();
    std::this_thread::sleep_for(c.pause);
    process->signal(SIGINT);
    EXPECT_EQ(process->finish(30s), 1);
    EXPECT_EQ(station.errors(), "");
    ASSERT_EQ(station.stopModules(), 0);

    const PrintedRun printed(process->output());
    EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
    const TestLogContents log = readTestLog(station.path());
    EXPECT_EQ(log.lineCount, 2u);
    for (int port = 1; port <= 2; ++port) {
      SCOPED_TRACE("COM" + std::to_string(port));
      const auto memo = memoOf(printed, port);
      EXPECT_TRUE(memoMatches(withoutProgress(memo),
                              joined({{"[Flash Download]"}, c.memo, finishLines()})));
      EXPECT_TRUE(progressedTo(memo, c.phase + " {n}%"));
      EXPECT_EQ(std::count(memo.begin(), memo.end(), c.phase + " 100%"), 0);
      EXPECT_EQ(printed.summary.count(port) ? printed.summary.at(port) : "",
                "summary: 1 run(s), 0 passed, 1 failed");
      const auto lines = logOf(log, port);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_TRUE(logLineMatches(lines[0], port, "29",
                                 {.verdict = "Fail(Abort)", .flash = kDownloadError}));
      // The module hears ABORT, then the run's handshake and end sentences at the NMEA speed.
      const std::string sent = station.transcript(port);
      EXPECT_TRUE(endsWithAbort(sent, kHandshake + kEndSentences))
          << "ends |" << sent.substr(sent.size() - std::min<std::size_t>(sent.size(), 120))
          << "|";
    }
  }
}

// A worn line and a late operator: bit errors both ways at 1e-5 (each port its own), stray bytes,
// and modules that stream NMEA until they are power-cycled 2 s, or 4.5 s (after the notice),
// after the first sync byte. Every download passes.
TEST(Download, SurvivesBitErrorsStrayBytesAndALatePowerUp) {
  DownloadCase lateAfterNotice = passing("powered after the notice", "power_cycle_after=4.5\n", kFlash16);
  lateAfterNotice.memo.insert(lateAfterNotice.memo.begin(), kPowerUpNotice);
  const std::vector<DownloadCase> cases{
      passing("bit errors", "boot_ber=1e-5\n", kFlash16),
      passing("bit errors, another seed", "boot_ber=1e-5\nboot_seed=77\n", kFlash16),
      passing("bit errors and stray bytes", "boot_ber=1e-5\nboot_stray_rate=1e-4\n", kFlash16),
      passing("powered 2 s late", "power_cycle_after=2\n", kFlash16),
      lateAfterNotice,
  };
  runCases(cases, 256 * 1024, 0);
}

// The download goes to the run's own port for every port number: COM 300, whose low 8 bits are
// 44's, takes its image while the module on COM 44 hears nothing, and COM 44 then takes its own.
TEST(Download, ReachesTheRunsOwnPortWhateverItsNumber) {
  StationFolder station;
  writeFirmware(station, 16 * 1024);
  station.writeSettings(downloadSettings(station));
  station.startModules("44,300", "[default]\nversion_delay=100\n");
  const DownloadCase good = passing("good module", "", kFlash16);
  for (const int port : {300, 44}) {
    SCOPED_TRACE("COM" + std::to_string(port));
    const RunResult run = station.run({"--com", std::to_string(port)});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.errors, "");
    const PrintedRun printed(run.output);
    EXPECT_TRUE(printed.stray.empty()) << listed(printed.stray);
    const auto memo = memoOf(printed, port);
    EXPECT_TRUE(memoMatches(withoutProgress(memo),
                            joined({{"[Flash Download]"}, good.memo, finishLines()})));
    EXPECT_TRUE(progressedTo(memo, "image 100%"));
    EXPECT_TRUE(endsWithHandshake(station.transcript(port)));
    if (port == 300) {
      EXPECT_EQ(station.transcript(44).size(), 0u) << "bytes reached COM 44";
    }
  }
  ASSERT_EQ(station.stopModules(), 0);
  const TestLogContents log = readTestLog(station.path());
  for (const int port : {300, 44}) {
    const auto lines = logOf(log, port);
    ASSERT_EQ(lines.size(), 1u) << port;
    EXPECT_TRUE(logLineMatches(lines[0], port, "29", good.log)) << port;
  }
}

TEST(Download, RunnerRefusesFilesThatFailTheirCheck) {
  struct RefusalCase {
    const char* name;
    std::function<void(const StationFolder&)> spoil;
    std::string message;
  };
  const std::vector<RefusalCase> cases{
      // The file's first chip value, MT3329's (which the station sets), becomes MT3318's, its
      // second one: the file still loads, but no longer serves the station's chip.
      {"Download Agent for another chip series",
       [](const StationFolder& s) {
         std::fstream da(s.path() / "firmware" / "demo.da",
                         std::ios::binary | std::ios::in | std::ios::out);
         da.seekp(16);
         da.write("\x00\x08\x10\x00", 4);
       },
       "DA Error!\n"},
      {"no Download Agent file",
       [](const StationFolder& s) { fs::remove(s.path() / "firmware" / "demo.da"); },
       "DA Error!\n"},
      {"no image file",
       [](const StationFolder& s) { fs::remove(s.path() / "firmware" / "demo.bin"); },
       "Image Error!\n"},
      {"no layout beside the program",
       [](const StationFolder& s) { fs::remove(s.path() / "scat.txt"); }, "Image Error!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StationFolder station;
    writeFirmware(station, 16 * 1024);
    station.writeSettings(downloadSettings(station));
    c.spoil(station);
    const RunResult run = station.run({"--com", "1"});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.errors, c.message);
    EXPECT_EQ(run.output, "");
    // No run started: no test log.
    for (const auto& entry : fs::directory_iterator(station.path()))
      EXPECT_FALSE(entry.path().filename().string().starts_with("Test_Log_")) << entry.path();
  }
}

}  // namespace
}  // namespace quenby::integration
