// Writes test logs of a made-up production line, for trying the report and for measuring it: a
// shift of runs on every port every day, with plausible values, fails, time-outs, stopped runs
// and retested serial numbers. The same model and seed always give the same files.
#pragma once

#include <cstdint>
#include <filesystem>

namespace quenby::report {

struct LineModel {
  std::int32_t firstDay = 19723;   // days since 1970-01-01 (2024-01-01)
  int days = 7;
  int ports = 16;                  // COM1 .. COMn
  int runsPerPortDay = 40;
  std::uint16_t weakPort = 0;      // a port whose CNR reads 2.6 dB low (0: none)
  std::uint32_t seed = 1;
};

// Writes Test_Log_<Y>.<M>.<D>.csv for every day into the folder; returns the run lines written.
std::uint64_t writeLineLogs(const std::filesystem::path& folder, const LineModel& model);

}  // namespace quenby::report
