#include "tools/report/run_statistics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/report/civil_date.h"
#include "tools/report/distribution.h"

namespace quenby::report {
namespace {

const std::int32_t Mar4 = *parseDate("2024-03-04");
const std::int32_t Mar5 = *parseDate("2024-03-05");

struct Row {
  std::int32_t day = Mar4;
  const char* time = "10:00:00";
  std::uint16_t port = 1;
  const char* verdict = "Pass";  // "Pass", or the fail code
  const char* serial = "";
  float cnr = NAN;               // NAN: N/A
};

Figures figuresOf(const std::vector<Row>& rows, const Limits& limits = {}) {
  RunStatistics statistics;
  for (const Row& r : rows) {
    LoggedRun run;
    run.day = r.day;
    run.second = *parseTimeOfDay(r.time);
    run.port = r.port;
    const std::string_view v = r.verdict;
    run.verdict = v == "Pass" ? Verdict::Pass : v == "Abort" ? Verdict::Abort : Verdict::Fail;
    run.failCode = v == "Pass" ? "" : v;
    run.serial = r.serial;
    if (!std::isnan(r.cnr)) run.values[index(Measure::CnrMean)] = {MeasureValue::Kind::Number, r.cnr};
    statistics.add(run);
  }
  return statistics.figures(limits);
}

struct Counts {
  std::uint64_t runs, passes, aborted;
  std::optional<double> yield;
};

void expectCounts(const YieldCounts& c, const Counts& e) {
  EXPECT_EQ(c.runs, e.runs);
  EXPECT_EQ(c.passes, e.passes);
  EXPECT_EQ(c.aborted, e.aborted);
  ASSERT_EQ(c.yieldPercent().has_value(), e.yield.has_value());
  if (e.yield) {
    EXPECT_NEAR(*c.yieldPercent(), *e.yield, 1e-9);
  }
}

TEST(RunStatistics, YieldsPerDayAndPortLeaveStoppedRunsOutAndFailCodesComeMostFrequentFirst) {
  const Figures f = figuresOf({
      {.day = Mar4, .port = 1}, {.day = Mar4, .port = 1, .verdict = "CNR"},
      {.day = Mar4, .port = 2, .verdict = "Abort"}, {.day = Mar4, .port = 2, .verdict = "Acq"},
      {.day = Mar5, .port = 1, .verdict = "TCXO"}, {.day = Mar5, .port = 1, .verdict = "Acq"},
      {.day = Mar5, .port = 2}, {.day = Mar5, .port = 2, .verdict = "CNR"},
      {.day = Mar5, .port = 2, .verdict = "CNR"}, {.day = Mar5, .port = 2, .verdict = "Abort"},
      {.day = Mar5, .port = 0, .verdict = "Abort"},
  });
  expectCounts(f.overall, {11, 2, 3, 25.0});
  ASSERT_EQ(f.days.size(), 2u);
  EXPECT_EQ(f.days[0].day, Mar4);
  expectCounts(f.days[0].counts, {4, 1, 1, 100.0 / 3});
  expectCounts(f.days[1].counts, {7, 1, 2, 20.0});
  ASSERT_EQ(f.ports.size(), 3u);
  EXPECT_EQ(f.ports[0].port, 0);
  expectCounts(f.ports[0].counts, {1, 0, 1, std::nullopt});
  expectCounts(f.ports[1].counts, {4, 1, 0, 25.0});
  expectCounts(f.ports[2].counts, {6, 1, 2, 25.0});

  std::vector<std::pair<std::string, std::uint64_t>> codes;
  for (const auto& c : f.failCodes) codes.emplace_back(c.code, c.count);
  const std::vector<std::pair<std::string, std::uint64_t>> expected{{"CNR", 3}, {"Acq", 2}, {"TCXO", 1}};
  EXPECT_EQ(codes, expected);  // no Abort among them
}

TEST(RunStatistics, FlagsAPortWithLowCnrOrLowYieldAgainstTheMedianOfThePorts) {
  // Port: CNR means and verdicts. Median CNR 43.0, median yield 100 %.
  struct PortRuns {
    std::uint16_t port;
    std::vector<float> cnr;
    int passes, fails;
    bool lowCnr, lowYield;
  } ports[] = {
      {1, {43.0f, 43.0f}, 10, 0, false, false},
      {2, {43.5f}, 9, 1, false, false},        // 90 %: 10 points below, not more
      {3, {40.9f, 41.0f}, 10, 0, true, false},  // 40.95: more than 2 dB below
      {4, {41.0f}, 3, 1, false, true},          // 41.0: exactly 2 dB below; 75 %
      {5, {43.2f}, 10, 0, false, false},
      {6, {}, 1, 0, false, false},              // no CNR measured
  };
  std::vector<Row> rows;
  for (const auto& p : ports) {
    for (float c : p.cnr) rows.push_back({.port = p.port, .verdict = "Abort", .cnr = c});
    for (int i = 0; i < p.passes; ++i) rows.push_back({.port = p.port});
    for (int i = 0; i < p.fails; ++i) rows.push_back({.port = p.port, .verdict = "CNR"});
  }
  const Figures f = figuresOf(rows);
  ASSERT_TRUE(f.portCnrMedian && f.portYieldMedian);
  EXPECT_NEAR(*f.portCnrMedian, 43.0, 1e-6);
  EXPECT_NEAR(*f.portYieldMedian, 100.0, 1e-9);
  ASSERT_EQ(f.ports.size(), std::size(ports));
  for (std::size_t i = 0; i < std::size(ports); ++i) {
    SCOPED_TRACE(ports[i].port);
    EXPECT_EQ(f.ports[i].lowCnr, ports[i].lowCnr);
    EXPECT_EQ(f.ports[i].lowYield, ports[i].lowYield);
  }
}

TEST(RunStatistics, FirstPassYieldFollowsEachSerialNumberInTimeOrder) {
  const Figures f = figuresOf({
      {.day = Mar4, .time = "09:00:00", .serial = "A"},                   // A: retest passed
      {.day = Mar4, .time = "08:00:00", .verdict = "CNR", .serial = "A"},  // ... after this fail
      {.day = Mar4, .time = "08:30:00", .serial = "B"},
      {.day = Mar4, .time = "08:00:00", .verdict = "Abort", .serial = "C"},  // not a first run
      {.day = Mar5, .time = "08:00:00", .verdict = "Acq", .serial = "C"},
      {.day = Mar5, .time = "09:00:00", .verdict = "Acq", .serial = "C"},
      {.day = Mar5, .time = "09:00:00", .serial = "D"},
      {.day = Mar5, .time = "10:00:00", .serial = "D"},
      {.day = Mar5, .time = "10:00:00"},                                  // no serial number
  });
  ASSERT_TRUE(f.serials);
  const SerialFigures& s = *f.serials;
  EXPECT_EQ(s.serials, 4u);
  EXPECT_EQ(s.firstPass, 2u);  // B, D
  EXPECT_EQ(s.passedOnRetest, 1u);
  EXPECT_EQ(s.neverPassed, 1u);
  EXPECT_EQ(s.retested, 3u);
  ASSERT_EQ(s.days.size(), 2u);
  EXPECT_EQ(s.days[0].serials, 2u);  // A and B were first tested on the 4th, C and D on the 5th
  EXPECT_EQ(s.days[0].firstPass, 1u);
  ASSERT_EQ(s.mostRetested.size(), 3u);
  EXPECT_EQ(s.mostRetested[0].serial, "A");
  EXPECT_FALSE(s.mostRetested[0].firstPassed);
  EXPECT_TRUE(s.mostRetested[0].lastPassed);
  EXPECT_EQ(s.mostRetested[1].serial, "C");

  EXPECT_FALSE(figuresOf({{.serial = ""}}).serials);
}

TEST(RunStatistics, MeasuredValuesGiveTheirDistributionAgainstTheLimitAndTheHoursTheirThroughput) {
  RunStatistics statistics;
  const float acq[] = {1, 2, 2, 3, 10, 12};
  for (std::size_t i = 0; i < std::size(acq) + 1; ++i) {
    LoggedRun run;
    run.day = i < 3 ? Mar4 : Mar5;
    run.second = static_cast<std::int32_t>(8 * 3600 + i * 1800);  // two runs an hour from 08:00
    run.values[index(Measure::AcquisitionTime)] =
        i < std::size(acq) ? MeasureValue{MeasureValue::Kind::Number, acq[i]}
                           : MeasureValue{MeasureValue::Kind::Timeout, 0};
    statistics.add(run);
  }
  Limits limits;
  limits[index(Measure::AcquisitionTime)].high = 10;
  const Figures f = statistics.figures(limits);
  ASSERT_EQ(f.measures.size(), 1u);
  const MeasureFigures& m = f.measures[0];
  EXPECT_EQ(m.measure, Measure::AcquisitionTime);
  EXPECT_EQ(m.count, 6u);
  EXPECT_EQ(m.timeouts, 1u);
  EXPECT_EQ(m.outside, 1u);  // 12; 10 itself is within
  EXPECT_EQ(m.min, 1);
  EXPECT_EQ(m.max, 12);
  EXPECT_DOUBLE_EQ(m.mean, 5);
  EXPECT_EQ(m.median, 3);  // nearest rank
  // Whole seconds: one bin per second from 1 to 12.
  EXPECT_DOUBLE_EQ(m.histogram.start, 0.5);
  EXPECT_DOUBLE_EQ(m.histogram.width, 1);
  const std::vector<std::uint64_t> bins{1, 2, 1, 0, 0, 0, 0, 0, 0, 1, 0, 1};
  EXPECT_EQ(m.histogram.bins, bins);
  const std::vector<std::pair<std::int32_t, double>> daily{{Mar4, 5.0 / 3}, {Mar5, 25.0 / 3}};
  ASSERT_EQ(m.dailyMean.size(), 2u);
  EXPECT_EQ(m.dailyMean[0].first, Mar4);
  EXPECT_NEAR(m.dailyMean[0].second, daily[0].second, 1e-9);
  EXPECT_NEAR(m.dailyMean[1].second, daily[1].second, 1e-9);

  EXPECT_EQ(f.days[0].runsPerHour[8], 2u);
  EXPECT_EQ(f.days[0].runsPerHour[9], 1u);
  EXPECT_EQ(f.days[1].runsPerHour[9], 1u);
  EXPECT_EQ(f.days[1].runsPerHour[10], 2u);
  EXPECT_EQ(f.days[1].firstSecond, 9 * 3600 + 1800);
  EXPECT_EQ(f.days[1].lastSecond, 11 * 3600);
}

TEST(Histogram, BinsFollowTheStepTheValuesWereWrittenWith) {
  struct Case {
    std::vector<float> values;
    double start, width;
    std::size_t bins;
  } cases[] = {
      {{0.91f, 0.95f, 0.95f, 0.99f}, 0.905, 0.01, 9},   // two decimals: a bin per hundredth
      {{0, 100}, -0.5, 3, 34},                          // 101 whole seconds in bins of 3
      {{1.5f, 1.5f}, 1.45, 0.1, 1},                     // one value
      {{0.12345f, 0.5f}, 0.12345f, (0.5 - 0.12345f) / MaxBins, MaxBins},  // no fixed step
  };
  for (const auto& c : cases) {
    const auto [lo, hi] = std::minmax_element(c.values.begin(), c.values.end());
    const Histogram h = histogramOf(c.values, *lo, *hi);
    EXPECT_NEAR(h.start, c.start, 1e-6);
    EXPECT_NEAR(h.width, c.width, 1e-6);
    EXPECT_EQ(h.bins.size(), c.bins);
    std::uint64_t total = 0;
    for (auto b : h.bins) total += b;
    EXPECT_EQ(total, c.values.size());
  }
}

}  // namespace
}  // namespace quenby::report
