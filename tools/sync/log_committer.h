// Sends a station's log files to the database exactly once: each transaction adds the runs of a
// batch of whole lines and moves the file's committed progress past them, so after any crash,
// lost connection or kill the database's progress says exactly which lines it holds. A line
// without its line end yet waits for it.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "tools/sync/log_progress.h"
#include "tools/sync/pg_connection.h"

namespace quenby::sync {

struct SendOutcome {
  std::int64_t runs = 0;     // runs committed
  std::int64_t skipped = 0;  // lines committed as not runs
  bool changed = false;      // the file no longer matches what was sent: nothing was sent
};

class LogCommitter {
 public:
  using Say = std::function<void(const std::string&)>;

  LogCommitter(std::string station, Say say);

  // Takes the progress of the station's files from the database: after every (re)connection,
  // since a transaction cut off at its commit may or may not have happened.
  void loadProgress(PgConnection& db);

  // Sends the complete new lines of one log; `stop` is asked between transactions. Throws
  // PgError on database faults (the progress is then to be loaded again).
  SendOutcome send(PgConnection& db, const std::filesystem::path& log,
                   const std::function<bool()>& stop);

  const std::string& station() const { return station_; }
  std::size_t maxLinesPerTransaction = 5000;

 private:
  bool stillTheSame(const std::string& name, int fd, std::int64_t size, const LogProgress& p,
                    std::string& firstLine);
  void commit(PgConnection& db, const std::string& name, const LogProgress& before,
              const LogProgress& after, const std::string& rows);

  std::string station_;
  Say say_;
  std::map<std::string, LogProgress> progress_;
  std::set<std::string> toldChanged_;
  // When each file was last found matching what was sent (its time of change, s and ns).
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> lastSeen_;
};

}  // namespace quenby::sync
