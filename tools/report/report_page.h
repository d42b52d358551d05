// The report as one self-contained HTML page: inline style and charts, no script, no link out.
#pragma once

#include <string>

#include "tools/report/report_charts.h"
#include "tools/report/report_input.h"

namespace quenby::report {

struct PageNotes {
  std::string generated;  // when the report was made
  std::string limits;     // where the limits came from, or that there are none
};

std::string reportPage(const ReportInput& input, const ReportCharts& charts, const PageNotes& notes);

}  // namespace quenby::report
