// A test suite's own PostgreSQL server, a fresh database and station folder for each test, and
// quenby-sync run over the folder.
#pragma once

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/temp_folder.h"
#include "report/log_lines.h"
#include "sync/pg_server.h"
#include "sync/sync_process.h"
#include "tools/sync/pg_connection.h"

namespace quenby::sync::testing {

namespace fs = std::filesystem;

constexpr const char* LogName = "Test_Log_2024.3.4.csv";

class SyncServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new PgServer; }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (server_->binariesMissing()) GTEST_SKIP() << server_->problem();
    ASSERT_EQ(server_->problem(), "");
    conninfo_ = server_->conninfo(server_->createDatabase());
    // A station two hours east of UTC, whatever the machine's zone.
    ::setenv("TZ", "QNB-2", 1);
    ::setenv("PGTZ", "UTC", 1);
  }

  std::vector<std::string> args(const std::string& station, const fs::path& folder) const {
    return {"--station", station, "--db", conninfo_, folder.string()};
  }
  // quenby-sync --once over the folder; its exit status (errors_ gets its stderr).
  int sendOnce(const fs::path& folder, const std::string& station = "A") {
    auto a = args(station, folder);
    a.insert(a.begin(), "--once");
    SyncProcess p(a, work_ / ("stderr" + std::to_string(++runs_)));
    const int status = p.wait();
    errors_ = p.errors();
    return status;
  }
  void append(const std::string& bytes, const std::string& name = LogName) const {
    std::ofstream out(station_ / name, std::ios::binary | std::ios::app);
    out << bytes;
  }
  PgConnection& db() {
    if (!db_) db_ = std::make_unique<PgConnection>(conninfo_);
    return *db_;
  }
  long long count(const char* sql, std::initializer_list<Param> params = {}) {
    return db().exec(sql, params).number(0, 0);
  }
  // The runs in the database; 0 before the program made its tables, -1 while it cannot tell.
  long long rows() {
    try {
      return count("SELECT count(*) FROM runs");
    } catch (const PgError& e) {
      db_.reset();
      return e.sqlState == "42P01" ? 0 : -1;
    }
  }
  std::vector<std::string> column(const char* sql, std::initializer_list<Param> params = {}) {
    const PgResult r = db().exec(sql, params);
    std::vector<std::string> values;
    for (int i = 0; i < r.rows(); ++i) values.emplace_back(r.isNull(i, 0) ? "NULL" : r.text(i, 0));
    return values;
  }
  // The file's lines without their line ends; the last one only when it is whole.
  static std::vector<std::string> wholeLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t nl; (nl = bytes.find('\n', at)) != std::string::npos; at = nl + 1) {
      std::string line = bytes.substr(at, nl - at);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  std::vector<std::string> sentLines(const std::string& file = LogName) {
    return column("SELECT csv_line FROM runs WHERE log_file = $1 ORDER BY line_number", {file});
  }

  static inline PgServer* server_ = nullptr;
  quenby::testing::TempFolder station_, work_;
  std::string conninfo_, errors_;
  int runs_ = 0;
  std::unique_ptr<PgConnection> db_;
};


}  // namespace quenby::sync::testing
