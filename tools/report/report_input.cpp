#include "tools/report/report_input.h"

#include <algorithm>

#include "tools/report/civil_date.h"
#include "tools/report/log_reader.h"

namespace quenby::report {

std::vector<std::filesystem::path> stationLogs(const std::filesystem::path& folder,
                                               const Period& period) {
  std::vector<std::pair<std::int32_t, std::filesystem::path>> logs;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(folder, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const auto day = dayOfLogFileName(it->path().filename().string());
    if (day && period.contains(*day) && it->is_regular_file(ec)) logs.emplace_back(*day, it->path());
  }
  std::sort(logs.begin(), logs.end());
  std::vector<std::filesystem::path> paths;
  for (auto& [day, path] : logs) paths.push_back(std::move(path));
  return paths;
}

ReportInput readLogs(const std::vector<std::filesystem::path>& files, const Period& period,
                     const Limits& limits) {
  ReportInput input;
  RunStatistics statistics;
  LogReader reader(input.rejected, [&](const LoggedRun& run) {
    if (period.contains(run.day))
      statistics.add(run);
    else
      ++input.runsOutsidePeriod;
  });
  for (const auto& file : files) {
    input.files.push_back(file.filename().string());
    reader.readFile(file);
  }
  input.figures = statistics.figures(limits);
  return input;
}

}  // namespace quenby::report
