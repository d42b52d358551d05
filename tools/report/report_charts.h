// The report's charts, each as inline SVG text ("" where there is nothing to draw).
#pragma once

#include <array>
#include <string>

#include "tools/report/run_statistics.h"

namespace quenby::report {

struct ReportCharts {
  std::string yieldByDay, ports, failCodes, firstPass, throughput;
  std::array<std::string, MeasureCount> distribution, dailyMean;
};

// Draws every chart with Qt Charts. Needs a QApplication.
ReportCharts drawCharts(const Figures& figures);

}  // namespace quenby::report
