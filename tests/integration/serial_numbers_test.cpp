// Serial numbers through the runner on an automated line: a serials file gives each port its
// modules for every round, a retested module keeps its number, a port without numbers says so,
// and the report of those logs shows the first-pass yield.
#include <gtest/gtest.h>

#include <cstdlib>

#include "station_run.h"

namespace quenby::integration {
namespace {

TEST(SerialNumbers, RoundsWithRetestsReachTheLogAndTheReportsFirstPassYield) {
  StationFolder station;
  station.writeSettings("[System]\nEnable_Test=2\n[Basic]\nVersion_Timeout=5\n");
  // COM2's fixture is bad: every module on it fails its version; B passes when retested on COM1.
  station.startModules("1-3", kQuickModules + "[COM2]\nversion=WRONG,0000,,\n");
  station.write("serials.csv", "COM1,SN-A\nCOM2,SN-B\nCOM1,SN-B\nCOM2,\"SN-C\";x\n");

  const RunResult run = station.run({"--com", "1,2,3", "--rounds", "2", "--serials",
                                     (station.path() / "serials.csv").string()});
  ASSERT_EQ(station.stopModules(), 0);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.errors, "");

  const TestLogContents log = readTestLog(station.path());
  const auto serialsOf = [&log](int port) {
    std::vector<std::string> serials;
    for (const LogRow& row : log.linesByPort.at(port)) serials.push_back(row.at(0));
    return serials;
  };
  EXPECT_EQ(serialsOf(1), (std::vector<std::string>{"SN-A", "SN-B"}));
  EXPECT_EQ(serialsOf(2), (std::vector<std::string>{"SN-B", "\"SN-C\";x"}));
  EXPECT_EQ(serialsOf(3), (std::vector<std::string>{"", ""}));
  const PrintedRun printed(run.output);
  const auto& memo3 = printed.memo.at(3);
  EXPECT_EQ(std::count(memo3.begin(), memo3.end(),
                       "     No serial number scanned: this run is logged without one"),
            2);
  const auto& memo1 = printed.memo.at(1);
  EXPECT_EQ(std::count(memo1.begin(), memo1.end(), memo3.front()), 0);

  fs::copy_file(QUENBY_REPORT_PATH, station.path() / "quenby-report");
  const std::string command = "cd '" + station.path().string() +
                              "' && ./quenby-report > report-out.txt 2> report-err.txt";
  ASSERT_EQ(std::system(command.c_str()), 0) << station.read("report-err.txt");
  const std::string page = station.read("Test_Report.html");
  // Three modules: A passed first, B passed on its retest, C failed: one in three first time.
  EXPECT_NE(page.find("id=\"first-pass\""), std::string::npos);
  EXPECT_NE(page.find("33.3"), std::string::npos);
  EXPECT_NE(page.find("SN-B"), std::string::npos);
}

}  // namespace
}  // namespace quenby::integration
