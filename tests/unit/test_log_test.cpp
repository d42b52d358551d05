#include "engine/test_log.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
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

  // Every memo line of the append, about the log and about the backup.
  std::vector<std::string> append(const std::string& line) {
    auto appended = log.appendRunLine(May7, 0x305F, line);
    // Every path lets go of the lock.
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
    auto problems = appended.logProblems;
    problems.insert(problems.end(), appended.backupProblems.begin(),
                    appended.backupProblems.end());
    return problems;
  }
};

TEST_F(TestLogFixture, FirstLineOfTheDayBringsTheHeaderAndBackupFollows) {
  EXPECT_TRUE(append("a,1\r\n").empty());
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
  EXPECT_EQ(folder.read(BackupName), folder.read(LogName));

  EXPECT_TRUE(append("b,2\r\n").empty());
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\nb,2\r\n");
  EXPECT_EQ(folder.read(BackupName), folder.read(LogName));
}

TEST_F(TestLogFixture, BackupFolderThatCannotBeCreatedDoesNotLoseTheLine) {
  folder.write("backup", "not a folder");
  EXPECT_EQ(append("a,1\r\n"), std::vector<std::string>{"Cannot create backup directory."});
  EXPECT_EQ(log.linesNotRecorded(), 0);
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
  EXPECT_EQ(folder.read("backup"), "not a folder");
}

TEST_F(TestLogFixture, LogThatCannotBeWrittenShowsPathAndLine) {
  std::filesystem::create_directory(folder / LogName);
  const auto problems = append("a,1\r\n");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "Cannot write the test log " + (folder / LogName).string() + ": Is a directory");
  EXPECT_EQ(problems[1], "a,1");
  EXPECT_EQ(log.linesNotRecorded(), 1);
}

TEST_F(TestLogFixture, FailedBackupCopyLeavesLogAndTellsOnce) {
  std::filesystem::create_directories(folder / BackupName);  // the copy's name is taken
  const auto problems = append("a,1\r\n");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("backup"), std::string::npos);
  EXPECT_EQ(folder.read(LogName), HeaderNoBt + "a,1\r\n");
}

TEST_F(TestLogFixture, ConcurrentWritersNeverInterleaveLinesAndKeepOneBackup) {
  // Two writers with their own locks stand for two station processes on one folder.
  std::mutex otherLock;
  TestLog other{folder.path(), otherLock, [] { return May7; }};
  constexpr int PerWriter = 200;
  auto writer = [](TestLog& l, char tag, int& problems) {
    for (int i = 0; i < PerWriter; ++i) {
      const auto appended =
          l.appendRunLine(May7, 0x305F, std::string(300, tag) + std::to_string(i) + "\r\n");
      problems += static_cast<int>(appended.logProblems.size() + appended.backupProblems.size());
    }
  };
  int problemsA = 0;
  int problemsB = 0;
  std::thread a(writer, std::ref(log), 'a', std::ref(problemsA));
  std::thread b(writer, std::ref(other), 'b', std::ref(problemsB));
  a.join();
  b.join();
  EXPECT_EQ(problemsA + problemsB, 0);
  EXPECT_EQ(folder.read(BackupName), folder.read(LogName));

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

// The backup grows by the appended line itself: it stays the same file, however long the day's
// log has grown.
TEST_F(TestLogFixture, BackupTakesTheSameBytesInsteadOfACopy) {
  ASSERT_TRUE(append("a,1\r\n").empty());
  struct stat before {};
  ASSERT_EQ(::stat((folder / BackupName).c_str(), &before), 0);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(append("b,2\r\n").empty());
  struct stat after {};
  ASSERT_EQ(::stat((folder / BackupName).c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(folder.read(BackupName), HeaderNoBt + "a,1\r\n" + std::string("b,2\r\n") +
                                         "b,2\r\n" + "b,2\r\n");
}

TEST_F(TestLogFixture, BackupThatNoLongerMatchesTheLogIsRewrittenFromIt) {
  struct Case {
    const char* name;
    std::function<void(TempFolder&)> spoil;
  } cases[] = {
      {"removed", [](TempFolder& f) { std::filesystem::remove(f / BackupName); }},
      {"cut short", [](TempFolder& f) { std::filesystem::resize_file(f / BackupName, 10); }},
      {"changed, same size",
       [](TempFolder& f) {
         std::string text = f.read(BackupName);
         text[text.size() - 3] = 'X';
         f.write(BackupName, text);
       }},
      {"longer", [](TempFolder& f) { f.write(BackupName, f.read(BackupName) + "extra\r\n"); }},
      {"another day's log",
       [](TempFolder& f) { f.write(BackupName, std::string(f.read(LogName).size(), 'z')); }},
  };
  for (const auto& c : cases) {
    TempFolder fresh;
    std::mutex freshLock;
    TestLog freshLog{fresh.path(), freshLock, [] { return May7; }};
    ASSERT_TRUE(freshLog.appendRunLine(May7, 0x305F, "a,1\r\n").backupProblems.empty());
    c.spoil(fresh);
    const auto appended = freshLog.appendRunLine(May7, 0x305F, "b,2\r\n");
    EXPECT_TRUE(appended.backupProblems.empty()) << c.name;
    EXPECT_EQ(fresh.read(BackupName), HeaderNoBt + "a,1\r\nb,2\r\n") << c.name;
    // The copy's temporary file is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fresh / "backup"),
                            std::filesystem::directory_iterator()),
              1)
        << c.name;
  }
}

}  // namespace
}  // namespace quenby
