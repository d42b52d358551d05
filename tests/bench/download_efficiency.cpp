// quenby-download-efficiency: how much of the line's byte rate a firmware download through the
// boot ROM uses. Simulated modules (paced to the line's speed) take a 1 MiB demo image from
// quenby-run; the time of each port's download is read off the lines quenby-run prints.
//
//   quenby-download-efficiency [--image-size BYTES] [--speeds 4,1] [--ports 1,4] [--rounds K]
//                              [--ber RATE] [--stray RATE] [--flash-timing on|off]
//                              [--power-cycle-after SECONDS]
//                              [--run PATH] [--modsim PATH] [--mkdemo PATH]
//
// Each row runs K rounds of N ports at once (K x N downloads, each port's line damaged by a
// seed of its own) and shows how many succeeded and the least, median and greatest efficiency
// of the successful ones (and, for more than three, each one's). --ber and --stray set the simulated boot-ROM line's bit-error rate and
// stray-byte rate (both directions), --flash-timing the simulated flash's erase, program and read
// times, --power-cycle-after a module that streams NMEA until it is power-cycled that long after
// the first sync byte.
//
// Efficiency = image bytes / (download time x baud / 10): the share of the line's byte rate (ten
// bit times a byte) that went into image bytes. The download time runs from the port's first
// "download agent 0%" line (the second sync has succeeded: the line is at the download speed) to
// its "Flash Type:" line (FINISH has been answered), so it takes in the Download Agent, every
// region, their verifies and FINISH, but not the first sync, HELLO and the speed change. The
// whole item runs from the "[Flash Download]" line, just before the station opens the port for
// the download, to the same end, and takes in those too. Each line's time is when this program
// read it from quenby-run's stdout (which flushes every line). Every row shows the slowest port
// of its run. Not a test: nothing is asserted.
#include "tests/bench/bench_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace bench = quenby::bench;
using bench::spawn;
using bench::writeFile;
using Clock = std::chrono::steady_clock;

constexpr int kMaxPorts = 16;
constexpr int kFlashDownloadItem = 0x1;
constexpr auto kReadyLimit = std::chrono::seconds(10);
// A 1 MiB image takes 91 s at 115200 baud; the slowest speed with a 16 MiB image far longer.
constexpr auto kRunLimit = std::chrono::hours(2);

struct Options {
  long imageBytes = 1024 * 1024;
  std::vector<int> speedIndexes{4, 1};  // Baudrate_Update: 4 = 115200, 1 = 921600
  std::vector<int> portCounts{1, 4};
  int rounds = 1;
  std::string ber = "0";
  std::string stray = "0";
  std::string flashTiming = "on";
  std::string powerCycleAfter = "0";
  fs::path run = QUENBY_RUN_PATH;
  fs::path modsim = QUENBY_MODSIM_PATH;
  fs::path mkdemo = QUENBY_MKDEMO_PATH;
};

constexpr int kBaudForIndex[] = {0, 921600, 460800, 230400, 115200, 57600,
                                 38400, 19200, 14400, 9600, 4800};

constexpr char kUsage[] =
    "usage: quenby-download-efficiency [--image-size BYTES] [--speeds 4,1] "
    "[--ports 1,4] [--rounds K] [--ber RATE] [--stray RATE] [--flash-timing on|off] "
    "[--power-cycle-after SECONDS] [--run PATH] [--modsim PATH] [--mkdemo PATH]\n";

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr, "quenby-download-efficiency: %s\n%s", problem, kUsage);
  std::exit(2);
}

