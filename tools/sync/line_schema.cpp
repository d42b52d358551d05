#include "tools/sync/line_schema.h"

#include <array>
#include <string>

namespace quenby::sync {
namespace {

// Version 1: every run of every station, and how far each station's log files have been sent.
// A run is known by its station, log file and line number. The typed columns hold the log's
// fields; a measure is NULL for N/A or a time-out, and the time-outs are kept as one bit per
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

// Version 2: yield counts per station, day and port, kept as rows arrive, so that the line's
// report need not read every run; filled from the runs already there.
constexpr const char* VersionTwo = R"sql(
CREATE TABLE run_summary (
  station text NOT NULL,
  log_date date NOT NULL,
  port integer NOT NULL,
  runs bigint NOT NULL,
  passes bigint NOT NULL,
  aborted bigint NOT NULL,
  cnr_count bigint NOT NULL,
  cnr_sum double precision NOT NULL,
  PRIMARY KEY (station, log_date, port)
);
CREATE FUNCTION run_summary_add() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  INSERT INTO run_summary AS s
    SELECT station, log_date, coalesce(port, 0), count(*),
           count(*) FILTER (WHERE verdict = 'Pass'), count(*) FILTER (WHERE verdict = 'Abort'),
           count(cnr_mean), coalesce(sum(cnr_mean), 0)
      FROM new_runs GROUP BY 1, 2, 3
  ON CONFLICT (station, log_date, port) DO UPDATE SET
    runs = s.runs + excluded.runs, passes = s.passes + excluded.passes,
    aborted = s.aborted + excluded.aborted, cnr_count = s.cnr_count + excluded.cnr_count,
    cnr_sum = s.cnr_sum + excluded.cnr_sum;
  RETURN NULL;
END
$$;
CREATE TRIGGER runs_summarised AFTER INSERT ON runs REFERENCING NEW TABLE AS new_runs
  FOR EACH STATEMENT EXECUTE FUNCTION run_summary_add();
INSERT INTO run_summary
  SELECT station, log_date, coalesce(port, 0), count(*),
         count(*) FILTER (WHERE verdict = 'Pass'), count(*) FILTER (WHERE verdict = 'Abort'),
         count(cnr_mean), coalesce(sum(cnr_mean), 0)
    FROM runs GROUP BY 1, 2, 3;
)sql";

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
