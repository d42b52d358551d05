// The report's inputs: the limits from a settings file, the logs of a folder and the command line.
#include "tools/report/limits.h"

#include <gtest/gtest.h>

#include "fakes/temp_folder.h"
#include "tools/report/civil_date.h"
#include "tools/report/report_options.h"

namespace quenby::report {
namespace {

TEST(ReportLimits, ComeFromTheSettingsFileWithTheStationsDefaultsForMissingKeys) {
  quenby::testing::TempFolder folder;
  folder.write("Torvane.ini",
               "[Basic]\r\nAcqTime_Timeout=12\r\nSignal_Phase_Ratio=0.9\r\nSignal_TCXO_Offset=30\r\n"
               "Signal_CNR_Threshold=38.5\r\nsignal_cnr_dev = 1.5\r\nColdStart_Timeout=abc\r\n"
               "[Extra]\r\nBT_Mac=0011223344GG\r\n");
  const auto limits = readLimits(folder / "Torvane.ini");
  ASSERT_TRUE(limits);
  struct Expected {
    Measure measure;
    std::optional<double> low, high;
  } expected[] = {
      {Measure::AcquisitionTime, {}, 12},
      {Measure::BitSyncTime, {}, 5},  // default
      {Measure::PhaseRatio, 0.9f, {}},
      {Measure::TcxoOffset, -30, 30},
      {Measure::TcxoDrift, -0.8184f, 0.8184f},
      {Measure::CnrMean, 38.5, {}},
      {Measure::CnrSigma, {}, 1.5},
      {Measure::ColdStartTtff, {}, 90},  // not a number: the default
      {Measure::ResetTime, {}, 5},
      {Measure::TotalTime, {}, {}},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(info(e.measure).title);
    const Limit& l = (*limits)[index(e.measure)];
    EXPECT_EQ(l.low, e.low);
    EXPECT_EQ(l.high, e.high);
  }
  EXPECT_FALSE(readLimits(folder / "missing.ini"));
  EXPECT_FALSE(readLimits(folder.path()));
}

TEST(ReportInputs, TheStationsLogsOfAFolderOldestFirstWithinThePeriod) {
  quenby::testing::TempFolder folder;
  for (const char* name : {"Test_Log_2024.3.10.csv", "Test_Log_2024.3.9.csv", "Test_Log_2024.2.30.csv",
                           "Test_Log_2024.3.11.csv.bak", "BTest_Log_2024.3.9.csv", "Test_Log_2024.3.1.csv"})
    folder.write(name, "");
  std::filesystem::create_directory(folder / "Test_Log_2024.3.2.csv");
  auto names = [&](Period p) {
    std::vector<std::string> n;
    for (const auto& path : stationLogs(folder.path(), p)) n.push_back(path.filename().string());
    return n;
  };
  EXPECT_EQ(names({}), (std::vector<std::string>{"Test_Log_2024.3.1.csv", "Test_Log_2024.3.9.csv",
                                                 "Test_Log_2024.3.10.csv"}));
  EXPECT_EQ(names({parseDate("2024-03-09"), parseDate("2024-03-09")}),
            (std::vector<std::string>{"Test_Log_2024.3.9.csv"}));
}

TEST(ReportInputs, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string error;  // "" when the line is good
  } cases[] = {
      {{}, ""},
      {{"--settings", "a.ini", "--from", "2024-03-01", "--to", "2024-03-31", "--out", "r.html", "x.csv", "y.csv"}, ""},
      {{"--from", "2024-3-1"}, "--from takes a date YYYY-MM-DD, not '2024-3-1'"},
      {{"--to", "2024-02-30"}, "--to takes a date YYYY-MM-DD, not '2024-02-30'"},
      {{"--from", "2024-03-02", "--to", "2024-03-01"}, "--from lies after --to"},
      {{"--out"}, "--out needs a value"},
      {{"--colour"}, "unknown option --colour"},
  };
  for (const auto& c : cases) {
    const ParsedOptions p = parseOptions(c.args);
    EXPECT_EQ(p.error, c.error);
    EXPECT_EQ(p.options.has_value(), c.error.empty());
  }
  const ReportOptions o = *parseOptions(cases[1].args).options;
  EXPECT_EQ(o.settings, std::filesystem::path("a.ini"));
  EXPECT_EQ(o.period.from, parseDate("2024-03-01"));
  EXPECT_EQ(o.period.to, parseDate("2024-03-31"));
  EXPECT_EQ(o.out, "r.html");
  EXPECT_EQ(o.logs.size(), 2u);
  EXPECT_EQ(parseOptions({}).options->out, "Test_Report.html");
}

}  // namespace
}  // namespace quenby::report
