// A connection to the line's PostgreSQL database through libpq: statements with parameters and
// COPY only, so that nothing read from a log ever becomes part of a statement's text.
#pragma once

#include <libpq-fe.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quenby::sync {

// A failed connection or statement. connectionLost: the server is gone (down, unreachable, the
// link broke); otherwise the server refused (privileges, full disk, a constraint).
class PgError : public std::runtime_error {
 public:
  PgError(const std::string& message, bool connectionLost, std::string sqlState = {})
      : std::runtime_error(message), connectionLost(connectionLost), sqlState(std::move(sqlState)) {}
  bool connectionLost;
  std::string sqlState;  // the server's SQLSTATE, when it gave one
};

class PgResult {
 public:
  explicit PgResult(PGresult* result) : result_(result, PQclear) {}
  int rows() const { return PQntuples(result_.get()); }
  bool isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string_view text(int row, int column) const {
    return {PQgetvalue(result_.get(), row, column),
            static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
  }
  long long number(int row, int column) const;
  // Rows that an INSERT, UPDATE or DELETE touched.
  long long affected() const;

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> result_;
};

using Param = std::optional<std::string_view>;  // nullopt: SQL NULL

class PgConnection {
 public:
  // conninfo: a libpq connection string or URI; empty takes the libpq environment (PGHOST,
  // PGSERVICE...). Throws PgError when no connection can be made.
  explicit PgConnection(const std::string& conninfo);

  PgResult exec(const char* sql, std::initializer_list<Param> params = {});
  // Runs fixed statements of the program's own (several, separated by ";"), without parameters.
  void execScript(const char* sql);
  // Runs "COPY ... FROM STDIN" and sends the rows (COPY's text format).
  void copyIn(const char* copySql, std::string_view rows);
  // Ends an open transaction without its changes; never throws.
  void rollbackQuietly() noexcept;

 private:
  [[noreturn]] void fail(PGresult* result);
  std::unique_ptr<PGconn, void (*)(PGconn*)> conn_;
};

}  // namespace quenby::sync