std::vector<int> parseList(const std::string& text, int low, int high, const char* problem) {
  std::vector<int> values;
  std::stringstream list(text);
  std::string piece;
  while (std::getline(list, piece, ',')) {
    const int n = std::atoi(piece.c_str());
    if (n < low || n > high) usage(problem);
    values.push_back(n);
  }
  if (values.empty()) usage(problem);
  return values;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
    const std::string value = argv[++i];
    if (arg == "--image-size") {
      o.imageBytes = std::atol(value.c_str());
      if (o.imageBytes < 8192 || o.imageBytes > 16 * 1024 * 1024)
        usage("--image-size takes 8192 to 16777216 bytes");
    } else if (arg == "--speeds") {
      o.speedIndexes = parseList(value, 1, 10, "--speeds takes Baudrate_Update indexes 1 to 10");
    } else if (arg == "--ports") {
      o.portCounts = parseList(value, 1, kMaxPorts, "--ports takes counts from 1 to 16");
    } else if (arg == "--rounds") {
      o.rounds = std::atoi(value.c_str());
      if (o.rounds < 1 || o.rounds > 1000) usage("--rounds takes 1 to 1000");
    } else if (arg == "--ber") {
      o.ber = value;
    } else if (arg == "--stray") {
      o.stray = value;
    } else if (arg == "--flash-timing") {
      o.flashTiming = value;
    } else if (arg == "--power-cycle-after") {
      o.powerCycleAfter = value;
    } else if (arg == "--run") {
      o.run = value;
    } else if (arg == "--modsim") {
      o.modsim = value;
    } else if (arg == "--mkdemo") {
      o.mkdemo = value;
    } else {
      usage(("unknown option " + arg).c_str());
    }
  }
  return o;
}

int waitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The simulated modules of one measurement.
struct Simulator {
  Simulator(const Options& o, const fs::path& folder, int ports)
      : process({o.modsim.string(), "--ports-dir", (folder / "ports").string(), "--com",
                 "1-" + std::to_string(ports), "--scenario", (folder / "scenario.ini").string()},
                kReadyLimit) {}
  bench::ReadySimulator process;
};

struct PortTimes {
  std::string failure;  // the port's "Fail!!" line, if any
  Clock::time_point header{};
  Clock::time_point agentStart{};
  Clock::time_point end{};
  bool headed = false;
  bool started = false;
  bool passed = false;  // the download's "Pass!!" came before its flash type
  bool ended = false;
};

struct Measurement {
  int ports = 0;
  std::vector<double> downloadSeconds;  // of each port whose download succeeded
  std::vector<double> itemSeconds;
  std::vector<std::string> failures;  // each failed download's "Fail!!" line
  int exitStatus = -1;
};

