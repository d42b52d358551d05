// The day's CSV test log in the program's folder, and its backup copy.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quenby {

struct LogTime {
  int year = 0;
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The local time now.
LogTime localLogTime();

class TestLog {
 public:
  // folder: where Test_Log_<Y>.<M>.<D>.csv and backup/ live. now: the local time.
  TestLog(std::filesystem::path folder, std::mutex& lock,
          std::function<LogTime()> now = localLogTime);

  // The header line (with BT_Mac only when offeredItems has the Bluetooth bit), ending in a line
  // end.
  static std::string headerLine(std::uint32_t offeredItems);
  // "Test_Log_" + Y + "." + M + "." + D + ".csv" (no leading zeros).
  static std::string logFileName(const LogTime& t);
  // "YYYY-MM-DD" and "HH:MM:SS".
  static std::string dateText(const LogTime& t);
  static std::string timeText(const LogTime& t);

  LogTime now() const { return now_(); }
  const std::filesystem::path& folder() const { return folder_; }

  // What appending one run line came to.
  struct Appended {
    // The line is in the day's log.
    bool recorded = false;
    // Memo lines about the log itself: a backup folder that cannot be created, a log that cannot
    // be opened or written (with its path and the run line, so that the operator can record it).
    std::vector<std::string> logProblems;
    // Memo lines about the backup copy (the log itself is fine).
    std::vector<std::string> backupProblems;
    // When not recorded: the log file and why it could not be written.
    std::string file;
    std::string reason;
  };

  // Appends one run line (built by the caller, line end included) to the day's log, writing the
  // header first when the file is new, and the same bytes to backup/BTest_Log_<Y>.<M>.<D>.csv,
  // so that the backup stays a byte-for-byte copy at the cost of one line. A backup that no
  // longer matches the log (missing, cut short, changed) is rewritten from the log. Holds the
  // log lock, and a file lock on the log against other stations writing into the same folder,
  // for the whole of it, and always releases both.
  Appended appendRunLine(const LogTime& when, std::uint32_t offeredItems,
                         const std::string& runLine);

  // Run lines that could not be written to the log since the station started.
  int linesNotRecorded() const { return notRecorded_.load(); }

 private:
  std::filesystem::path folder_;
  std::mutex& lock_;
  std::function<LogTime()> now_;
  std::atomic<int> notRecorded_{0};
};

}  // namespace quenby
