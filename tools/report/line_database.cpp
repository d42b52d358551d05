#include "tools/report/line_database.h"

#include <map>
#include <optional>

#include "tools/report/civil_date.h"
#include "tools/report/distribution.h"
#include "tools/sync/pg_connection.h"

namespace quenby::report {
namespace {

using sync::Param;
using sync::PgConnection;
using sync::PgResult;

// Every statement takes the same three parameters: the stations (a text array, NULL for all)
// and the first and last day (NULL for an open end).
#define QUENBY_CHOSEN                                                            \
  " ($1::text[] IS NULL OR station = ANY($1::text[]))"                           \
  " AND ($2::date IS NULL OR log_date >= $2::date)"                              \
  " AND ($3::date IS NULL OR log_date <= $3::date) "

constexpr const char* DaysAndHours =
    "SELECT log_date - DATE '1970-01-01', hour, sum(runs), sum(passes), sum(aborted), "
    "min(first_second), max(last_second) FROM run_summary WHERE" QUENBY_CHOSEN
    "GROUP BY 1, 2 ORDER BY 1, 2";
constexpr const char* StationPorts =
    "SELECT station, port, sum(runs), sum(passes), sum(aborted), sum(cnr_count), sum(cnr_sum) "
    "FROM run_summary WHERE" QUENBY_CHOSEN "GROUP BY 1, 2 ORDER BY 1, 2";
constexpr const char* FailCodes =
    "SELECT fail_code, sum(runs) FROM fail_summary WHERE" QUENBY_CHOSEN
    "GROUP BY 1 ORDER BY 2 DESC, 1";
// The values of the whole months of the period from the months' table, those of the days
// before and after them from the days' table.
constexpr const char* Values =
    "WITH p AS (SELECT $2::date AS f, $3::date AS t), m AS (SELECT f, t, "
    "  CASE WHEN f = date_trunc('month', f)::date THEN f "
    "       ELSE (date_trunc('month', f) + interval '1 month')::date END AS mf, "
    "  CASE WHEN t + 1 = date_trunc('month', t + 1)::date THEN date_trunc('month', t)::date "
    "       ELSE (date_trunc('month', t) - interval '1 month')::date END AS mt FROM p) "
    "SELECT measure, timed_out, value, sum(runs) FROM ("
    "  SELECT v.measure, v.timed_out, v.value, v.runs FROM value_month v, m "
    "   WHERE ($1::text[] IS NULL OR v.station = ANY($1::text[])) "
    "     AND (m.mf IS NULL OR v.month >= m.mf) AND (m.mt IS NULL OR v.month <= m.mt) "
    "  UNION ALL "
    "  SELECT v.measure, v.timed_out, v.value, v.runs FROM value_summary v, m "
    "   WHERE ($1::text[] IS NULL OR v.station = ANY($1::text[])) AND m.f IS NOT NULL "
    "     AND v.log_date >= m.f AND v.log_date < m.mf AND (m.t IS NULL OR v.log_date <= m.t) "
    "  UNION ALL "
    "  SELECT v.measure, v.timed_out, v.value, v.runs FROM value_summary v, m "
    "   WHERE ($1::text[] IS NULL OR v.station = ANY($1::text[])) AND m.t IS NOT NULL "
    "     AND v.log_date > (m.mt + interval '1 month' - interval '1 day')::date "
    "     AND v.log_date <= m.t AND (m.mf IS NULL OR v.log_date >= m.mf) "
    "     AND (m.f IS NULL OR v.log_date >= m.f)"
    ") x GROUP BY 1, 2, 3 ORDER BY 1, 2, 3";
constexpr const char* DailyMeans =
    "SELECT measure, log_date - DATE '1970-01-01', sum(value_sum) / sum(value_count) "
    "FROM measure_day WHERE value_count > 0 AND" QUENBY_CHOSEN "GROUP BY 1, 2 ORDER BY 1, 2";
constexpr const char* Progress =
    "SELECT station, log_file, skipped_lines FROM sync_progress "
    "WHERE $1::text[] IS NULL OR station = ANY($1::text[]) ORDER BY 1, 2";

// Each serial number's runs (stopped ones left out): kept summed for the whole line; worked out
// from the runs for some stations or days.
constexpr const char* SerialsOfLine =
    "WITH s AS (SELECT serial_number, runs, first_day, first_passed, last_passed, any_passed "
    "FROM serial_summary WHERE $1::text[] IS NULL AND $2::date IS NULL AND $3::date IS NULL) ";
constexpr const char* SerialsChosen =
    "WITH s AS (SELECT serial_number, count(*) AS runs, "
    "(array_agg(log_date ORDER BY tested_at, station, log_file, line_number))[1] AS first_day, "
    "(array_agg(verdict = 'Pass' ORDER BY tested_at, station, log_file, line_number))[1] "
    "  AS first_passed, "
    "(array_agg(verdict = 'Pass' ORDER BY tested_at DESC, station DESC, log_file DESC, "
    "  line_number DESC))[1] AS last_passed, "
    "bool_or(verdict = 'Pass') AS any_passed FROM runs "
    "WHERE serial_number <> '' AND verdict <> 'Abort' AND" QUENBY_CHOSEN "GROUP BY 1) ";
constexpr const char* SerialTotals =
    "SELECT count(*), count(*) FILTER (WHERE first_passed), "
    "count(*) FILTER (WHERE NOT first_passed AND any_passed), count(*) FILTER (WHERE NOT any_passed), "
    "count(*) FILTER (WHERE runs > 1) FROM s";
constexpr const char* SerialDays =
    "SELECT first_day - DATE '1970-01-01', count(*), count(*) FILTER (WHERE first_passed) FROM s "
    "GROUP BY 1 ORDER BY 1";
constexpr const char* MostRetested =
    "SELECT serial_number, runs, first_passed, last_passed FROM s WHERE runs > 1 "
    "ORDER BY runs DESC, serial_number LIMIT 10";
constexpr const char* History =
    "SELECT station, coalesce('COM' || port, 'N/A'), log_date || ' ' || log_time, verdict, fail_code "
    "FROM runs WHERE serial_number = $1 ORDER BY tested_at, station, log_file, line_number";

#undef QUENBY_CHOSEN

// A text array's literal: every element double-quoted, its quotes and backslashes escaped.
std::string arrayLiteral(const std::vector<std::string>& items) {
  std::string text = "{";
  for (const std::string& item : items) {
    if (text.size() > 1) text += ',';
    text += '"';
    for (char c : item) {
      if (c == '"' || c == '\\') text += '\\';
      text += c;
    }
    text += '"';
  }
  return text + "}";
}

YieldCounts counts(const PgResult& r, int row, int column) {
  YieldCounts c;
  c.runs = static_cast<std::uint64_t>(r.number(row, column));
  c.passes = static_cast<std::uint64_t>(r.number(row, column + 1));
  c.aborted = static_cast<std::uint64_t>(r.number(row, column + 2));
  return c;
}

void add(YieldCounts& to, const YieldCounts& c) {
  to.runs += c.runs;
  to.passes += c.passes;
  to.aborted += c.aborted;
}

bool truth(const PgResult& r, int row, int column) { return r.text(row, column) == "t"; }

double real(const PgResult& r, int row, int column) {
  return std::stod(std::string(r.text(row, column)));
}

}  // namespace

ReportInput readLineDatabase(const LineSelection& selection, const Limits& limits) {
  PgConnection db(selection.conninfo);
  const std::optional<std::string> stations =
      selection.stations.empty() ? std::nullopt : std::optional(arrayLiteral(selection.stations));
  const std::optional<std::string> from =
      selection.period.from ? std::optional(dateText(*selection.period.from)) : std::nullopt;
  const std::optional<std::string> to =
      selection.period.to ? std::optional(dateText(*selection.period.to)) : std::nullopt;
  const auto param = [](const std::optional<std::string>& v) { return v ? Param(*v) : Param(); };
  const auto query = [&](const std::string& sql) {
    return db.exec(sql.c_str(), {param(stations), param(from), param(to)});
  };

  // One snapshot for every figure, however fast the stations add runs meanwhile.
  db.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
  ReportInput in;
  Figures& f = in.figures;
  in.database = "database " + std::string(db.exec("SELECT current_database()").text(0, 0));

  const PgResult hours = query(DaysAndHours);
  for (int i = 0; i < hours.rows(); ++i) {
    const auto day = static_cast<std::int32_t>(hours.number(i, 0));
    if (f.days.empty() || f.days.back().day != day) {
      f.days.push_back({});
      f.days.back().day = day;
      f.days.back().firstSecond = static_cast<std::int32_t>(hours.number(i, 5));
    }
    DayFigures& d = f.days.back();
    const YieldCounts c = counts(hours, i, 2);
    add(d.counts, c);
    add(f.overall, c);
    d.runsPerHour[static_cast<std::size_t>(hours.number(i, 1)) % 24] += static_cast<std::uint32_t>(c.runs);
    d.lastSecond = static_cast<std::int32_t>(hours.number(i, 6));
  }

  // Ports of the line, and of each station beside the others.
  const PgResult ports = query(StationPorts);
  std::map<std::uint16_t, PortFigures> linePorts;
  std::map<std::uint16_t, double> lineCnrSums;
  for (int i = 0; i < ports.rows(); ++i) {
    const std::string station(ports.text(i, 0));
    if (in.stations.empty() || in.stations.back().station != station) {
      in.stations.emplace_back();
      in.stations.back().station = station;
    }
    StationFigures& s = in.stations.back();
    PortFigures p;
    p.port = static_cast<std::uint16_t>(ports.number(i, 1));
    p.counts = counts(ports, i, 2);
    p.cnrCount = static_cast<std::uint64_t>(ports.number(i, 5));
    const double cnrSum = real(ports, i, 6);
    if (p.cnrCount) p.cnrMean = cnrSum / static_cast<double>(p.cnrCount);
    add(s.counts, p.counts);
    s.ports.push_back(p);
    PortFigures& l = linePorts[p.port];
    l.port = p.port;
    add(l.counts, p.counts);
    l.cnrCount += p.cnrCount;
    lineCnrSums[p.port] += cnrSum;
  }
  for (auto& [number, p] : linePorts) {
    if (p.cnrCount) p.cnrMean = lineCnrSums[number] / static_cast<double>(p.cnrCount);
    f.ports.push_back(p);
  }
  flagPorts(f.ports, f.portCnrMedian, f.portYieldMedian);
  for (StationFigures& s : in.stations) flagPorts(s.ports, s.portCnrMedian, s.portYieldMedian);

  const PgResult progress = db.exec(Progress, {param(stations)});
  for (int i = 0; i < progress.rows(); ++i) {
    const std::string_view station = progress.text(i, 0);
    const auto skipped = static_cast<std::uint64_t>(progress.number(i, 2));
    in.skippedLines += skipped;
    in.files.push_back(std::string(station) + "/" + std::string(progress.text(i, 1)));
    for (StationFigures& s : in.stations)
      if (s.station == station) {
        ++s.logFiles;
        s.skippedLines += skipped;
      }
  }

  const PgResult codes = query(FailCodes);
  for (int i = 0; i < codes.rows(); ++i)
    f.failCodes.push_back({std::string(codes.text(i, 0)), static_cast<std::uint64_t>(codes.number(i, 1))});

  // Measured values: the distinct values with their counts, and the time-outs.
  std::array<std::vector<CountedValue>, MeasureCount> values;
  std::array<std::uint64_t, MeasureCount> timeouts{};
  const PgResult v = query(Values);
  for (int i = 0; i < v.rows(); ++i) {
    const auto m = static_cast<std::size_t>(v.number(i, 0));
    if (m >= MeasureCount) continue;
    const auto runs = static_cast<std::uint64_t>(v.number(i, 3));
    if (truth(v, i, 1))
      timeouts[m] += runs;
    else
      values[m].push_back({static_cast<float>(real(v, i, 2)), runs});
  }
  const PgResult means = query(DailyMeans);
  std::array<std::vector<std::pair<std::int32_t, double>>, MeasureCount> daily;
  for (int i = 0; i < means.rows(); ++i) {
    const auto m = static_cast<std::size_t>(means.number(i, 0));
    if (m < MeasureCount)
      daily[m].emplace_back(static_cast<std::int32_t>(means.number(i, 1)), real(means, i, 2));
  }
  for (const auto& info : Measures) {
    const std::size_t k = index(info.measure);
    if (values[k].empty() && timeouts[k] == 0) continue;
    MeasureFigures mf;
    mf.measure = info.measure;
    mf.limit = limits[k];
    mf.timeouts = timeouts[k];
    describeCountedValues(values[k], mf);
    mf.dailyMean = std::move(daily[k]);
    f.measures.push_back(std::move(mf));
  }

  // First-pass yield over serial numbers, and the most tested ones' histories.
  const bool whole = selection.stations.empty() && !selection.period.from && !selection.period.to;
  const std::string serials = whole ? SerialsOfLine : SerialsChosen;
  const PgResult totals = query(serials + SerialTotals);
  if (totals.rows() == 1 && totals.number(0, 0) > 0) {
    SerialFigures sf;
    sf.serials = static_cast<std::uint64_t>(totals.number(0, 0));
    sf.firstPass = static_cast<std::uint64_t>(totals.number(0, 1));
    sf.passedOnRetest = static_cast<std::uint64_t>(totals.number(0, 2));
    sf.neverPassed = static_cast<std::uint64_t>(totals.number(0, 3));
    sf.retested = static_cast<std::uint64_t>(totals.number(0, 4));
    const PgResult days = query(serials + SerialDays);
    for (int i = 0; i < days.rows(); ++i)
      sf.days.push_back({static_cast<std::int32_t>(days.number(i, 0)),
                         static_cast<std::uint64_t>(days.number(i, 1)),
                         static_cast<std::uint64_t>(days.number(i, 2))});
    const PgResult top = query(serials + MostRetested);
    for (int i = 0; i < top.rows(); ++i) {
      sf.mostRetested.push_back({std::string(top.text(i, 0)), static_cast<std::uint64_t>(top.number(i, 1)),
                                 truth(top, i, 2), truth(top, i, 3)});
      SerialHistory h{std::string(top.text(i, 0)), {}};
      const PgResult runs = db.exec(History, {h.serial});
      for (int r = 0; r < runs.rows(); ++r)
        h.runs.push_back({std::string(runs.text(r, 0)), std::string(runs.text(r, 1)),
                          std::string(runs.text(r, 2)), std::string(runs.text(r, 3)),
                          std::string(runs.text(r, 4))});
      in.serialHistories.push_back(std::move(h));
    }
    f.serials = std::move(sf);
  }
  db.exec("COMMIT");
  return in;
}

}  // namespace quenby::report
