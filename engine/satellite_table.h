// The satellites of the last GSV cycle: id and signal-to-noise value (dB-Hz) per entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quenby {

inline constexpr std::size_t SatelliteTableSize = 14;

struct Satellite {
  std::int32_t id = 0;
  std::int32_t snr = 0;
  bool operator==(const Satellite&) const = default;
};

using SatelliteTable = std::array<Satellite, SatelliteTableSize>;

}  // namespace quenby
