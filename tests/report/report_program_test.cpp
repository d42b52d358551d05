// quenby-report end to end: a copy of the program in a station folder with logs of known figures,
// run without a display.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "fakes/temp_folder.h"
#include "report/log_lines.h"

namespace quenby::report {
namespace {

namespace fs = std::filesystem;
using testing::Line;
using testing::header;
using testing::runLine;

struct Station {
  quenby::testing::TempFolder folder;

  Station() {
    fs::copy_file(QUENBY_REPORT_PATH, folder / "quenby-report");
    folder.write("Torvane.ini", "[Basic]\r\nSignal_CNR_Threshold=41.5\r\n");
    folder.write("Test_Log_2024.3.4.csv",
                 header() + runLine({.serial = "A"}) +
                     runLine({.serial = "B", .verdict = "Fail(CNR)", .cnr = "39.0", .sigma = "N/A"}) +
                     runLine({.serial = "", .verdict = "Fail(Abort)", .port = "COM2"}) +
                     runLine({.serial = "B", .port = "COM2", .time = "11:00:00"}) + "C,Pass,N/A,,COM2,2024-03-04,11:");
    folder.write("Test_Log_2024.3.5.csv",
                 header() + runLine({.serial = "", .verdict = "Fail(Acq)", .date = "2024-03-05", .acq = "Timeout(10)"}) +
                     runLine({.serial = "", .port = "COM2", .date = "2024-03-05"}) +
                     runLine({.serial = "", .verdict = "Fail(CNR)", .port = "COM2", .date = "2024-03-05", .cnr = "40.1"}));
    folder.write("Test_Log_2024.3.6.csv", "Datum;Ergebnis\r\n");
    folder.write("notes.csv", "not a log\r\n");
  }

  // Runs the program in the folder; its exit status, stdout and the report.
  struct Result {
    int status;
    std::string out, report;
  };
  Result run(const std::string& args, const std::string& report = "Test_Report.html") {
    const std::string command = "cd '" + folder.path().string() + "' && ./quenby-report " + args +
                                " > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, folder.read("stdout.txt"), folder.read(report)};
  }
};

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) ++n;
  return n;
}

TEST(ReportProgram, ReportsTheStationsLogsWithTheLimitsOfItsSettingsInOneSelfContainedPage) {
  Station station;
  const auto r = station.run("");
  ASSERT_EQ(r.status, 0) << station.folder.read("stderr.txt");
  EXPECT_EQ(r.out,
            "Test logs: 3 file(s), runs from 2024-03-04 to 2024-03-05\n"
            "Runs: 7  Passes: 3  Fails: 3  Aborted: 1\n"
            "Yield: 50.0 % (stopped runs left out)\n"
            "Top fail codes: CNR 2, Acq 1\n"
            "Lines not read: 2 (listed in the report)\n"
            "Report: Test_Report.html\n");

  const std::string& page = r.report;
  EXPECT_TRUE(page.starts_with("<!DOCTYPE html>"));
  EXPECT_TRUE(page.ends_with("</html>\n"));
  // Yield per day, ports, first pass, Pareto, throughput and two charts for each measured value.
  EXPECT_EQ(occurrences(page, "<svg"), 5u + 2 * 10);
  EXPECT_EQ(occurrences(page, "<text"), occurrences(page, "</text>"));
  for (const char* outside : {"<script", "src=", "href=\"http", "url(http", "@import"})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  EXPECT_NE(page.find("<td>at least 41.50</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>Test_Log_2024.3.4.csv</td><td class=\"n\">6</td><td>torn line (no line end)</td>"),
            std::string::npos);
  EXPECT_NE(page.find("<td>Test_Log_2024.3.6.csv</td><td class=\"n\">1</td><td>foreign header</td>"),
            std::string::npos);
}

TEST(ReportProgram, NamedLogsAPeriodAndAnotherSettingsFile) {
  Station station;
  station.folder.write("other.ini", "[Basic]\r\nSignal_CNR_Threshold=39.5\r\n");
  fs::create_directory(station.folder / "out");
  const auto r = station.run("--settings other.ini --from 2024-03-05 --to 2024-03-05 --out out/r.html "
                             "Test_Log_2024.3.4.csv Test_Log_2024.3.5.csv", "out/r.html");
  ASSERT_EQ(r.status, 0) << station.folder.read("stderr.txt");
  EXPECT_NE(r.out.find("Runs: 3  Passes: 1  Fails: 2  Aborted: 0\nYield: 33.3 %\nTop fail codes: Acq 1, CNR 1\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.report.find("<td>at least 39.50</td>"), std::string::npos);
  EXPECT_NE(r.report.find("4 run(s) outside the period left out"), std::string::npos);
}

TEST(ReportProgram, RefusesBadArgumentsAndTellsWhenThereIsNothingToReport) {
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {"--from 2024-13-01", 2},
      {"--settings missing.ini", 2},
      {"--out no/such/folder/r.html", 1},
      {"--from 2025-01-01", 1},  // no log in the period
  };
  Station station;
  for (const auto& c : cases) {
    EXPECT_EQ(station.run(c.args).status, c.status) << c.args;
    EXPECT_FALSE(fs::exists(station.folder / "Test_Report.html")) << c.args;
  }
}

}  // namespace
}  // namespace quenby::report
