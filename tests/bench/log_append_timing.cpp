// The cost of appending one run line to the day's log (its backup included), with an empty log
// and with a 50 MB one; beside it, what one whole copy of the 50 MB log costs (the price the
// backup used to pay on every run).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "engine/test_log.h"
#include "tests/bench/bench_processes.h"
#include "tests/bench/station_load.h"

namespace quenby::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int AppendsPerRun = 200;
constexpr std::uint32_t OfferedItems = 0x305F;
const LogTime Day{2009, 5, 7, 13, 5, 9};
const std::string RunLine =
    ",Pass,1,,COM3,2009-05-07,13:05:09,N/A,\"M-core_1.8,0000,,\",29,12,N/A,N/A,N/A,N/A,N/A,N/A,"
    "N/A,N/A,\"1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*\",25\r\n";

fs::path freshFolder() {
  std::string pattern = (fs::temp_directory_path() / "quenby-append-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::exit(1);
  return pattern;
}

// A day's log of about `bytes` bytes and its backup.
void fillLog(const fs::path& folder, std::size_t bytes) {
  if (bytes == 0) return;
  std::string text = TestLog::headerLine(OfferedItems);
  while (text.size() < bytes) text += RunLine;
  writeFile(folder / TestLog::logFileName(Day), text);
  fs::create_directories(folder / "backup");
  writeFile(folder / "backup" / ("B" + TestLog::logFileName(Day)), text);
}

// Microseconds per append, over AppendsPerRun appends.
double appendMicroseconds(std::size_t logBytes) {
  const fs::path folder = freshFolder();
  fillLog(folder, logBytes);
  std::mutex lock;
  TestLog log(folder, lock, [] { return Day; });
  int failed = 0;
  const auto start = Clock::now();
  for (int i = 0; i < AppendsPerRun; ++i) {
    const auto appended = log.appendRunLine(Day, OfferedItems, RunLine);
    failed += !appended.recorded || !appended.backupProblems.empty();
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  const fs::path logPath = folder / TestLog::logFileName(Day);
  const fs::path backupPath = folder / "backup" / ("B" + TestLog::logFileName(Day));
  if (failed > 0 || fs::file_size(logPath) != fs::file_size(backupPath) ||
      fs::file_size(logPath) < logBytes + AppendsPerRun * RunLine.size())
    std::fprintf(stderr, "log append: %d appends failed or the backup differs\n", failed);
  fs::remove_all(folder);
  return us / AppendsPerRun;
}

double wholeCopyMicroseconds(std::size_t logBytes) {
  const fs::path folder = freshFolder();
  fillLog(folder, logBytes);
  const auto start = Clock::now();
  fs::copy_file(folder / TestLog::logFileName(Day), folder / "copy.csv");
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  fs::remove_all(folder);
  return us;
}

}  // namespace

int logAppendMain(const LoadOptions& o) {
  constexpr std::size_t FiftyMb = 50'000'000;
  std::printf("one run line appended (log and backup), %d appends per run, %d runs per row\n\n",
              AppendsPerRun, o.repeat);
  std::printf("| day log before | us per append (min / median / max) |\n|---:|---:|\n");
  for (std::size_t bytes : {std::size_t{0}, FiftyMb}) {
    std::vector<double> runs;
    for (int i = 0; i < o.repeat; ++i) runs.push_back(appendMicroseconds(bytes));
    std::printf("| %s | %s |\n", bytes == 0 ? "empty" : "50 MB", spread(runs, 1).c_str());
    std::fflush(stdout);
  }
  std::vector<double> copies;
  for (int i = 0; i < o.repeat; ++i) copies.push_back(wholeCopyMicroseconds(FiftyMb));
  std::printf("\none whole copy of the 50 MB log: %s us (min / median / max)\n",
              spread(copies, 0).c_str());
  return 0;
}

}  // namespace quenby::bench
