// The page and its inputs: text from the logs lands in the page only as text, the generated logs
// read back as the station's, and the dates of names and lines.
#include "tools/report/report_page.h"

#include <gtest/gtest.h>

#include "fakes/temp_folder.h"
#include "report/log_lines.h"
#include "tools/report/civil_date.h"
#include "tools/report/log_generator.h"

namespace quenby::report {
namespace {

using testing::Line;
using testing::header;
using testing::runLine;

TEST(ReportPage, TextFromTheLogsIsShownAsTextNeverAsMarkup) {
  quenby::testing::TempFolder folder;
  const std::string serial = "<b onclick=\"x\">QZ&1</b>";
  folder.write("Test_Log_2024.3.4.csv",
               header() + runLine({.serial = serial, .verdict = "Fail(<i>code</i>)"}) +
                   runLine({.serial = serial}) + "<script>alert(1)</script>\r\n");
  folder.write("<img src=x>.csv", runLine({.serial = "B"}) + "torn");
  const ReportInput input =
      readLogs({folder / "Test_Log_2024.3.4.csv", folder / "<img src=x>.csv"}, {}, Limits{});
  ASSERT_EQ(input.figures.overall.runs, 3u);
  const std::string page = reportPage(input, ReportCharts{}, {"2024-03-05 08:00", "<no limits>"});

  for (const char* markup : {"<b ", "<i>", "<script", "<img", "<no limits>"})
    EXPECT_EQ(page.find(markup), std::string::npos) << markup;
  for (const char* text : {"&lt;b onclick=&quot;x&quot;&gt;QZ&amp;1&lt;/b&gt;",  // most retested
                           "<td>&lt;i&gt;code&lt;/i&gt;</td>",                    // Pareto table
                           "&lt;script&gt;alert(1)&lt;/script&gt;",                 // lines not read
                           "&lt;img src=x&gt;.csv", "&lt;no limits&gt;"})
    EXPECT_NE(page.find(text), std::string::npos) << text;
}

TEST(ReportPage, GeneratedLogsReadBackAsTheStationsOwn) {
  quenby::testing::TempFolder folder;
  LineModel model;
  model.days = 3;
  model.ports = 4;
  model.runsPerPortDay = 50;
  model.weakPort = 2;
  const std::uint64_t lines = writeLineLogs(folder.path(), model);
  EXPECT_EQ(lines, 3u * 4 * 50);
  const ReportInput input = readLogs(stationLogs(folder.path(), {}), {}, Limits{});
  EXPECT_EQ(input.files.size(), 3u);
  EXPECT_EQ(input.rejected.total(), 0u);
  const Figures& f = input.figures;
  EXPECT_EQ(f.overall.runs, lines);
  EXPECT_EQ(f.days.size(), 3u);
  EXPECT_EQ(f.ports.size(), 4u);
  EXPECT_EQ(f.measures.size(), MeasureCount);
  ASSERT_TRUE(f.serials);
  EXPECT_LT(f.serials->serials, lines);  // some modules were tested again
  EXPECT_TRUE(f.ports[1].lowCnr);
}

TEST(CivilDate, DatesTimesAndLogFileNames) {
  struct Case {
    const char* text;
    std::optional<std::string> date;  // as dateText gives it back
  } dates[] = {{"2024-02-29", "2024-02-29"}, {"2023-02-29", {}}, {"2024-13-01", {}}, {"2024-3-04", {}},
               {"2024-03-04 ", {}},          {"1970-01-01", "1970-01-01"}};
  for (const auto& c : dates) {
    const auto day = parseDate(c.text);
    EXPECT_EQ(day ? std::optional(dateText(*day)) : std::nullopt, c.date) << c.text;
  }
  EXPECT_EQ(parseDate("1970-01-02"), 1);
  EXPECT_EQ(parseTimeOfDay("23:59:59"), 86399);
  for (const char* bad : {"24:00:00", "12:60:00", "1:02:03", "12:00"}) EXPECT_FALSE(parseTimeOfDay(bad)) << bad;
  EXPECT_EQ(dayOfLogFileName("Test_Log_2009.5.7.csv"), parseDate("2009-05-07"));
  EXPECT_EQ(dayOfLogFileName("Test_Log_2024.12.31.csv"), parseDate("2024-12-31"));
  for (const char* bad : {"Test_Log_2024.2.30.csv", "Test_Log_2024.5.7.csv.bak", "BTest_Log_2024.5.7.csv",
                          "Test_Log_2024.-5.7.csv", "Test_Log_2024.5.csv"})
    EXPECT_FALSE(dayOfLogFileName(bad)) << bad;
}

}  // namespace
}  // namespace quenby::report
