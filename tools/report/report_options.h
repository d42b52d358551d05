// The command line of quenby-report.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/report/report_input.h"

namespace quenby::report {

struct ReportOptions {
  std::optional<std::filesystem::path> settings;  // --settings FILE
  Period period;                                  // --from, --to (YYYY-MM-DD)
  std::filesystem::path out = "Test_Report.html";
  std::vector<std::filesystem::path> logs;        // none: the station's logs
  std::optional<std::string> db;                  // --db CONNINFO: the line's database instead
  std::vector<std::string> stations;              // --station NAME (with --db): these only
  bool help = false;
};

struct ParsedOptions {
  std::optional<ReportOptions> options;
  std::string error;  // why there are none
};

ParsedOptions parseOptions(const std::vector<std::string>& args);
extern const char* const UsageText;

}  // namespace quenby::report
