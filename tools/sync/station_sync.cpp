#include "tools/sync/station_sync.h"

#include <memory>
#include <system_error>

#include "tools/report/report_input.h"
#include "tools/sync/line_schema.h"
#include "tools/sync/log_committer.h"
#include "tools/sync/log_watch.h"
#include "tools/sync/retry_pause.h"

namespace quenby::sync {
namespace {

// Folder events are the wake-up; a look now and then also catches what they may miss (a folder
// on a network file system).
constexpr int RescanMs = 60000;

}  // namespace

int runStationSync(const StationSync& s, const std::function<void(const std::string&)>& say) {
  std::unique_ptr<LogWatch> watch;
  try {
    watch = std::make_unique<LogWatch>(s.folder);
  } catch (const std::system_error& e) {
    say(std::string("cannot follow the station folder: ") + e.what());
    return 2;
  }
  const auto stop = [&] { return watch->stopRequested(); };

  LogCommitter committer(s.station, say);
  std::unique_ptr<PgConnection> db;
  RetryPause pause;
  bool toldDown = false;
  std::string lastRefusal;
  while (!stop()) {
    try {
      if (!db) {
        db = std::make_unique<PgConnection>(s.conninfo);
        upgradeSchema(*db);
        committer.loadProgress(*db);
        if (toldDown || !lastRefusal.empty()) say("database reachable again");
        toldDown = false;
        lastRefusal.clear();
      }
      for (const auto& log : report::stationLogs(s.folder, {})) {
        if (stop()) break;
        committer.send(*db, log, stop);
      }
      pause.reset();
      if (s.once) return 0;
      if (watch->wait(RescanMs) == LogWatch::Woken::Stop) break;
    } catch (const PgError& e) {
      db.reset();
      if (e.connectionLost) {
        if (!toldDown)
          say(std::string("database unreachable: ") + e.what() +
              " (the runs wait in the logs; retrying)");
        toldDown = true;
      } else if (e.what() != lastRefusal) {
        lastRefusal = e.what();
        say(std::string("database refused: ") + e.what() + " (retrying)");
      }
      if (s.once) return 1;
      if (watch->wait(pause.next()) == LogWatch::Woken::Stop) break;
    } catch (const std::runtime_error& e) {
      say(e.what());
      return 2;
    }
  }
  return 0;
}

}  // namespace quenby::sync
