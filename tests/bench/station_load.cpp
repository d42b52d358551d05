// quenby-station-load: how much CPU and memory quenby-run needs while its ports take in a steady
// NMEA stream. Simulated modules stream at 115200 baud; quenby-run waits on every port for an
// acquisition that never comes, so each worker does nothing but read, assemble and parse, for a
// fixed time; then it is stopped (SIGINT) and its resource use collected. Beside each run, a bare
// reader of the same lines (the same serial link class, one thread per port, reading only) is
// measured the same way, so that the station's own cost shows as the ratio of the two.
//
//   quenby-station-load [--seconds S] [--ports 1,2,4,8,16] [--fix-interval MS] [--repeat N]
//                       [--run PATH] [--modsim PATH]
//   quenby-station-load --soak ROUNDS      16 ports x ROUNDS rounds in one quenby-run
//   quenby-station-load --log-append       one run line appended to an empty and a 50 MB log
//
// Prints one table row per port count: the share of one core of quenby-run and of the bare
// reader (user + system over the whole life of the process, start and stop included; min /
// median / max of N runs each, taken in turns), their ratio, quenby-run's peak resident set
// (VmHWM), and the chart refreshes and log lines as a check that the stream was parsed and every
// run logged. Not a test: nothing is asserted.
#include "tests/bench/bench_processes.h"
#include "tests/bench/station_load.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

using Options = bench::LoadOptions;

constexpr char kUsage[] =
    "usage: quenby-station-load [--seconds S] [--ports 1,2,4,8,16] "
    "[--fix-interval MS] [--repeat N] [--run PATH] [--modsim PATH]\n"
    "       quenby-station-load --soak ROUNDS [--run PATH] [--modsim PATH]\n"
    "       quenby-station-load --log-append [--repeat N]\n";

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr, "quenby-station-load: %s\n%s", problem, kUsage);
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options o;
  o.run = QUENBY_RUN_PATH;
  o.modsim = QUENBY_MODSIM_PATH;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--log-append") {
      o.logAppend = true;
      continue;
    }
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
    } else if (arg == "--repeat") {
      o.repeat = std::atoi(value.c_str());
      if (o.repeat < 1 || o.repeat > 20) usage("--repeat: 1 to 20");
    } else if (arg == "--soak") {
      o.soakRounds = std::atoi(value.c_str());
      if (o.soakRounds < 1) usage("--soak takes a number of rounds");
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
  double wallSeconds = 0;
  double cpuSeconds = 0;
  long peakKib = 0;
  std::string output;  // what the program printed

  double shareOfCore() const { return 100.0 * cpuSeconds / wallSeconds; }
};

// The sixteen simulated modules of the whole benchmark.
struct Simulator {
  Simulator(const Options& o, const fs::path& folder)
      : process({o.modsim.string(), "--ports-dir", (folder / "ports").string(), "--com",
                 "1-" + std::to_string(kMaxPorts), "--scenario", (folder / "scenario.ini").string()},
                kReadyLimit) {}
  bench::ReadySimulator process;
};

// Runs a program for the options' time, stops it with SIGINT and collects what it used.
Measurement measureProcess(const Options& o, const std::vector<std::string>& args,
                           const fs::path& outPath) {
  const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const auto start = Clock::now();
  const pid_t pid = spawn(args, outFd);
  ::close(outFd);
  std::this_thread::sleep_for(std::chrono::seconds(o.seconds));

  Measurement m;
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
    std::fprintf(stderr, "quenby-station-load: %s did not stop within %lld s\n", args[0].c_str(),
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kStopLimit).count()));
  }
  m.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  m.cpuSeconds = seconds(resources.ru_utime) + seconds(resources.ru_stime);
  if (resources.ru_maxrss > m.peakKib) m.peakKib = resources.ru_maxrss;
  m.output = readFile(outPath);
  return m;
}

std::string portList(int ports) {
  std::string com;
  for (int p = 1; p <= ports; ++p) com += (p > 1 ? "," : "") + std::to_string(p);
  return com;
}

long countLines(const std::string& text, const std::string& containing) {
  std::istringstream lines(text);
  std::string line;
  long n = 0;
  while (std::getline(lines, line))
    if (line.find(containing) != std::string::npos) ++n;
  return n;
}