// Runs quenby-run on ports 1 to N and times each port's download from its printed lines.
Measurement measure(const fs::path& folder, int ports) {
  std::string com;
  for (int p = 1; p <= ports; ++p) com += (p > 1 ? "," : "") + std::to_string(p);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) usage("no pipe");
  const pid_t pid = spawn({(folder / "quenby-run").string(), "--com", com}, out[1]);
  ::close(out[1]);

  std::map<int, PortTimes> times;
  std::string pending;
  const auto deadline = Clock::now() + kRunLimit;
  while (Clock::now() < deadline) {
    pollfd fd{out[0], POLLIN, 0};
    if (::poll(&fd, 1, 1000) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    const auto now = Clock::now();
    pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      int port = 0;
      if (std::sscanf(line.c_str(), "[COM %d]", &port) != 1) continue;
      PortTimes& t = times[port];
      if (!t.headed && line.find("] [Flash Download]") != std::string::npos) {
        t.header = now;
        t.headed = true;
      } else if (t.headed && !t.started && line.find("] download agent 0%") != std::string::npos) {
        t.agentStart = now;
        t.started = true;
      } else if (t.headed && t.failure.empty() && line.find("]      Fail!!") != std::string::npos) {
        t.failure = line;
      } else if (t.started && line.find("]      Pass!!") != std::string::npos) {
        t.passed = true;
      } else if (t.started && !t.ended && line.find("]      Flash Type:") != std::string::npos) {
        t.end = now;
        t.ended = true;
      }
    }
  }
  ::close(out[0]);

  Measurement m;
  m.ports = ports;
  m.exitStatus = waitFor(pid);
  for (const auto& [port, t] : times) {
    // A download that failed after the Download Agent named the flash shows the type as well.
    if (!t.ended || !t.passed) {
      m.failures.push_back(t.failure.empty() ? "[COM " + std::to_string(port) + "] no result"
                                             : t.failure);
      continue;
    }
    m.downloadSeconds.push_back(std::chrono::duration<double>(t.end - t.agentStart).count());
    m.itemSeconds.push_back(std::chrono::duration<double>(t.end - t.header).count());
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (bench::answeredHelp(argc, argv, kUsage)) return 0;
  const Options o = parseOptions(argc, argv);

  std::string pattern = (fs::temp_directory_path() / "quenby-download-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) usage("cannot make a temporary folder");
  const fs::path folder = pattern;
  fs::copy_file(o.run, folder / "quenby-run");
  if (waitFor(spawn({o.mkdemo.string(), "--out", (folder / "firmware").string(), "--image-size",
                     std::to_string(o.imageBytes)},
                    -1)) != 0)
    usage("quenby-mkdemo failed");
  fs::copy_file(folder / "firmware" / "scat.txt", folder / "scat.txt");

  // The simulated flash holds the whole image (4 MiB at least, as the modules' default).
  constexpr long kDefaultFlash = 4L * 1024 * 1024;
  constexpr long kFlashBlock = 65536;
  const long flashBytes =
      std::max(kDefaultFlash, (o.imageBytes + kFlashBlock - 1) / kFlashBlock * kFlashBlock);
  writeFile(folder / "scenario.ini",
            "[default]\nflash_size=" + std::to_string(flashBytes) + "\nboot_ber=" + o.ber +
                "\nboot_stray_rate=" + o.stray +
                "\nflash_timing=" + o.flashTiming + "\npower_cycle_after=" + o.powerCycleAfter +
                "\n");

  const int mostPorts = *std::max_element(o.portCounts.begin(), o.portCounts.end());
  std::printf("quenby-run, %ld-byte image, paced modules, boot_ber %s, boot_stray_rate %s, "
              "flash timing %s, power cycle after %s s\n\n",
              o.imageBytes, o.ber.c_str(), o.stray.c_str(), o.flashTiming.c_str(),
              o.powerCycleAfter.c_str());
  std::printf("| baud | ports x rounds | succeeded | download s min / median / max | "
              "efficiency min / median / max | whole item efficiency min / median / max |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  {
    Simulator simulator(o, folder, mostPorts);
    for (int index : o.speedIndexes) {
      const int baud = kBaudForIndex[index];
      const fs::path firmware = folder / "firmware";
      writeFile(folder / "Torvane.ini",
                "[System]\nBaudrate_Update=" + std::to_string(index) +
                    "\nEnable_Test=" + std::to_string(kFlashDownloadItem) +
                    "\n[Basic]\nFlashDownload_DA_Path=" + (firmware / "demo.da").string() +
                    "\nFlashDownload_ROM_Path=" + (firmware / "demo.bin").string() + "\n");
      for (int ports : o.portCounts) {
        std::vector<double> download, item;
        std::vector<std::string> failures;
        for (int round = 0; round < o.rounds; ++round) {
          const Measurement m = measure(folder, ports);
          failures.insert(failures.end(), m.failures.begin(), m.failures.end());
          download.insert(download.end(), m.downloadSeconds.begin(), m.downloadSeconds.end());
          item.insert(item.end(), m.itemSeconds.begin(), m.itemSeconds.end());
        }
        const double lineBytesPerSecond = baud / 10.0;
        auto efficiency = [&](double s) {
          return s > 0 ? static_cast<double>(o.imageBytes) / (s * lineBytesPerSecond) : 0.0;
        };
        std::sort(download.begin(), download.end());
        std::sort(item.begin(), item.end());
        const int total = ports * o.rounds;
        std::printf("| %d | %d x %d | %zu of %d |", baud, ports, o.rounds, download.size(), total);
        if (download.empty()) {
          std::printf(" - | - | - |\n");
        } else {
          // Sorted by time, so the efficiencies run the other way.
          const std::size_t mid = download.size() / 2;
          std::printf(" %.2f / %.2f / %.2f | %.3f / %.3f / %.3f | %.3f / %.3f / %.3f |\n",
                      download.front(), download[mid], download.back(),
                      efficiency(download.back()), efficiency(download[mid]),
                      efficiency(download.front()), efficiency(item.back()),
                      efficiency(item[mid]), efficiency(item.front()));
        }
        if (download.size() > 3) {
          std::printf("  each download's efficiency, least first:");
          for (auto s = download.rbegin(); s != download.rend(); ++s) std::printf(" %.4f", efficiency(*s));
          std::printf("\n");
        }
        for (const std::string& f : failures) std::printf("  failed: %s\n", f.c_str());
        std::fflush(stdout);
      }
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
