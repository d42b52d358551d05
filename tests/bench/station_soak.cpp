// Many rounds in one quenby-run: sixteen quick modules, the firmware version only, `--rounds R`.
// Counts the runs as their "[Finish]" lines arrive and samples the runner's resident set and
// open descriptors at round 10, 50, 100, 150 and the last but one; at the end checks that the
// log holds one line per run and that its backup is the same bytes.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/bench/bench_processes.h"
#include "tests/bench/station_load.h"

namespace quenby::bench {
namespace {

namespace fs = std::filesystem;
constexpr int Ports = 16;

std::string wholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

long residentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
  return -1;
}

long openDescriptors(pid_t pid) {
  std::error_code ec;
  long n = 0;
  for (fs::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", ec), end; !ec && it != end;
       it.increment(ec))
    ++n;
  return ec ? -1 : n;
}

}  // namespace

int soakMain(const LoadOptions& o) {
  std::string pattern = (fs::temp_directory_path() / "quenby-soak-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return 1;
  const fs::path folder = pattern;
  fs::copy_file(o.run, folder / "quenby-run");
  writeFile(folder / "Torvane.ini", "[System]\nEnable_Test=2\n[Basic]\nVersion_Timeout=5\n");
  writeFile(folder / "scenario.ini", "[default]\nversion_delay=100\nreset_delay=300\n");

  std::vector<int> samples;
  for (int round : {10, 50, 100, 150, o.soakRounds - 1})
    if (round >= 1 && round < o.soakRounds && (samples.empty() || round > samples.back()))
      samples.push_back(round);

  std::printf("quenby-run --com 1,...,16 --rounds %d, firmware version only\n\n", o.soakRounds);
  std::printf("| after round | RSS (MiB) | open descriptors |\n|---:|---:|---:|\n");
  std::fflush(stdout);

  int status = -1;
  long finished = 0;
  const auto start = std::chrono::steady_clock::now();
  {
    ReadySimulator modules({o.modsim.string(), "--ports-dir", (folder / "ports").string(), "--com",
                            "1-16", "--scenario", (folder / "scenario.ini").string()},
                           std::chrono::seconds(10));
    std::string com;
    for (int p = 1; p <= Ports; ++p) com += (p > 1 ? "," : "") + std::to_string(p);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return 1;
    const pid_t pid = spawn({(folder / "quenby-run").string(), "--com", com, "--rounds",
                             std::to_string(o.soakRounds)},
                            out[1]);
    ::close(out[1]);
    std::string pending;
    std::size_t next = 0;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = pending.find('\n')) != std::string::npos) {
        if (pending.compare(0, end, "] [Finish]") != 0 &&
            pending.substr(0, end).ends_with("] [Finish]"))
          ++finished;
        pending.erase(0, end + 1);
      }
      while (next < samples.size() && finished >= static_cast<long>(samples[next]) * Ports) {
        std::printf("| %d | %.1f | %ld |\n", samples[next], residentKib(pid) / 1024.0,
                    openDescriptors(pid));
        std::fflush(stdout);
        ++next;
      }
    }
    ::close(out[0]);
    ::waitpid(pid, &status, 0);
  }
  const double minutes =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60;

  long logLines = -1;
  bool backupSame = false;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("Test_Log_")) continue;
    const std::string log = wholeFile(entry.path());
    logLines = 0;
    for (char c : log) logLines += c == '\n';
    --logLines;  // the header
    backupSame = wholeFile(folder / "backup" / ("B" + name)) == log;
  }
  std::printf("\nexit status %d, %ld runs finished, %ld log lines (expected %d), backup %s, "
              "%.1f min\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, finished, logLines,
              Ports * o.soakRounds, backupSame ? "byte-identical" : "DIFFERS", minutes);
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}

}  // namespace quenby::bench
