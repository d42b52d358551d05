// A throwaway PostgreSQL server for one test suite: initdb and pg_ctl into a temporary folder,
// listening on a Unix socket in that folder only (no TCP port), run as the postgres user when the
// tests run as root. Stopped and removed by the destructor, also when a test failed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quenby::sync::testing {

class PgServer {
 public:
  PgServer();
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // Empty when the server runs; else why there is none (binaries missing, initdb failed...).
  const std::string& problem() const { return problem_; }
  bool binariesMissing() const { return binariesMissing_; }

  // A libpq connection string for a database of this server.
  std::string conninfo(const std::string& database = "postgres") const;
  // A new empty database, for one test.
  std::string createDatabase();

  // pg_ctl stop -m immediate: the server dies as in a crash, without a clean shutdown.
  bool crash();
  bool start();
  std::string serverLog() const;

 private:
  bool runTool(const std::string& tool, const std::vector<std::string>& args);

  std::filesystem::path bin_, dir_;
  std::string problem_;
  bool binariesMissing_ = false;
  bool running_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool switchUser_ = false;
  int databases_ = 0;
};

}  // namespace quenby::sync::testing
