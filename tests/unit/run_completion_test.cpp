#include "engine/run_completion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/fakes/csv_reader.h"
#include "tests/fakes/worker_harness.h"

namespace quenby {
namespace {

using testing::readCsv;
using testing::WorkerHarness;

const std::string Header =
    "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,Bit Sync,"
    "Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,CTTFF,Reset,NMEA,Total Time\r\n";
const std::string Version = "QNB_2.10,0001,3329,1.0";
const std::string Output = "1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*";

// Starts a run with the given items, lets the test fill the record, lets `seconds` pass, and
// completes the run.
void completeAfter(WorkerHarness& h, std::uint32_t items, int seconds,
                   const std::function<void(WorkerRecord&)>& fill) {
  h.settings.enableTest = static_cast<std::int32_t>(items);
  h.worker->startRun();
  fill(h.worker->record());
  h.clock.advanceMs(seconds * 1000);
  completeRun(*h.worker);
}

void passVersionAcqNmea(WorkerRecord& r) {
  r.results.firmwareVersion = {true, Version};
  r.results.acquisitionTime = {true, "12"};
  r.results.nmeaType = {true, Output};
  r.verdictWord = 1;
}

TEST(RunCompletion, WorkedExampleWritesHeaderOnceThenOneLinePerRun) {
  WorkerHarness h;
  completeAfter(h, item::FirmwareVersion | item::AcquisitionTime | item::NmeaType, 25,
                passVersionAcqNmea);
  const std::string line =
      ",Pass,N/A,,COM3,2009-05-07,13:05:09,N/A,\"" + Version + "\",29,12,"
      "N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,\"" + Output + "\",25\r\n";
  EXPECT_EQ(h.logText(), Header + line);
  EXPECT_EQ(h.folder.read("backup/BTest_Log_2009.5.7.csv"), h.logText());
  EXPECT_EQ(h.view.verdict, 1);
  EXPECT_EQ(h.view.caption(), "COM 3");
  const std::vector<std::string> closing = {"[Finish]", "     Take(25) secs to test.",
                                            std::string(48, '*')};
  EXPECT_TRUE(std::equal(closing.begin(), closing.end(), h.view.memo.end() - 3));

  completeAfter(h, item::FirmwareVersion | item::AcquisitionTime | item::NmeaType, 25,
                passVersionAcqNmea);
  EXPECT_EQ(h.logText(), Header + line + line);
  EXPECT_EQ(h.folder.read("backup/BTest_Log_2009.5.7.csv"), h.logText());
}

TEST(RunCompletion, ColumnsFollowTheSlots) {
  struct Case {
    const char* name;
    std::function<void(WorkerRecord&)> fill;
    std::string expected;  // the run line from column 8 (Flash) on
  } cases[] = {
      {"open failure", [](WorkerRecord& r) { r.runFailCode = "ComPort"; },
       "N/A,N/A,29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,3\r\n"},
      {"signal quality timed out",
       [](WorkerRecord& r) {
         r.results.phase = {true, "Timeout(20)"};
         r.results.tcxo = {true, "Timeout(20)", "Timeout(20)"};
         r.results.cnr = {true, "Timeout(20)", "Timeout(20)"};
         r.runFailCode = "CNR";
       },
       "N/A,N/A,29,N/A,N/A,Timeout(20),Timeout(20),Timeout(20),Timeout(20),Timeout(20),N/A,N/A,"
       "N/A,3\r\n"},
      {"tcxo failed",
       [](WorkerRecord& r) {
         r.results.phase = {true, "0.85"};
         r.results.tcxo = {true, "-41.000", "0.250"};
         r.runFailCode = "TCXO";
       },
       "N/A,N/A,29,N/A,N/A,0.85,-41.000,0.250,N/A,N/A,N/A,N/A,N/A,3\r\n"},
      {"version timed out, quotes doubled in output",
       [](WorkerRecord& r) {
         r.results.firmwareVersion = {true, "Timeout(5)"};
         r.results.nmeaType = {true, "1,\"2\"*"};
         r.runFailCode = "Version";
       },
       "N/A,\"Timeout(5)\",29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,\"1,\"\"2\"\"*\",3\r\n"},
      {"download failed, later items",
       [](WorkerRecord& r) {
         r.results.flashDownload = {true, "FT_ERROR"};
         r.results.coldStartTtff = {true, "31"};
         r.results.factoryReset = {true, "2"};
         r.runFailCode = "Download";
       },
       "FT_ERROR,N/A,29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,31,2,N/A,3\r\n"},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    h.view.serialNumber = "SN42";
    h.view.socket = "7";
    completeAfter(h, item::SignalQuality, 3, c.fill);
    const std::string prefix = "SN42,Fail(" + h.worker->record().runFailCode +
                               "),N/A,7,COM3,2009-05-07,13:05:09,";
    EXPECT_EQ(h.logText(), Header + prefix + c.expected) << c.name;
    EXPECT_EQ(h.view.verdict, 0) << c.name;
    EXPECT_EQ(h.view.caption(), "COM 3     Fail(" + h.worker->record().runFailCode + ")") << c.name;
  }
}

TEST(RunCompletion, TextsFromModulesAndOperatorKeepEveryColumnAndRow) {
  struct Case {
    std::string text;   // what the module or the operator gave
    std::string shown;  // what a CSV reader gets back
    std::string failColumn;  // the same as a fail code in the Pass/Fail column
  } cases[] = {
      {"a,b", "a,b", "Fail(a,b)"},
      {"say \"hi\"", "say \"hi\"", "Fail(say \"hi\")"},
      {"cr\rlf\nend", "cr lf end", "Fail(cr lf end)"},
      {std::string("nul\0esc\x1b[2Jdel\x7f", 15), "nul esc [2Jdel ", "Fail(nul esc [2Jdel )"},
      {"=HYPERLINK(\"http://x\",\"click\")", "'=HYPERLINK(\"http://x\",\"click\")",
       "Fail(=HYPERLINK(\"http://x\",\"click\"))"},
      {"+1", "'+1", "Fail(+1)"},
      {"-x", "'-x", "Fail(-x)"},
      {"@sum", "'@sum", "Fail(@sum)"},
      {"\r=cmd", " =cmd", "Fail( =cmd)"},
      {"caf\xc3\xa9 \xff", "caf\xc3\xa9 \xff", "Fail(caf\xc3\xa9 \xff)"},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    h.state.offeredItems |= item::BluetoothMac;
    h.view.serialNumber = c.text;
    h.view.socket = c.text;
    completeAfter(h, item::FirmwareVersion, 4, [&](WorkerRecord& r) {
      r.runFailCode = c.text;
      r.results.flashDownload = {true, c.text};
      r.results.firmwareVersion = {true, c.text};
      r.results.tcxo = {true, "-41.000", "-0.250"};
      r.results.bluetoothMac = {true, c.text};
      r.results.nmeaType = {true, c.text};
    });
    SCOPED_TRACE(h.logText());
    const auto csv = readCsv(h.logText());
    ASSERT_EQ(csv.error, "");
    ASSERT_EQ(csv.rows.size(), 2u);
    ASSERT_EQ(csv.rows[0].size(), 22u);
    const auto& row = csv.rows[1];
    ASSERT_EQ(row.size(), 22u);
    const std::vector<std::pair<std::size_t, std::string>> expected{
        {0, c.shown},  {1, c.failColumn}, {3, c.shown},  {4, "COM3"},  {7, c.shown},
        {8, c.shown},  {13, "-41.000"}, {14, "-0.250"}, {18, c.shown}, {20, c.shown},
        {21, "4"}};
    for (const auto& [column, text] : expected) EXPECT_EQ(row[column], text) << "column " << column;
    // The station's own numbers are written as they were, unquoted.
    EXPECT_NE(h.logText().find(",-41.000,-0.250,"), std::string::npos);
  }
}

TEST(RunCompletion, HzColumnShowsTheMeasuredRate) {
  struct Case {
    UpdateHzSlot slot;
    std::string column;
  } cases[] = {
      {{5.0f, "", true}, "5"},            // failed: the rate still shows
      {{0.5f, "", true}, "0.5"},
      {{0.0f, "Timeout(5)", true}, "0"},  // timed out: no rate measured
      {{0.0f, "", false}, "N/A"},
  };
  for (const auto& c : cases) {
    WorkerHarness h;
    completeAfter(h, item::UpdateHz, 0, [&](WorkerRecord& r) { r.results.updateHz = c.slot; });
    EXPECT_EQ(h.logText().substr(Header.size(), 14 + c.column.size()),
              ",Fail(Abort)," + c.column + ",")
        << c.column;
  }
}

TEST(RunCompletion, BluetoothColumnOnlyWhenOffered) {
  WorkerHarness h(0);
  h.state.offeredItems |= item::BluetoothMac;
  completeAfter(h, item::BluetoothMac, 1, [](WorkerRecord& r) {
    r.results.bluetoothMac = {true, "0A:1B:2C:3D:4E:5F"};
    r.verdictWord = 1;
  });
  EXPECT_EQ(h.logText(),
            "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,"
            "Bit Sync,Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,CTTFF,BT_Mac,Reset,"
            "NMEA,Total Time\r\n"
            ",Pass,N/A,,N/A,2009-05-07,13:05:09,N/A,N/A,29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,"
            "0A:1B:2C:3D:4E:5F,N/A,N/A,1\r\n");
}

TEST(RunCompletion, LogProblemsReachTheMemoAndTheRunStillCloses) {
  struct Case {
    const char* name;
    std::function<void(WorkerHarness&)> breakIt;
    bool lineInLog;
    std::vector<std::string> memo;  // everything the completion wrote to the memo
    std::string caption;
  } cases[] = {
      {"backup folder is a file",
       [](WorkerHarness& h) { h.folder.write("backup", "x"); }, true,
       {"Cannot create backup directory.", "[Finish]", "     Take(2) secs to test."},
       "COM 3     Fail(Abort)"},
      {"log path is a folder",
       [](WorkerHarness& h) {
         std::filesystem::create_directory(h.folder / "Test_Log_2009.5.7.csv");
       },
       false,
       {"", ",Fail(Abort),N/A,,COM3,2009-05-07,13:05:09,N/A,N/A,29,N/A,N/A,N/A,N/A,N/A,N/A,N/A,N/A,"
            "N/A,N/A,2",
        "[Finish]", "     Take(2) secs to test."},
       "COM 3     Fail(Abort)     Not recorded!!"},
  };
  for (auto& c : cases) {
    WorkerHarness h;
    c.breakIt(h);
    const std::string logFile = (h.folder / "Test_Log_2009.5.7.csv").string();
    if (!c.lineInLog) c.memo[0] = "Cannot write the test log " + logFile + ": Is a directory";
    std::vector<RunLogged> told;
    h.station.runLogged = [&told](const RunLogged& r) { told.push_back(r); };
    completeAfter(h, item::AcquisitionTime, 2, [](WorkerRecord&) {});
    EXPECT_EQ(h.view.caption(), c.caption) << c.name;
    ASSERT_EQ(told.size(), 1u) << c.name;
    EXPECT_EQ(told[0].recorded, c.lineInLog) << c.name;
    EXPECT_EQ(told[0].file, c.lineInLog ? "" : logFile) << c.name;
    h.view.memo.erase(h.view.memo.begin(),
                      h.view.memo.end() - static_cast<long>(c.memo.size() + 1));
    c.memo.push_back(std::string(48, '*'));
    EXPECT_EQ(h.view.memo, c.memo) << c.name;
    if (c.lineInLog) {
      EXPECT_EQ(h.logText().rfind(",2\r\n"), h.logText().size() - 4) << c.name;
    }
    EXPECT_TRUE(h.state.logLock.try_lock()) << c.name;
    h.state.logLock.unlock();
    EXPECT_EQ(h.view.verdict, 0) << c.name;
  }
}

}  // namespace
}  // namespace quenby
