// The few lines quenby-report prints: runs, passes, yield and the most frequent fail codes.
#pragma once

#include <string>

#include "tools/report/report_input.h"

namespace quenby::report {

// "92.3 %", or "-" when there is no judged run.
std::string percentText(const std::optional<double>& percent);

std::string textSummary(const ReportInput& input);

}  // namespace quenby::report
