#include "tools/sync/sync_options.h"

namespace quenby::sync {

const char* const SyncUsage =
    "usage: quenby-sync [--station NAME] [--db CONNINFO] [--once] [FOLDER]\n"
    "       quenby-sync [--db CONNINFO] --history SERIAL\n"
    "Sends every run of the test logs (Test_Log_*.csv) in FOLDER (default: the program's folder)\n"
    "to the line's PostgreSQL database, each exactly once, and keeps following the logs until\n"
    "SIGTERM or SIGINT; --once sends what is there and exits. NAME defaults to the host name.\n"
    "CONNINFO is a libpq connection string or URI; without it the libpq environment (PGHOST,\n"
    "PGDATABASE, PGSERVICE...) applies. Passwords belong in ~/.pgpass or a service file, never on\n"
    "the command line. --history prints a serial number's runs across the whole line.\n";

ParsedSyncOptions parseSyncOptions(const std::vector<std::string>& args) {
  SyncOptions o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--once") {
      o.once = true;
    } else if (a == "--station" || a == "--db" || a == "--history") {
      if (i + 1 >= args.size()) return {std::nullopt, a + " needs a value"};
      const std::string& value = args[++i];
      if (a == "--station") {
        if (value.empty()) return {std::nullopt, "--station needs a name"};
        o.station = value;
      } else if (a == "--db") {
        o.conninfo = value;
      } else {
        o.history = value;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      return {std::nullopt, "unknown option " + a};
    } else if (o.folder) {
      return {std::nullopt, "one station folder only"};
    } else {
      o.folder = a;
    }
  }
  if (o.history && (o.once || o.folder || !o.station.empty()))
    return {std::nullopt, "--history takes no station, folder or --once"};
  return {o, {}};
}

}  // namespace quenby::sync
