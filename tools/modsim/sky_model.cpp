#include "tools/modsim/sky_model.h"

#include <algorithm>
#include <array>

#include "tools/modsim/scenario.h"

namespace quenby::modsim {
namespace {

// GPS satellite numbers of the sky, in the order the module lists them.
constexpr std::array<int, MaxSatellitesInView> kSkyIds = {14, 22, 24, 19, 6, 3, 18, 31,
                                                          21, 9, 1, 12, 15, 25, 28, 11};
// Signal levels are clamped to what a GSV field holds.
constexpr int kMaxSnr = 99;
// Spread of the satellites' typical levels around the sky's level: -3 to +5 dB-Hz.
constexpr int kLevelSpread = 9;
constexpr int kLevelBelow = 3;
// Satellites stay above this elevation, and below 85 degrees.
constexpr int kLowestElevation = 5;
constexpr int kElevationSpan = 80;
constexpr int kFullCircle = 360;

// A small deterministic hash, so that every run of the simulator shows the same sky.
std::uint32_t mix(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  return static_cast<std::uint32_t>(value);
}

// -1, 0 or +1, different for each satellite and fix.
int jitter(int id, std::uint64_t fix) {
  return static_cast<int>(mix((fix << 8) ^ static_cast<std::uint64_t>(id)) % 3) - 1;
}

}  // namespace

std::vector<SatelliteView> skyAt(int count, int snr, std::uint64_t fix) {
  count = std::clamp(count, 0, MaxSatellitesInView);
  std::vector<SatelliteView> sky;
  sky.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int id = kSkyIds[static_cast<std::size_t>(i)];
    const int level = snr + (id * 13) % kLevelSpread - kLevelBelow + jitter(id, fix);
    sky.push_back({id, kLowestElevation + (id * 37) % kElevationSpan, (id * 97) % kFullCircle,
                   std::clamp(level, 0, kMaxSnr)});
  }
  return sky;
}

std::vector<SatelliteView> withChosenSatellite(std::vector<SatelliteView> sky, int id,
                                               std::optional<int> snr) {
  if (snr) snr = std::clamp(*snr, 0, kMaxSnr);
  for (SatelliteView& s : sky) {
    if (s.id == id) {
      s.snr = snr;
      return sky;
    }
  }
  const SatelliteView chosen{id, kLowestElevation + (id * 37) % kElevationSpan, (id * 97) % kFullCircle,
                             snr};
  if (sky.size() >= static_cast<std::size_t>(MaxSatellitesInView))
    sky.back() = chosen;
  else
    sky.push_back(chosen);
  return sky;
}

}  // namespace quenby::modsim
