// The NMEA sentences a simulated module sends once per fix: GGA, GLL, GSA, the GSV cycle, RMC,
// VTG and ZDA, framed with checksum and CR LF.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/modsim/scenario.h"
#include "tools/modsim/sky_model.h"

namespace quenby::modsim {

struct UtcTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

UtcTime utcOf(std::chrono::system_clock::time_point time);

// Everything one fix's sentences report.
struct FixEpoch {
  UtcTime utc;
  bool fixed = false;  // a valid position; otherwise the sentences say "no fix"
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  std::vector<SatelliteView> satellites;
};

// Most satellites a GSA sentence lists as used in the fix.
inline constexpr std::size_t MaxSatellitesUsed = 12;
// Satellites per GSV message, and messages per cycle.
inline constexpr std::size_t SatellitesPerGsv = 4;
inline constexpr std::size_t MaxGsvMessages = 4;

std::string ggaSentence(const FixEpoch& epoch);
std::string gllSentence(const FixEpoch& epoch);
std::string gsaSentence(const FixEpoch& epoch);
// One to four messages; a sky without satellites gives the single message "1,1,00". Satellites
// beyond the sixteenth are left out.
std::vector<std::string> gsvCycle(const std::vector<SatelliteView>& satellites);
std::string rmcSentence(const FixEpoch& epoch);
std::string vtgSentence(const FixEpoch& epoch);
std::string zdaSentence(const FixEpoch& epoch);

// The sentences of fix number `fix` (from 0), in the module's output order: each kind whose rate
// is non-zero and divides the fix number.
std::vector<std::string> epochSentences(const FixEpoch& epoch, const OutputRates& rates,
                                        std::uint64_t fix);

}  // namespace quenby::modsim
