// The satellites a simulated module reports in view: a fixed sky over the production line, with
// signal levels that wander a little from fix to fix.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quenby::modsim {

struct SatelliteView {
  int id = 0;
  int elevation = 0;       // degrees
  int azimuth = 0;         // degrees
  std::optional<int> snr;  // dB-Hz; none while the satellite is not tracked

  bool operator==(const SatelliteView&) const = default;
};

// The first `count` satellites of the sky (at most 16) at fix number `fix`; their signal levels lie
// a few dB-Hz around `snr` and change by at most one between fixes.
std::vector<SatelliteView> skyAt(int count, int snr, std::uint64_t fix);

// The sky with the satellite of the factory tests in it, carrying `snr` (none: not yet acquired).
// A satellite already in view gets the new level; otherwise it is added, in place of the last one
// when the sky is full.
std::vector<SatelliteView> withChosenSatellite(std::vector<SatelliteView> sky, int id,
                                               std::optional<int> snr);

}  // namespace quenby::modsim
