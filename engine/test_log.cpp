#include "engine/test_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "settings/test_settings.h"

namespace quenby {
namespace {

namespace fs = std::filesystem;

constexpr const char* LogLineEnd = "\r\n";
constexpr const char* BackupFolderName = "backup";
constexpr const char* BackupDirectoryError = "Cannot create backup directory.";

std::string twoDigits(int n) {
  std::string text = std::to_string(n);
  return text.size() < 2 ? "0" + text : text;
}

std::string dayPart(const LogTime& t) {
  return std::to_string(t.year) + "." + std::to_string(t.month) + "." + std::to_string(t.day);
}

// The run line without its line end, as the operator reads it in the memo.
std::string withoutLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

// Makes sure backup/ exists as a folder.
bool ensureBackupFolder(const fs::path& folder) {
  std::error_code ec;
  const fs::path backup = folder / BackupFolderName;
  if (fs::is_directory(backup, ec)) return true;
  fs::create_directory(backup, ec);
  return !ec && fs::is_directory(backup, ec);
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Appends the header (when the log is still empty) and the run line in one write. The file lock
// keeps another station process on the same folder from interleaving with it; a write that fails
// halfway is cut back so that the log never ends in half a line.
bool appendToLog(const fs::path& path, std::uint32_t offeredItems, const std::string& runLine) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) return false;
  // A file system without locks still gets the line: the single append write is then the
  // only guard.
  while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
  }

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const std::string bytes =
      info.st_size == 0 ? TestLog::headerLine(offeredItems) + runLine : runLine;
  if (writeAll(fd.get(), bytes)) return true;
  // If even the cut fails, nothing more can be done here: the memo shows the line.
  [[maybe_unused]] const int cut = ::ftruncate(fd.get(), info.st_size);
  return false;
}

}  // namespace

LogTime localLogTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return LogTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                 local.tm_hour,        local.tm_min,     local.tm_sec};
}

TestLog::TestLog(std::filesystem::path folder, std::mutex& lock, std::function<LogTime()> now)
    : folder_(std::move(folder)), lock_(lock), now_(std::move(now)) {}

std::string TestLog::headerLine(std::uint32_t offeredItems) {
  std::string header =
      "SerialNo,Pass/Fail,Hz ,Socket,ComPort,Date,Time,Flash,f/w version,SVid,Acq Time,Bit Sync,"
      "Phase Error,TCXO Offset,TCXO Drift,CNR Mean, CNR Sigma,";
  header += "CTTFF,";
  if (offeredItems & item::BluetoothMac) header += "BT_Mac,";
  header += "Reset,NMEA,";
  header += "Total Time";
  header += LogLineEnd;
  return header;
}

std::string TestLog::logFileName(const LogTime& t) { return "Test_Log_" + dayPart(t) + ".csv"; }

std::string TestLog::dateText(const LogTime& t) {
  std::string year = std::to_string(t.year);
  while (year.size() < 4) year.insert(0, "0");
  return year + "-" + twoDigits(t.month) + "-" + twoDigits(t.day);
}

std::string TestLog::timeText(const LogTime& t) {
  return twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
}

std::vector<std::string> TestLog::appendRunLine(const LogTime& when, std::uint32_t offeredItems,
                                                const std::string& runLine) {
  std::vector<std::string> problems;
  std::lock_guard<std::mutex> guard(lock_);

  // The run line matters more than its backup: without the folder it is still written.
  if (!ensureBackupFolder(folder_)) problems.emplace_back(BackupDirectoryError);

  const fs::path path = folder_ / logFileName(when);
  if (!appendToLog(path, offeredItems, runLine)) {
    problems.push_back("Cannot write the test log " + path.string());
    problems.push_back(withoutLineEnd(runLine));
  }
  return problems;
}

std::vector<std::string> TestLog::refreshBackup(const LogTime& when) {
  std::lock_guard<std::mutex> guard(lock_);
  std::error_code ec;
  const fs::path log = folder_ / logFileName(when);
  const fs::path backupFolder = folder_ / BackupFolderName;
  // A missing folder or log was already told to the operator when the line was appended.
  if (!fs::is_directory(backupFolder, ec) || !fs::is_regular_file(log, ec)) return {};

  // Copy beside the backup, then put the copy in its place: a copy that fails halfway leaves
  // the previous backup as it was.
  const fs::path backup = backupFolder / ("B" + logFileName(when));
  fs::path partial = backup;
  partial += ".part";
  fs::copy_file(log, partial, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(partial, backup, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    return {"Cannot refresh the backup copy " + backup.string()};
  }
  return {};
}

}  // namespace quenby
