#include "tools/report/log_layout.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/test_log.h"
#include "settings/test_settings.h"
#include "tools/report/csv_line.h"

namespace quenby::report {
namespace {

struct KnownHeader {
  std::vector<std::string> names;
  LogLayout layout;
};

std::size_t column(const std::vector<std::string>& names, std::string_view name) {
  return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

// The header as the station's log writer makes it, split by the same CSV reader as the logs.
KnownHeader knownHeader(std::uint32_t offeredItems) {
  std::string line = TestLog::headerLine(offeredItems);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  CsvLine csv;
  const auto fields = csv.split(line);
  KnownHeader h{{fields.begin(), fields.end()}, {}};
  h.layout.fieldCount = h.names.size();
  h.layout.serial = column(h.names, "SerialNo");
  h.layout.verdict = column(h.names, "Pass/Fail");
  h.layout.port = column(h.names, "ComPort");
  h.layout.date = column(h.names, "Date");
  h.layout.time = column(h.names, "Time");
  h.layout.updateHz = column(h.names, "Hz");
  h.layout.socket = column(h.names, "Socket");
  h.layout.flash = column(h.names, "Flash");
  h.layout.firmware = column(h.names, "f/w version");
  h.layout.svid = column(h.names, "SVid");
  h.layout.btMac = column(h.names, "BT_Mac");
  h.layout.nmea = column(h.names, "NMEA");
  for (const auto& m : Measures) h.layout.measures[index(m.measure)] = column(h.names, m.column);
  return h;
}

const std::array<KnownHeader, 2>& knownHeaders() {
  static const std::array<KnownHeader, 2> headers{
      knownHeader(item::OfferedItems), knownHeader(item::OfferedItems | item::BluetoothMac)};
  return headers;
}

}  // namespace

const LogLayout& defaultLayout() { return knownHeaders()[0].layout; }

std::optional<LogLayout> layoutOfHeader(std::span<const std::string> fields) {
  for (const auto& h : knownHeaders())
    if (std::equal(fields.begin(), fields.end(), h.names.begin(), h.names.end())) return h.layout;
  return std::nullopt;
}

}  // namespace quenby::report
