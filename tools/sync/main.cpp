// quenby-sync: sends the station's test logs to the line's PostgreSQL database, every run exactly
// once, and follows the logs as they grow; or prints a serial number's history across the line.
#include <unistd.h>

#include <climits>
#include <iostream>

#include "engine/program_folder.h"
#include "quenby_version.h"
#include "tools/sync/serial_history.h"
#include "tools/sync/station_sync.h"
#include "tools/sync/sync_options.h"

namespace {

using namespace quenby::sync;

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "station";
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-sync")) return 0;
  const ParsedSyncOptions parsed = parseSyncOptions({argv + 1, argv + argc});
  if (!parsed.options) {
    std::cerr << "quenby-sync: " << parsed.error << "\n" << SyncUsage;
    return 2;
  }
  const SyncOptions& o = *parsed.options;
  if (o.help) {
    std::cout << SyncUsage;
    return 0;
  }
  if (o.history) {
    try {
      PgConnection db(o.conninfo);
      if (printSerialHistory(db, *o.history, std::cout) == 0) {
        std::cerr << "quenby-sync: no runs of this serial number in the line's database\n";
        return 1;
      }
      return 0;
    } catch (const PgError& e) {
      std::cerr << "quenby-sync: " << e.what() << "\n";
      return 1;
    }
  }

  StationSync s;
  s.station = o.station.empty() ? hostName() : o.station;
  s.conninfo = o.conninfo;
  s.folder = o.folder.value_or(quenby::programFolder());
  s.once = o.once;
  return runStationSync(s, [](const std::string& message) {
    std::cerr << "quenby-sync: " << message << std::endl;
  });
}
