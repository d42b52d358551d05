// Finds the station's test logs and reads them into the report's figures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/report/limits.h"
#include "tools/report/rejected_lines.h"
#include "tools/report/run_statistics.h"

namespace quenby::report {

// The days a report covers, both ends included; an open end does not limit.
struct Period {
  std::optional<std::int32_t> from, to;
  bool contains(std::int32_t day) const { return (!from || day >= *from) && (!to || day <= *to); }
};

// The station's logs in a folder (Test_Log_<Y>.<M>.<D>.csv), oldest first, leaving out those whose
// day lies outside the period.
std::vector<std::filesystem::path> stationLogs(const std::filesystem::path& folder,
                                               const Period& period);

// One station of a line beside the others (a report from the line's database).
struct StationFigures {
  std::string station;
  YieldCounts counts;
  std::vector<PortFigures> ports;  // flagged against this station's own ports
  std::optional<double> portCnrMedian, portYieldMedian;
  std::uint64_t logFiles = 0, skippedLines = 0;
};

// Every run of one serial number across the line, oldest first.
struct SerialHistory {
  struct Run {
    std::string station, port, time, verdict, failCode;
  };
  std::string serial;
  std::vector<Run> runs;
};

struct ReportInput {
  std::vector<std::string> files;  // names of the files read
  std::uint64_t runsOutsidePeriod = 0;
  RejectedLines rejected;
  Figures figures;
  // From the line's database only: where it is, its stations, the most tested serial numbers'
  // histories, and the lines its programs skipped.
  std::string database;
  std::vector<StationFigures> stations;
  std::vector<SerialHistory> serialHistories;
  std::uint64_t skippedLines = 0;
};

// Reads every file (in the order given) and keeps the runs whose Date lies in the period.
ReportInput readLogs(const std::vector<std::filesystem::path>& files, const Period& period,
                     const Limits& limits);

}  // namespace quenby::report
