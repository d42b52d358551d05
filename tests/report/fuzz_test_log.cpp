// libFuzzer target: any bytes as a test log file, read and summed up as the report does.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/report/log_reader.h"
#include "tools/report/run_statistics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quenby::report;
  RejectedLines rejected;
  RunStatistics statistics;
  LogReader reader(rejected, [&](const LoggedRun& run) { statistics.add(run); });
  reader.readBytes("Test_Log_2024.3.4.csv", {reinterpret_cast<const char*>(data), size});
  Limits limits;
  limits[index(Measure::CnrMean)].low = 40;
  const Figures figures = statistics.figures(limits);
  return figures.overall.runs > rejected.total() + size ? 1 : 0;
}
