#include "tools/report/report_charts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <regex>
#include <set>

#include "tools/report/civil_date.h"

namespace quenby::report {
namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
  return n;
}

// Figures of two days on two ports with one fail code, CNR against a lower limit and TCXO offset
// against a plus-or-minus one.
Figures twoDays() {
  RunStatistics statistics;
  for (int i = 0; i < 40; ++i) {
    LoggedRun run;
    run.day = *parseDate("2024-03-04") + i % 2;
    run.second = 8 * 3600 + i * 600;
    run.port = static_cast<std::uint16_t>(1 + i % 2);
    run.serial = i % 5 ? "" : "QZ1";
    run.verdict = i % 7 ? Verdict::Pass : Verdict::Fail;
    run.failCode = i % 7 ? "" : "CNR";
    run.values[index(Measure::CnrMean)] = {MeasureValue::Kind::Number, 42.0f + static_cast<float>(i % 3)};
    run.values[index(Measure::TcxoOffset)] = {MeasureValue::Kind::Number, static_cast<float>(i % 9) - 4};
    statistics.add(run);
  }
  Limits limits;
  limits[index(Measure::CnrMean)].low = 40;
  limits[index(Measure::TcxoOffset)] = {-40.92, 40.92};
  return statistics.figures(limits);
}

TEST(ReportCharts, EverySectionGetsItsChartAsInlineSvgWithIdsOfItsOwn) {
  const ReportCharts c = drawCharts(twoDays());
  std::vector<const std::string*> charts{&c.yieldByDay, &c.ports, &c.failCodes, &c.firstPass, &c.throughput};
  for (Measure m : {Measure::CnrMean, Measure::TcxoOffset}) {
    charts.push_back(&c.distribution[index(m)]);
    charts.push_back(&c.dailyMean[index(m)]);
  }
  std::set<std::string> ids;
  std::size_t idCount = 0;
  const std::regex id(R"(id="([^"]+)\")");
  for (const std::string* svg : charts) {
    ASSERT_TRUE(svg->starts_with("<svg")) << svg->substr(0, 80);
    EXPECT_TRUE(svg->ends_with("</svg>\n"));
    EXPECT_FALSE(std::regex_search(*svg, std::regex(R"(<g [^>]*>\s*</g>)")));  // no empty groups
    for (std::sregex_iterator it(svg->begin(), svg->end(), id), end; it != end; ++it, ++idCount)
      ids.insert((*it)[1]);
  }
  EXPECT_GT(idCount, 0u);
  EXPECT_EQ(ids.size(), idCount);  // one page holds them all: an id used twice would mix them up
  EXPECT_TRUE(c.distribution[index(Measure::AcquisitionTime)].empty());  // no values, no chart

  // The limits are drawn and named once in the legend, also the two lines of plus or minus.
  EXPECT_EQ(occurrences(c.distribution[index(Measure::CnrMean)], ">Limit 40<"), 1u);
  EXPECT_EQ(occurrences(c.distribution[index(Measure::TcxoOffset)], ">Limits ±40.92<"), 1u);
  EXPECT_EQ(occurrences(c.dailyMean[index(Measure::TcxoOffset)], ">Limits ±40.92<"), 1u);
}

TEST(ReportCharts, NothingToDrawWithoutRuns) {
  RunStatistics none;
  const ReportCharts c = drawCharts(none.figures({}));
  for (const std::string* svg : {&c.yieldByDay, &c.ports, &c.failCodes, &c.firstPass, &c.throughput})
    EXPECT_TRUE(svg->empty());
}

}  // namespace
}  // namespace quenby::report

int main(int argc, char** argv) {
  // Also when the build lists the tests: no display is needed or looked for.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
