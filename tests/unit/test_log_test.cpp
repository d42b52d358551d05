#include "engine/test_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <thread>

#include "tests/fakes/temp_folder.h"

namespace quenby {
namespace {

using testing::TempFolder;

const LogTime May7{2009, 5, 7, 13, 5, 9};
const std::string LogName = "Test_Log_2009.5.7.csv";
const std::string BackupName = "backup/BTest_Log_2009.5.7.csv";
const std::string HeaderNoBt =
    "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,Bit Sync,"
    "Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,CTTFF,Reset,NMEA,Total Time\r\n";

TEST(TestLogNames, DatesAndFileNamesHaveFixedFormsWithoutCommas) {
  struct Case {
    LogTime t;
    std::string file, date, time;
  } cases[] = {
      {May7, "Test_Log_2009.5.7.csv", "2009-05-07", "13:05:09"},
      {{2010, 12, 31, 0, 0, 0}, "Test_Log_2010.12.31.csv", "2010-12-31", "00:00:00"},
      {{2024, 1, 10, 23, 59, 59}, "Test_Log_2024.1.10.csv", "2024-01-10", "23:59:59"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TestLog::logFileName(c.t), c.file);
    EXPECT_EQ(TestLog::dateText(c.t), c.date);
    EXPECT_EQ(TestLog::timeText(c.t), c.time);
  }
}

TEST(TestLogHeader, BluetoothColumnOnlyWhenOffered) {
  EXPECT_EQ(TestLog::headerLine(0x305F), HeaderNoBt);
  std::string withBt = HeaderNoBt;
  withBt.replace(withBt.find("CTTFF,") + 6, 0, "BT_Mac,");
  EXPECT_EQ(TestLog::headerLine(0x305F | 0x400), withBt);
}

struct TestLogFixture : ::testing::Test {
  TempFolder folder;
  std::mutex lock;
  TestLog log{folder.path(), lock, [] { return May7; }};

  std::vector<std::string> append(const std::string& line) {
    auto problems = log.appendRunLine(May7, 0x305F, line);
    // Every path lets go of the lock.
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
    return problems;
  }
};

TEST_F(TestLogFixture, FirstLineOfTheDayBringsTheHeaderAndBackupFollows) {
  EXPECT_TRUE(append("a,1\r\n").empty());
  EXPECT_TRUE(log.refreshBackup(May7).empty());
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
  EXPECT_EQ(folder.read(BackupName), folder.read(LogName));

  EXPECT_TRUE(append("b,2\r\n").empty());
  EXPECT_TRUE(log.refreshBackup(May7).empty());
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\nb,2\r\n");
  EXPECT_EQ(folder.read(BackupName), folder.read(LogName));
}

TEST_F(TestLogFixture, BackupFolderThatCannotBeCreatedDoesNotLoseTheLine) {
  folder.write("backup", "not a folder");
  EXPECT_EQ(append("a,1\r\n"), std::vector<std::string>{"Cannot create backup directory."});
  EXPECT_TRUE(log.refreshBackup(May7).empty());
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
  EXPECT_EQ(folder.read("backup"), "not a folder");
}

TEST_F(TestLogFixture, LogThatCannotBeWrittenShowsPathAndLine) {
  std::filesystem::create_directory(folder / LogName);
  const auto problems = append("a,1\r\n");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "Cannot write the test log " + (folder / LogName).string());
  EXPECT_EQ(problems[1], "a,1");
}

TEST_F(TestLogFixture, FailedBackupCopyLeavesLogAndTellsOnce) {
  std::filesystem::create_directories(folder / BackupName);  // the copy's name is taken
  ASSERT_TRUE(append("a,1\r\n").empty());
  const auto problems = log.refreshBackup(May7);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("backup"), std::string::npos);
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
}

TEST_F(TestLogFixture, ConcurrentWritersNeverInterleaveLines) {
  // Two writers with their own locks stand for two station processes on one folder.
  std::mutex otherLock;
  TestLog other{folder.path(), otherLock, [] { return May7; }};
  constexpr int PerWriter = 200;
  auto writer = [](TestLog& l, char tag) {
    for (int i = 0; i < PerWriter; ++i)
      l.appendRunLine(May7, 0x305F, std::string(300, tag) + std::to_string(i) + "\r\n");
  };
  std::thread a(writer, std::ref(log), 'a');
  std::thread b(writer, std::ref(other), 'b');
  a.join();
  b.join();

  std::istringstream in(folder.read(LogName));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line + "\n", HeaderNoBt);
  std::set<std::string> seen;
  while (std::getline(in, line)) {
    ASSERT_EQ(line.back(), '\r');
    const std::string body = line.substr(0, 300);
    ASSERT_TRUE(body == std::string(300, 'a') || body == std::string(300, 'b')) << line;
    seen.insert(line);
  }
  EXPECT_EQ(seen.size(), 2u * PerWriter);
}

}  // namespace
}  // namespace quenby
