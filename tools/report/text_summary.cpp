#include "tools/report/text_summary.h"

#include <cstdio>

#include "tools/report/civil_date.h"

namespace quenby::report {

std::string percentText(const std::optional<double>& percent) {
  if (!percent) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", *percent);
  return text;
}

std::string textSummary(const ReportInput& input) {
  const Figures& f = input.figures;
  const YieldCounts& c = f.overall;
  std::string s = input.database.empty()
                      ? "Test logs: " + std::to_string(input.files.size()) + " file(s)"
                      : "Line " + input.database + ": " + std::to_string(input.stations.size()) +
                            " station(s), " + std::to_string(input.files.size()) + " log file(s)";
  if (!f.days.empty())
    s += ", runs from " + dateText(f.days.front().day) + " to " + dateText(f.days.back().day);
  s += "\nRuns: " + std::to_string(c.runs) + "  Passes: " + std::to_string(c.passes) +
       "  Fails: " + std::to_string(c.fails()) + "  Aborted: " + std::to_string(c.aborted);
  s += "\nYield: " + percentText(c.yieldPercent());
  if (c.aborted) s += " (stopped runs left out)";
  s += "\nTop fail codes:";
  if (f.failCodes.empty()) s += " none";
  for (std::size_t i = 0; i < f.failCodes.size() && i < 3; ++i)
    s += std::string(i ? ", " : " ") + f.failCodes[i].code + " " +
         std::to_string(f.failCodes[i].count);
  s += "\n";
  if (input.rejected.total())
    s += "Lines not read: " + std::to_string(input.rejected.total()) + " (listed in the report)\n";
  if (input.skippedLines)
    s += "Lines that were not runs: " + std::to_string(input.skippedLines) + " (skipped by quenby-sync)\n";
  for (const StationFigures& st : input.stations)
    s += "  " + st.station + ": " + std::to_string(st.counts.runs) + " runs, yield " +
         percentText(st.counts.yieldPercent()) + "\n";
  return s;
}

}  // namespace quenby::report
