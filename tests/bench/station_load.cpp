// quenby-station-load: how much CPU and memory quenby-run needs while its ports take in a steady
// NMEA stream. Simulated modules stream at 115200 baud; quenby-run waits on every port for an
// acquisition that never comes, so each worker does nothing but read, assemble and parse, for a
// fixed time; then it is stopped (SIGINT) and its resource use collected.
//
//   quenby-station-load [--seconds S] [--ports 1,2,4,8,16] [--fix-interval MS]
//                       [--run PATH] [--modsim PATH]
//
// Prints one table row per port count: CPU seconds per port-second (user + system over the
// whole life of the process, start and stop included), the same as a share of one core, the
// peak resident set (VmHWM), and the chart refreshes printed as a check that the stream was
// parsed. Not a test: nothing is asserted.
#include "tests/bench/bench_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace bench = quenby::bench;
using bench::spawn;
using bench::writeFile;
using Clock = std::chrono::steady_clock;

constexpr int kBaud = 115200;
// An acquisition that the module reports after an hour, and a time-out longer than that.
constexpr int kNeverMs = 3'600'000;
constexpr int kAcquisitionTimeoutSeconds = 7200;
constexpr int kAcquisitionItem = 0x4;
constexpr int kMaxPorts = 16;
constexpr auto kReadyLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(30);

struct Options {
  int seconds = 20;
  std::vector<int> portCounts{1, 2, 4, 8, 16};
  int fixIntervalMs = 1000;
  fs::path run = QUENBY_RUN_PATH;
  fs::path modsim = QUENBY_MODSIM_PATH;
};

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr,
               "quenby-station-load: %s\n"
               "usage: quenby-station-load [--seconds S] [--ports 1,2,4,8,16] "
               "[--fix-interval MS] [--run PATH] [--modsim PATH]\n",
               problem);
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
    const std::string value = argv[++i];
    if (arg == "--seconds") {
      o.seconds = std::atoi(value.c_str());
      if (o.seconds < 1) usage("--seconds takes a whole number of at least 1");
    } else if (arg == "--ports") {
      o.portCounts.clear();
      std::stringstream list(value);
      std::string piece;
      while (std::getline(list, piece, ',')) {
        const int n = std::atoi(piece.c_str());
        if (n < 1 || n > kMaxPorts) usage("--ports takes counts from 1 to 16");
        o.portCounts.push_back(n);
      }
      if (o.portCounts.empty()) usage("--ports needs at least one count");
    } else if (arg == "--fix-interval") {
      o.fixIntervalMs = std::atoi(value.c_str());
      if (o.fixIntervalMs < 100 || o.fixIntervalMs > 10000) usage("--fix-interval: 100 to 10000");
    } else if (arg == "--run") {
      o.run = value;
    } else if (arg == "--modsim") {
      o.modsim = value;
    } else {
      usage(("unknown option " + arg).c_str());
    }
  }
  return o;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The peak resident set of a live process, in KiB (0 when unknown).
long peakResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  return 0;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

struct Measurement {
  int ports = 0;
  double wallSeconds = 0;
  double cpuSeconds = 0;
  long peakKib = 0;
  long chartRefreshes = 0;
  long logLines = 0;
};

// The sixteen simulated modules of the whole benchmark.
struct Simulator {
  Simulator(const Options& o, const fs::path& folder)
      : process({o.modsim.string(), "--ports-dir", (folder / "ports").string(), "--com",
                 "1-" + std::to_string(kMaxPorts), "--scenario", (folder / "scenario.ini").string()},
                kReadyLimit) {}
  bench::ReadySimulator process;
};

Measurement measure(const Options& o, const fs::path& folder, int ports) {
  std::string com;
  for (int p = 1; p <= ports; ++p) com += (p > 1 ? "," : "") + std::to_string(p);
  const fs::path outPath = folder / ("run-" + std::to_string(ports) + ".out");
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);

  const auto start = Clock::now();
  const pid_t pid = spawn({(folder / "quenby-run").string(), "--com", com}, outFd);
  ::close(outFd);
  std::this_thread::sleep_for(std::chrono::seconds(o.seconds));

  Measurement m;
  m.ports = ports;
  m.peakKib = peakResidentKib(pid);
  ::kill(pid, SIGINT);
  int status = 0;
  rusage resources{};
  const auto stopDeadline = Clock::now() + kStopLimit;
  pid_t done = 0;
  while ((done = ::wait4(pid, &status, WNOHANG, &resources)) == 0 && Clock::now() < stopDeadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (done != pid) {
    ::kill(pid, SIGKILL);
    ::wait4(pid, &status, 0, &resources);
    std::fprintf(stderr, "quenby-station-load: quenby-run did not stop within %lld s\n",
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kStopLimit).count()));
  }
  m.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.cpuSeconds = seconds(resources.ru_utime) + seconds(resources.ru_stime);
  if (resources.ru_maxrss > m.peakKib) m.peakKib = resources.ru_maxrss;

  std::istringstream printed(readFile(outPath));
  std::string line;
  while (std::getline(printed, line))
    if (line.find("] satellites") != std::string::npos) ++m.chartRefreshes;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.path().filename().string().starts_with("Test_Log_")) continue;
    std::istringstream log(readFile(entry.path()));
    while (std::getline(log, line)) ++m.logLines;
    --m.logLines;  // the header
    fs::remove(entry.path());
  }
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parseOptions(argc, argv);

  std::string pattern = (fs::temp_directory_path() / "quenby-load-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) usage("cannot make a temporary folder");
  const fs::path folder = pattern;
  fs::copy_file(o.run, folder / "quenby-run");
  writeFile(folder / "Torvane.ini",
            "[System]\nBaudrate_NMEA=" + std::to_string(kBaud) +
                "\nEnable_Test=" + std::to_string(kAcquisitionItem) +
                "\n[Basic]\nAcqTime_Timeout=" + std::to_string(kAcquisitionTimeoutSeconds) + "\n");
  writeFile(folder / "scenario.ini", "[default]\nbaud=" + std::to_string(kBaud) +
                                         "\nfix_interval=" + std::to_string(o.fixIntervalMs) +
                                         "\nacq_delay=" + std::to_string(kNeverMs) + "\n");

  std::printf("quenby-run, %d s per row, modules at %d baud, fix interval %d ms\n\n", o.seconds,
              kBaud, o.fixIntervalMs);
  std::printf("| ports | CPU s per port-second | %% of one core | peak RSS (MiB) | chart refreshes | log lines |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  {
    Simulator simulator(o, folder);
    for (int ports : o.portCounts) {
      const Measurement m = measure(o, folder, ports);
      std::printf("| %d | %.5f | %.2f | %.1f | %ld | %ld |\n", m.ports,
                  m.cpuSeconds / (m.ports * m.wallSeconds), 100.0 * m.cpuSeconds / m.wallSeconds,
                  m.peakKib / 1024.0, m.chartRefreshes, m.logLines);
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
