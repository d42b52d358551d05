// quenby-report-load: how long quenby-report takes, and how much memory, for a year of a
// sixteen-port line's logs, and how large its report is. Run by hand (never by ctest); see
// docs/performance.md.
//
//   quenby-report-load [--days N] [--ports N] [--runs N] [--report PATH] [--keep DIR]
//
// Writes the logs (365 days, 16 ports, 343 runs per port and day: about 2 million lines) into a
// station folder beside a copy of quenby-report and a Torvane.ini with the station's defaults,
// runs the copy there without arguments (so it reads every Test_Log_*.csv of its folder), and
// prints wall time, CPU time, peak RSS and the report's size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/bench/bench_processes.h"
#include "tools/report/log_generator.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "usage: quenby-report-load [--days N] [--ports N] [--runs N] [--report PATH] [--keep DIR]\n";

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "quenby-report-load: %s\n%s", problem.c_str(), kUsage);
  std::exit(2);
}

int count(const std::string& option, const std::string& value) {
  const int n = std::atoi(value.c_str());
  if (n < 1) usage(option + " takes a whole number of at least 1");
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::bench::answeredHelp(argc, argv, kUsage)) return 0;
  quenby::report::LineModel model;
  model.days = 365;
  model.ports = 16;
  model.runsPerPortDay = 343;
  model.weakPort = 7;
  std::string report = QUENBY_REPORT_PATH;
  fs::path keep;
  for (int i = 1; i < argc; i += 2) {
    const std::string a = argv[i];
    if (i + 1 >= argc) usage("missing value after " + a);
    const std::string v = argv[i + 1];
    if (a == "--days") model.days = count(a, v);
    else if (a == "--ports") model.ports = count(a, v);
    else if (a == "--runs") model.runsPerPortDay = count(a, v);
    else if (a == "--report") report = v;
    else if (a == "--keep") keep = v;
    else usage("unknown option " + a);
  }

  std::string pattern = (fs::temp_directory_path() / "quenby-report-load-XXXXXX").string();
  if (!keep.empty()) fs::create_directories(keep);
  const fs::path folder = keep.empty() ? fs::path(mkdtemp(pattern.data())) : keep;
  fs::copy_file(report, folder / "quenby-report", fs::copy_options::overwrite_existing);
  quenby::bench::writeFile(folder / "Torvane.ini", "[Basic]\r\n");

  const auto writeStart = std::chrono::steady_clock::now();
  const auto lines = quenby::report::writeLineLogs(folder, model);
  const double writeSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - writeStart).count();
  std::uintmax_t logBytes = 0;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().extension() == ".csv") logBytes += e.file_size();
  std::printf("logs: %d files, %llu run lines, %.1f MB, written in %.1f s\n", model.days,
              static_cast<unsigned long long>(lines), static_cast<double>(logBytes) / 1e6, writeSeconds);

  std::fflush(stdout);
  const fs::path out = folder / "Test_Report.html";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = quenby::bench::spawn({(folder / "quenby-report").string(), "--out", out.string()}, -1);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::error_code ec;
  const auto reportBytes = fs::file_size(out, ec);
  std::printf("report: exit %d, %.2f s wall, %.2f s CPU, peak RSS %.1f MiB, report %.2f MB\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, wall, cpu,
              static_cast<double>(usage.ru_maxrss) / 1024.0, ec ? 0.0 : static_cast<double>(reportBytes) / 1e6);
  if (keep.empty()) fs::remove_all(folder, ec);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
