#include "tools/sync/pg_connection.h"

#include <charconv>
#include <vector>

namespace quenby::sync {
namespace {

std::string trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

long long PgResult::number(int row, int column) const {
  const std::string_view t = text(row, column);
  long long value = 0;
  std::from_chars(t.data(), t.data() + t.size(), value);
  return value;
}

long long PgResult::affected() const {
  const char* n = PQcmdTuples(result_.get());
  long long value = 0;
  std::from_chars(n, n + std::char_traits<char>::length(n), value);
  return value;
}

PgConnection::PgConnection(const std::string& conninfo) : conn_(nullptr, PQfinish) {
  // The dbname keyword takes a whole connection string or URI; its parts then count one by one.
  const char* keys[] = {"dbname", "fallback_application_name", "connect_timeout", nullptr};
  const char* values[] = {conninfo.c_str(), "quenby-sync", "10", nullptr};
  conn_.reset(PQconnectdbParams(keys, values, 1));
  if (!conn_) throw PgError("out of memory for a database connection", true);
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    // A server that answered with a fatal error (wrong password, no such database or role) was
    // reached and refused; anything else never reached one.
    const std::string message = trimmed(PQerrorMessage(conn_.get()));
    throw PgError(message, message.find("FATAL:") == std::string::npos);
  }
  // The server's notices ("already exists, skipping") are no news to anyone.
  PQsetNoticeProcessor(conn_.get(), [](void*, const char*) {}, nullptr);
}

void PgConnection::fail(PGresult* result) {
  const bool lost = PQstatus(conn_.get()) == CONNECTION_BAD;
  std::string message = trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_.get()));
  if (message.empty()) message = trimmed(PQerrorMessage(conn_.get()));
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  std::string sqlState = state ? state : "";
  if (result) PQclear(result);
  throw PgError(message, lost, std::move(sqlState));
}

PgResult PgConnection::exec(const char* sql, std::initializer_list<Param> params) {
  // libpq wants each value ending in a NUL: the values are copied once into strings.
  std::vector<std::string> texts;
  std::vector<const char*> values;
  texts.reserve(params.size());
  values.reserve(params.size());
  for (const Param& p : params) {
    if (p) {
      texts.emplace_back(*p);
      values.push_back(texts.back().c_str());
    } else {
      values.push_back(nullptr);
    }
  }
  PGresult* r = PQexecParams(conn_.get(), sql, static_cast<int>(values.size()), nullptr,
                             values.data(), nullptr, nullptr, 0);
  const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r);
  return PgResult(r);
}

void PgConnection::execScript(const char* sql) {
  PGresult* r = PQexec(conn_.get(), sql);
  const ExecStatusType status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r);
  PQclear(r);
}

void PgConnection::copyIn(const char* copySql, std::string_view rows) {
  PGresult* r = PQexec(conn_.get(), copySql);
  if (!r || PQresultStatus(r) != PGRES_COPY_IN) fail(r);
  PQclear(r);
  // Sent in pieces that fit an int; libpq buffers and flushes as it goes.
  constexpr std::size_t Piece = 1 << 20;
  for (std::size_t at = 0; at < rows.size(); at += Piece) {
    const std::string_view piece = rows.substr(at, Piece);
    if (PQputCopyData(conn_.get(), piece.data(), static_cast<int>(piece.size())) != 1) fail(nullptr);
  }
  if (PQputCopyEnd(conn_.get(), nullptr) != 1) fail(nullptr);
  r = PQgetResult(conn_.get());
  const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
  if (!ok) {
    // Read to the end of the command so that the connection is usable (or known lost) after.
    while (PGresult* more = PQgetResult(conn_.get())) PQclear(more);
    fail(r);
  }
  PQclear(r);
  while (PGresult* more = PQgetResult(conn_.get())) PQclear(more);
}

void PgConnection::rollbackQuietly() noexcept {
  if (PQstatus(conn_.get()) != CONNECTION_OK) return;
  if (PGresult* r = PQexec(conn_.get(), "ROLLBACK")) PQclear(r);
}

}  // namespace quenby::sync