// The run lines of the test logs in the folder (which are then removed).
long takeLogLines(const fs::path& folder) {
  long lines = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.path().filename().string().starts_with("Test_Log_")) continue;
    const std::string log = readFile(entry.path());
    lines += std::count(log.begin(), log.end(), '\n') - 1;  // without the header
    fs::remove(entry.path());
  }
  return lines;
}

struct Row {
  std::vector<double> station;  // % of one core, per run
  std::vector<double> bare;
  std::vector<double> ratio;
  long peakKib = 0;
  long chartRefreshes = 0;
  long logLines = 0;
  double bareBytesPerSecond = 0;
};

Row measureRow(const Options& o, const fs::path& folder, const fs::path& self, int ports) {
  Row row;
  for (int i = 0; i < o.repeat; ++i) {
    const Measurement station = measureProcess(
        o, {(folder / "quenby-run").string(), "--com", portList(ports)},
        folder / ("run-" + std::to_string(ports) + ".out"));
    const Measurement bare = measureProcess(
        o, {self.string(), "--bare-reader", (folder / "ports").string(), std::to_string(ports)},
        folder / ("bare-" + std::to_string(ports) + ".out"));
    row.station.push_back(station.shareOfCore());
    row.bare.push_back(bare.shareOfCore());
    row.ratio.push_back(station.shareOfCore() / bare.shareOfCore());
    row.peakKib = std::max(row.peakKib, station.peakKib);
    row.chartRefreshes += countLines(station.output, "] satellites");
    row.logLines += takeLogLines(folder);
    row.bareBytesPerSecond += std::atof(bare.output.c_str()) / bare.wallSeconds / o.repeat;
  }
  return row;
}

}  // namespace

namespace quenby::bench {

std::string spread(std::vector<double> values, int precision) {
  std::sort(values.begin(), values.end());
  char text[96];
  std::snprintf(text, sizeof text, "%.*f / %.*f / %.*f", precision, values.front(), precision,
                values[values.size() / 2], precision, values.back());
  return text;
}

}  // namespace quenby::bench

int main(int argc, char** argv) {
  if (bench::answeredHelp(argc, argv, kUsage)) return 0;
  if (argc == 4 && std::string(argv[1]) == "--bare-reader")
    return bench::bareReaderMain(argv[2], std::atoi(argv[3]));
  const Options o = parseOptions(argc, argv);
  if (o.logAppend) return bench::logAppendMain(o);
  if (o.soakRounds > 0) return bench::soakMain(o);

  std::string pattern = (fs::temp_directory_path() / "quenby-load-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) usage("cannot make a temporary folder");
  const fs::path folder = pattern;
  const fs::path self = fs::read_symlink("/proc/self/exe");
  fs::copy_file(o.run, folder / "quenby-run");
  writeFile(folder / "Torvane.ini",
            "[System]\nBaudrate_NMEA=" + std::to_string(kBaud) +
                "\nEnable_Test=" + std::to_string(kAcquisitionItem) +
                "\n[Basic]\nAcqTime_Timeout=" + std::to_string(kAcquisitionTimeoutSeconds) + "\n");
  writeFile(folder / "scenario.ini", "[default]\nbaud=" + std::to_string(kBaud) +
                                         "\nfix_interval=" + std::to_string(o.fixIntervalMs) +
                                         "\nacq_delay=" + std::to_string(kNeverMs) + "\n");

  std::printf("quenby-run beside a bare reader, %d s per run, %d runs of each per row in turns, "
              "modules at %d baud, fix interval %d ms\n\n",
              o.seconds, o.repeat, kBaud, o.fixIntervalMs);
  std::printf("| ports | quenby-run, %% of one core (min / median / max) | bare reader, %% of one "
              "core | ratio (min / median / max) | peak RSS (MiB) | bare reader kB/s | chart "
              "refreshes | log lines |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::fflush(stdout);
  {
    Simulator simulator(o, folder);
    for (int ports : o.portCounts) {
      const Row row = measureRow(o, folder, self, ports);
      std::printf("| %d | %s | %s | %s | %.1f | %.1f | %ld | %ld |\n", ports,
                  bench::spread(row.station, 2).c_str(), bench::spread(row.bare, 2).c_str(),
                  bench::spread(row.ratio, 2).c_str(), row.peakKib / 1024.0,
                  row.bareBytesPerSecond / 1000.0, row.chartRefreshes, row.logLines);
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
