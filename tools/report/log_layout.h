// Where each column of a test log line is, as the station's header line names them. The station
// writes one of two headers: with a BT_Mac column between CTTFF and Reset, or without.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "tools/report/measures.h"

namespace quenby::report {

// Columns are field indexes; a column the header lacks (BT_Mac) has fieldCount as its index.
struct LogLayout {
  std::size_t fieldCount = 0;
  std::size_t serial = 0, verdict = 0, port = 0, date = 0, time = 0;
  std::size_t updateHz = 0, socket = 0, flash = 0, firmware = 0, svid = 0, btMac = 0, nmea = 0;
  std::array<std::size_t, MeasureCount> measures{};
};

// The layout of the header the station writes today (no BT_Mac column): assumed for a file until
// its header line says otherwise.
const LogLayout& defaultLayout();

// The layout of one of the station's header lines, nullopt for any other line.
std::optional<LogLayout> layoutOfHeader(std::span<const std::string> fields);

}  // namespace quenby::report
