// The day's CSV test log in the program's folder, and its backup copy.
#pragma once

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

  // Appends one run line (built by the caller, line end included) to the day's log, writing the
  // header first when the file is new. Holds the log lock while writing and always releases it.
  // Returns the memo lines that tell the operator about a problem (empty when all went well):
  // a backup folder that cannot be created, a log that cannot be opened or written (with the
  // path and the run line itself, so that the operator can record it).
  std::vector<std::string> appendRunLine(const LogTime& when, std::uint32_t offeredItems,
                                         const std::string& runLine);
  // Rewrites backup/BTest_Log_<Y>.<M>.<D>.csv as a byte-for-byte copy of the day's log. Returns
  // the memo line telling of a failed copy, if any; the log itself is never touched.
  std::vector<std::string> refreshBackup(const LogTime& when);

 private:
  std::filesystem::path folder_;
  std::mutex& lock_;
  std::function<LogTime()> now_;
};

}  // namespace quenby
