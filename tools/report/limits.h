// The pass limits of the measured values, as the station's settings set them.
#pragma once

#include <array>
#include <filesystem>
#include <optional>

#include "settings/test_settings.h"
#include "tools/report/measures.h"

namespace quenby::report {

// A value passes when it lies within [low, high]; a missing side does not limit.
struct Limit {
  std::optional<double> low, high;
  bool any() const { return low || high; }
  bool outside(double v) const { return (low && v < *low) || (high && v > *high); }
};
using Limits = std::array<Limit, MeasureCount>;

// Times pass below their item's time-out, the phase ratio at or above its limit, the TCXO offset
// and drift within plus or minus theirs, the CNR mean at or above its threshold and its sigma at
// or below the allowed deviation. Total time has no limit.
Limits limitsOf(const TestSettings& settings);

// Reads a settings file with the station's own loader (missing keys give the station's
// defaults). nullopt when the file does not exist or cannot be read.
std::optional<Limits> readLimits(const std::filesystem::path& settingsFile);

}  // namespace quenby::report
