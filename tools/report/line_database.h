// The report's figures from the line's PostgreSQL database, where quenby-sync puts every
// station's runs: worked out by the server from its summaries (sums per station, day, port and
// hour, per fail code, per measured value, per serial number), never by fetching the runs.
#pragma once

#include <string>
#include <vector>

#include "tools/report/limits.h"
#include "tools/report/report_input.h"

namespace quenby::report {

struct LineSelection {
  std::string conninfo;               // libpq connection string or URI; empty: the environment
  std::vector<std::string> stations;  // none: every station
  Period period;
};

// Throws sync::PgError when the database cannot be read (unreachable, no line tables).
ReportInput readLineDatabase(const LineSelection& selection, const Limits& limits);

}  // namespace quenby::report
