// The line's report from the database against the report of the same runs read from the CSV
// logs: a small two-station line must give the same figures both ways, per station and for the
// whole line.
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

#include "sync/server_fixture.h"
#include "tools/report/civil_date.h"
#include "tools/report/line_database.h"
#include "tools/report/log_generator.h"
#include "tools/report/report_input.h"

namespace quenby::sync::testing {
namespace {

using namespace quenby::report;

void expectSameCounts(const YieldCounts& db, const YieldCounts& logs, const std::string& what) {
  EXPECT_EQ(db.runs, logs.runs) << what;
  EXPECT_EQ(db.passes, logs.passes) << what;
  EXPECT_EQ(db.aborted, logs.aborted) << what;
}

void expectSamePorts(const std::vector<PortFigures>& db, const std::vector<PortFigures>& logs,
                     const std::string& what) {
  ASSERT_EQ(db.size(), logs.size()) << what;
  for (std::size_t i = 0; i < db.size(); ++i) {
    const std::string port = what + " COM" + std::to_string(logs[i].port);
    EXPECT_EQ(db[i].port, logs[i].port) << port;
    expectSameCounts(db[i].counts, logs[i].counts, port);
    EXPECT_EQ(db[i].cnrCount, logs[i].cnrCount) << port;
    EXPECT_NEAR(db[i].cnrMean, logs[i].cnrMean, 1e-9) << port;
    EXPECT_EQ(db[i].lowCnr, logs[i].lowCnr) << port;
    EXPECT_EQ(db[i].lowYield, logs[i].lowYield) << port;
  }
}

void expectSameFigures(const ReportInput& db, const ReportInput& logs) {
  const Figures& d = db.figures;
  const Figures& l = logs.figures;
  expectSameCounts(d.overall, l.overall, "line");
  ASSERT_EQ(d.days.size(), l.days.size());
  for (std::size_t i = 0; i < d.days.size(); ++i) {
    EXPECT_EQ(d.days[i].day, l.days[i].day);
    expectSameCounts(d.days[i].counts, l.days[i].counts, "day " + std::to_string(i));
    EXPECT_EQ(d.days[i].runsPerHour, l.days[i].runsPerHour);
    EXPECT_EQ(d.days[i].firstSecond, l.days[i].firstSecond);
    EXPECT_EQ(d.days[i].lastSecond, l.days[i].lastSecond);
  }
  expectSamePorts(d.ports, l.ports, "line");
  ASSERT_EQ(d.failCodes.size(), l.failCodes.size());
  for (std::size_t i = 0; i < d.failCodes.size(); ++i) {
    EXPECT_EQ(d.failCodes[i].code, l.failCodes[i].code);
    EXPECT_EQ(d.failCodes[i].count, l.failCodes[i].count);
  }
  ASSERT_EQ(d.measures.size(), l.measures.size());
  for (std::size_t i = 0; i < d.measures.size(); ++i) {
    const MeasureFigures &a = d.measures[i], &b = l.measures[i];
    const std::string what(info(b.measure).title);
    EXPECT_EQ(a.measure, b.measure) << what;
    EXPECT_EQ(std::make_tuple(a.count, a.timeouts, a.outside), std::make_tuple(b.count, b.timeouts, b.outside)) << what;
    EXPECT_EQ(std::make_tuple(a.min, a.p5, a.median, a.p95, a.max),
              std::make_tuple(b.min, b.p5, b.median, b.p95, b.max)) << what;
    EXPECT_NEAR(a.mean, b.mean, 1e-6 * std::max(1.0, std::fabs(b.mean))) << what;
    EXPECT_NEAR(a.stddev, b.stddev, 1e-6 * std::max(1.0, b.stddev)) << what;
    EXPECT_EQ(a.histogram.bins, b.histogram.bins) << what;
    EXPECT_DOUBLE_EQ(a.histogram.start, b.histogram.start) << what;
    ASSERT_EQ(a.dailyMean.size(), b.dailyMean.size()) << what;
    for (std::size_t k = 0; k < a.dailyMean.size(); ++k) {
      EXPECT_EQ(a.dailyMean[k].first, b.dailyMean[k].first) << what;
      EXPECT_NEAR(a.dailyMean[k].second, b.dailyMean[k].second, 1e-6) << what;
    }
  }
  ASSERT_TRUE(d.serials && l.serials);
  EXPECT_EQ(std::make_tuple(d.serials->serials, d.serials->firstPass, d.serials->passedOnRetest,
                            d.serials->neverPassed, d.serials->retested),
            std::make_tuple(l.serials->serials, l.serials->firstPass, l.serials->passedOnRetest,
                            l.serials->neverPassed, l.serials->retested));
  ASSERT_EQ(d.serials->mostRetested.size(), l.serials->mostRetested.size());
  for (std::size_t i = 0; i < d.serials->mostRetested.size(); ++i)
    EXPECT_EQ(d.serials->mostRetested[i].runs, l.serials->mostRetested[i].runs);
}

class LineReport : public SyncServer {};

TEST_F(LineReport, GivesTheFiguresOfEachStationsLogsAndOfTheWholeLine) {
  quenby::testing::TempFolder second;
  struct Station {
    std::string name;
    fs::path folder;
    LineModel model;
  };
  Station stations[] = {{"line-a", station_.path(), {}}, {"line-b", second.path(), {}}};
  stations[0].model.firstDay = *parseDate("2024-01-30");
  stations[0].model.days = 3;
  stations[0].model.ports = 4;
  stations[0].model.runsPerPortDay = 30;
  stations[1].model = stations[0].model;
  stations[1].model.firstDay += 1;
  stations[1].model.weakPort = 2;
  stations[1].model.seed = 7;

  Limits limits{};
  limits[index(Measure::CnrMean)].low = 38.0;
  limits[index(Measure::AcquisitionTime)].high = 10.0;
  for (const Station& s : stations) {
    writeLineLogs(s.folder, s.model);
    ASSERT_EQ(sendOnce(s.folder, s.name), 0) << errors_;
  }

  const ReportInput line = readLineDatabase({conninfo_, {}, {}}, limits);
  ASSERT_EQ(line.stations.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const ReportInput logs = readLogs(stationLogs(stations[i].folder, {}), {}, limits);
    const StationFigures& s = line.stations[i];
    EXPECT_EQ(s.station, stations[i].name);
    expectSameCounts(s.counts, logs.figures.overall, s.station);
    expectSamePorts(s.ports, logs.figures.ports, s.station);
    EXPECT_EQ(s.logFiles, logs.files.size());
  }
  EXPECT_TRUE(line.stations[1].ports[1].lowCnr);  // the weak port, COM2 of line-b

  // The whole line, and some of its days (whole months, days before and after them, open ends).
  const Period periods[] = {
      {},
      {parseDate("2024-02-01"), parseDate("2024-02-01")},
      {parseDate("2024-01-31"), parseDate("2024-02-29")},
      {parseDate("2024-01-01"), parseDate("2024-02-01")},
      {std::nullopt, parseDate("2024-01-31")},
      {parseDate("2024-02-02"), std::nullopt},
  };
  for (const Period& period : periods) {
    SCOPED_TRACE(period.from ? dateText(*period.from) : "open");
    SCOPED_TRACE(period.to ? dateText(*period.to) : "open");
    std::vector<fs::path> logsOfPeriod;
    for (const Station& s : stations)
      for (const auto& log : stationLogs(s.folder, period)) logsOfPeriod.push_back(log);
    const ReportInput db = readLineDatabase({conninfo_, {}, period}, limits);
    expectSameFigures(db, readLogs(logsOfPeriod, period, limits));
    if (!period.from && !period.to) EXPECT_EQ(db.serialHistories.size(), db.figures.serials->mostRetested.size());
  }

  // One station and some days only: the same as that station's logs of those days.
  const Period days{stations[1].model.firstDay + 1, stations[1].model.firstDay + 1};
  const ReportInput some = readLineDatabase({conninfo_, {"line-b"}, days}, limits);
  const ReportInput someLogs = readLogs(stationLogs(second.path(), days), days, limits);
  expectSameCounts(some.figures.overall, someLogs.figures.overall, "line-b, one day");
  ASSERT_TRUE(some.figures.serials && someLogs.figures.serials);
  EXPECT_EQ(some.figures.serials->firstPass, someLogs.figures.serials->firstPass);
  EXPECT_EQ(some.figures.serials->serials, someLogs.figures.serials->serials);
}

#ifdef QUENBY_REPORT_PATH
TEST_F(LineReport, TheProgramWritesTheLinesPageAndKeepsTheStationsAsked) {
  quenby::testing::TempFolder second;
  LineModel model;
  model.days = 2;
  model.ports = 2;
  model.runsPerPortDay = 5;
  writeLineLogs(station_.path(), model);
  model.seed = 3;
  writeLineLogs(second.path(), model);
  const std::string odd = "<b>\"quoted\" \\ station";
  ASSERT_EQ(sendOnce(station_.path(), "plain"), 0) << errors_;
  ASSERT_EQ(sendOnce(second.path(), odd), 0) << errors_;

  struct Case {
    std::vector<std::string> stations;
    std::vector<std::string> shown, notShown;
  };
  const Case cases[] = {
      {{}, {"<td>plain</td>", "<td>&lt;b&gt;&quot;quoted&quot; \\ station</td>"}, {"<b>\""}},
      {{odd}, {"<td>&lt;b&gt;&quot;quoted&quot; \\ station</td>"}, {"<td>plain</td>"}},
      {{"plain", "nobody"}, {"<td>plain</td>"}, {"quoted"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--db", conninfo_, "--out", (work_ / "line.html").string()};
    for (const auto& s : c.stations) args.insert(args.end(), {"--station", s});
    SyncProcess report(args, work_ / "report-err", work_ / "report-out", QUENBY_REPORT_PATH);
    ASSERT_EQ(report.wait(), 0) << report.errors();
    const std::string page = work_.read("line.html");
    EXPECT_NE(page.find("<h2 id=\"stations\">Stations</h2>"), std::string::npos);
    for (const auto& text : c.shown) EXPECT_NE(page.find(text), std::string::npos) << text;
    for (const auto& text : c.notShown) EXPECT_EQ(page.find(text), std::string::npos) << text;
  }
}
#endif

}  // namespace
}  // namespace quenby::sync::testing
