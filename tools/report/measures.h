// The measured values that a test log line holds, in the order of their columns.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace quenby::report {

enum class Measure : std::size_t {
  AcquisitionTime,
  BitSyncTime,
  PhaseRatio,
  TcxoOffset,
  TcxoDrift,
  CnrMean,
  CnrSigma,
  ColdStartTtff,
  ResetTime,
  TotalTime,
};
inline constexpr std::size_t MeasureCount = 10;

struct MeasureInfo {
  Measure measure;
  std::string_view column;  // the log's header name, blanks trimmed
  std::string_view title;   // what the report calls it
  std::string_view unit;    // "" for a ratio
};

inline constexpr std::array<MeasureInfo, MeasureCount> Measures{{
    {Measure::AcquisitionTime, "Acq Time", "Acquisition time", "s"},
    {Measure::BitSyncTime, "Bit Sync", "Bit-sync time", "s"},
    {Measure::PhaseRatio, "Phase Error", "Phase ratio", ""},
    {Measure::TcxoOffset, "TCXO Offset", "TCXO offset", "Hz"},
    {Measure::TcxoDrift, "TCXO Drift", "TCXO drift", "Hz/s"},
    {Measure::CnrMean, "CNR Mean", "CNR mean", "dB-Hz"},
    {Measure::CnrSigma, "CNR Sigma", "CNR sigma", "dB"},
    {Measure::ColdStartTtff, "CTTFF", "Cold-start TTFF", "s"},
    {Measure::ResetTime, "Reset", "Reset time", "s"},
    {Measure::TotalTime, "Total Time", "Total time", "s"},
}};

constexpr std::size_t index(Measure m) { return static_cast<std::size_t>(m); }
constexpr const MeasureInfo& info(Measure m) { return Measures[index(m)]; }

}  // namespace quenby::report
