#include "tools/sync/line_schema.h"

#include <array>
#include <string>

namespace quenby::sync {
namespace {

// Version 1: every run of every station, and how far each station's log files have been sent.
// A run is known by its station, log file and line number. The typed columns hold the log's
// fields (log_date and log_time as written, tested_at the instant they name); a measure is NULL for N/A or a time-out, and the time-outs are kept as one bit per
// measure (in the log's column order, Acq Time first).
constexpr const char* VersionOne = R"sql(
CREATE TABLE runs (
  station text NOT NULL,
  log_file text NOT NULL,
  line_number integer NOT NULL,
  csv_line text NOT NULL,
  serial_number text NOT NULL,
  verdict text NOT NULL CHECK (verdict IN ('Pass', 'Fail', 'Abort')),
  fail_code text NOT NULL,
  update_hz real,
  socket text NOT NULL,
  port integer,
  log_date date NOT NULL,
  log_time time NOT NULL,
  tested_at timestamptz NOT NULL,
  flash text,
  firmware text,
  sv_id integer,
  acq_time real,
  bit_sync_time real,
  phase_error real,
  tcxo_offset real,
  tcxo_drift real,
  cnr_mean real,
  cnr_sigma real,
  cold_ttff real,
  bt_mac text,
  reset_time real,
  nmea text,
  total_time real,
  timeouts integer NOT NULL DEFAULT 0,
  PRIMARY KEY (station, log_file, line_number)
);
CREATE INDEX runs_by_serial ON runs (serial_number, tested_at);
CREATE INDEX runs_by_date ON runs (log_date, station);
CREATE TABLE sync_progress (
  station text NOT NULL,
  log_file text NOT NULL,
  byte_offset bigint NOT NULL,
  line_count bigint NOT NULL,
  head_sum bigint NOT NULL,
  tail_start bigint NOT NULL,
  tail_sum bigint NOT NULL,
  skipped_lines bigint NOT NULL DEFAULT 0,
  updated_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (station, log_file)
);
)sql";

// Version 2: summaries kept as rows arrive, so that the line's report reads counts, not every
// run: yield per station, day, port and hour; fails per code; the measured values' count and sum
// per day, and their distinct values with their counts per day and per month (they are written
// with few decimals; a month's table serves the whole months of a period); and each serial
// number's first and last run across the line (stopped runs left out). A trigger adds each
// statement's runs; the runs already there are summed once.
// Each run's measured values as rows: (measure, value, timed out), in the log's column order.
#define QUENBY_MEASURES \
  "VALUES (0, r.acq_time, r.timeouts & 1 <> 0), (1, r.bit_sync_time, r.timeouts & 2 <> 0), " \
  "  (2, r.phase_error, r.timeouts & 4 <> 0), (3, r.tcxo_offset, r.timeouts & 8 <> 0), " \
  "  (4, r.tcxo_drift, r.timeouts & 16 <> 0), (5, r.cnr_mean, r.timeouts & 32 <> 0), " \
  "  (6, r.cnr_sigma, r.timeouts & 64 <> 0), (7, r.cold_ttff, r.timeouts & 128 <> 0), " \
  "  (8, r.reset_time, r.timeouts & 256 <> 0), (9, r.total_time, r.timeouts & 512 <> 0)"

#define QUENBY_SUMMARISE(added) \
  "INSERT INTO run_summary AS s " \
  "SELECT station, log_date, coalesce(port, 0), extract(hour FROM log_time)::integer, count(*), " \
  "       count(*) FILTER (WHERE verdict = 'Pass'), count(*) FILTER (WHERE verdict = 'Abort'), " \
  "       count(cnr_mean), coalesce(sum(cnr_mean::float8), 0), " \
  "       min(extract(epoch FROM log_time))::integer, max(extract(epoch FROM log_time))::integer " \
  "  FROM " added " GROUP BY 1, 2, 3, 4 " \
  "ON CONFLICT (station, log_date, port, hour) DO UPDATE SET " \
  "  runs = s.runs + excluded.runs, passes = s.passes + excluded.passes, " \
  "  aborted = s.aborted + excluded.aborted, cnr_count = s.cnr_count + excluded.cnr_count, " \
  "  cnr_sum = s.cnr_sum + excluded.cnr_sum, " \
  "  first_second = least(s.first_second, excluded.first_second), " \
  "  last_second = greatest(s.last_second, excluded.last_second); " \
  "INSERT INTO fail_summary AS s " \
  "SELECT station, log_date, fail_code, count(*) FROM " added " WHERE verdict = 'Fail' " \
  "  GROUP BY 1, 2, 3 " \
  "ON CONFLICT (station, log_date, fail_code) DO UPDATE SET runs = s.runs + excluded.runs; " \
  "INSERT INTO measure_day AS s " \
  "SELECT station, log_date, m.measure, count(m.value), coalesce(sum(m.value::float8), 0) " \
  "  FROM " added " r CROSS JOIN LATERAL (" QUENBY_MEASURES ") AS m(measure, value, timed_out) " \
  "  WHERE m.value IS NOT NULL GROUP BY 1, 2, 3 " \
  "ON CONFLICT (station, log_date, measure) DO UPDATE SET " \
  "  value_count = s.value_count + excluded.value_count, value_sum = s.value_sum + excluded.value_sum; " \
  "INSERT INTO value_summary AS s " \
  "SELECT station, log_date, m.measure, m.timed_out, coalesce(m.value, 0), count(*) " \
  "  FROM " added " r CROSS JOIN LATERAL (" QUENBY_MEASURES ") AS m(measure, value, timed_out) " \
  "  WHERE m.value IS NOT NULL OR m.timed_out GROUP BY 1, 2, 3, 4, 5 " \
  "ON CONFLICT (station, log_date, measure, timed_out, value) DO UPDATE SET " \
  "  runs = s.runs + excluded.runs; " \
  "INSERT INTO value_month AS s " \
  "SELECT station, date_trunc('month', log_date)::date, m.measure, m.timed_out, " \
  "       coalesce(m.value, 0), count(*) " \
  "  FROM " added " r CROSS JOIN LATERAL (" QUENBY_MEASURES ") AS m(measure, value, timed_out) " \
  "  WHERE m.value IS NOT NULL OR m.timed_out GROUP BY 1, 2, 3, 4, 5 " \
  "ON CONFLICT (station, month, measure, timed_out, value) DO UPDATE SET " \
  "  runs = s.runs + excluded.runs; " \
  "INSERT INTO serial_summary AS s " \
  "SELECT serial_number, count(*), min(tested_at), " \
  "       (array_agg(log_date ORDER BY tested_at, station, log_file, line_number))[1], " \
  "       (array_agg(verdict = 'Pass' ORDER BY tested_at, station, log_file, line_number))[1], " \
  "       max(tested_at), " \
  "       (array_agg(verdict = 'Pass' ORDER BY tested_at DESC, station DESC, log_file DESC, " \
  "                  line_number DESC))[1], " \
  "       bool_or(verdict = 'Pass') " \
  "  FROM " added " WHERE serial_number <> '' AND verdict <> 'Abort' " \
  "  GROUP BY serial_number ORDER BY serial_number " \
  "ON CONFLICT (serial_number) DO UPDATE SET runs = s.runs + excluded.runs, " \
  "  first_day = CASE WHEN excluded.first_at < s.first_at THEN excluded.first_day ELSE s.first_day END, " \
  "  first_passed = CASE WHEN excluded.first_at < s.first_at THEN excluded.first_passed " \
  "                      ELSE s.first_passed END, " \
  "  first_at = least(s.first_at, excluded.first_at), " \
  "  last_passed = CASE WHEN excluded.last_at >= s.last_at THEN excluded.last_passed " \
  "                     ELSE s.last_passed END, " \
  "  last_at = greatest(s.last_at, excluded.last_at), " \
  "  any_passed = s.any_passed OR excluded.any_passed; "

// Serial numbers are summed in their order, so that two stations adding runs of the same modules
// at once wait for each other instead of deadlocking.
constexpr const char* VersionTwo =
    "CREATE TABLE run_summary (station text NOT NULL, log_date date NOT NULL, "
    "  port integer NOT NULL, hour integer NOT NULL, runs bigint NOT NULL, passes bigint NOT NULL, "
    "  aborted bigint NOT NULL, cnr_count bigint NOT NULL, cnr_sum double precision NOT NULL, "
    "  first_second integer NOT NULL, last_second integer NOT NULL, "
    "  PRIMARY KEY (station, log_date, port, hour)); "
    "CREATE TABLE fail_summary (station text NOT NULL, log_date date NOT NULL, "
    "  fail_code text NOT NULL, runs bigint NOT NULL, PRIMARY KEY (station, log_date, fail_code)); "
    "CREATE TABLE measure_day (station text NOT NULL, log_date date NOT NULL, "
    "  measure integer NOT NULL, value_count bigint NOT NULL, value_sum double precision NOT NULL, "
    "  PRIMARY KEY (station, log_date, measure)); "
    "CREATE TABLE value_summary (station text NOT NULL, log_date date NOT NULL, "
    "  measure integer NOT NULL, timed_out boolean NOT NULL, value real NOT NULL, "
    "  runs bigint NOT NULL, PRIMARY KEY (station, log_date, measure, timed_out, value)); "
    "CREATE INDEX value_summary_by_date ON value_summary (log_date); "
    "CREATE TABLE value_month (station text NOT NULL, month date NOT NULL, "
    "  measure integer NOT NULL, timed_out boolean NOT NULL, value real NOT NULL, "
    "  runs bigint NOT NULL, PRIMARY KEY (station, month, measure, timed_out, value)); "
    "CREATE TABLE serial_summary (serial_number text PRIMARY KEY, runs bigint NOT NULL, "
    "  first_at timestamptz NOT NULL, first_day date NOT NULL, first_passed boolean NOT NULL, "
    "  last_at timestamptz NOT NULL, last_passed boolean NOT NULL, any_passed boolean NOT NULL); "
    "CREATE INDEX serial_summary_by_runs ON serial_summary (runs DESC, serial_number); "
    "CREATE FUNCTION runs_summarise() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
    QUENBY_SUMMARISE("new_runs")
    " RETURN NULL; END $$; "
    "CREATE TRIGGER runs_summarised AFTER INSERT ON runs REFERENCING NEW TABLE AS new_runs "
    "  FOR EACH STATEMENT EXECUTE FUNCTION runs_summarise(); "
    QUENBY_SUMMARISE("runs");

#undef QUENBY_SUMMARISE
#undef QUENBY_MEASURES

constexpr std::array<const char*, LatestSchemaVersion> Steps{VersionOne, VersionTwo};

// Any number, as long as it is the same in every program that upgrades.
constexpr const char* UpgradeLock = "SELECT pg_advisory_xact_lock(7318001)";

}  // namespace

int upgradeSchema(PgConnection& db, int target) {
  db.exec("BEGIN");
  try {
    db.exec(UpgradeLock);
    db.exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
    const PgResult found = db.exec("SELECT max(version) FROM schema_version");
    const int before = found.isNull(0, 0) ? 0 : static_cast<int>(found.number(0, 0));
    if (before > LatestSchemaVersion)
      throw std::runtime_error("the database's schema is version " + std::to_string(before) +
                               ", newer than this program's " +
                               std::to_string(LatestSchemaVersion) + ": update quenby-sync");
    for (int v = before + 1; v <= target; ++v) db.execScript(Steps[static_cast<std::size_t>(v - 1)]);
    if (target > before) {
      const std::string version = std::to_string(target);
      db.exec("DELETE FROM schema_version");
      db.exec("INSERT INTO schema_version VALUES ($1::integer)", {version});
    }
    db.exec("COMMIT");
    return before;
  } catch (...) {
    db.rollbackQuietly();
    throw;
  }
}

}  // namespace quenby::sync
