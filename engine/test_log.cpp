#include "engine/test_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
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
    if (n == 0) {
      errno = ENOSPC;  // a write that takes nothing: the device has no room for it
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool readAt(int fd, std::string& bytes, off_t offset) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done,
                              offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// How much of the end of the log and of the backup is compared before a line is appended to the
// backup: enough to notice a backup that was changed or belongs to another log, without reading
// a whole day of lines.
constexpr std::size_t ComparedTail = 4096;

// True when the backup has the log's size and ends with the same bytes.
bool backupMatches(int log, int backup, off_t size) {
  struct stat info {};
  if (::fstat(backup, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != size) return false;
  const std::size_t tail = std::min<std::size_t>(ComparedTail, static_cast<std::size_t>(size));
  std::string logTail(tail, '\0');
  std::string backupTail(tail, '\0');
  const off_t from = size - static_cast<off_t>(tail);
  return readAt(log, logTail, from) && readAt(backup, backupTail, from) && logTail == backupTail;
}

// Writes the whole log beside the backup under a name of its own (another station writing into
// the same folder never shares it) and puts it in the backup's place.
bool rewriteBackup(int log, const fs::path& backup) {
  std::string temporary =
      (backup.parent_path() / ("." + backup.filename().string() + ".XXXXXX")).string();
  FileDescriptor copy(::mkostemp(temporary.data(), O_CLOEXEC));
  if (!copy.valid()) return false;
  struct stat info {};
  bool copied = ::fstat(log, &info) == 0 && ::fchmod(copy.get(), 0644) == 0;
  std::string chunk;
  for (off_t at = 0; copied && at < info.st_size; at += static_cast<off_t>(chunk.size())) {
    chunk.resize(std::min<std::size_t>(1 << 20, static_cast<std::size_t>(info.st_size - at)));
    copied = readAt(log, chunk, at) && writeAll(copy.get(), chunk);
  }
  if (copied && ::rename(temporary.c_str(), backup.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

// Brings the backup to the log's new end: the same bytes appended when it matched the log before
// them, the whole log copied when it did not (or when the append failed).
bool updateBackup(int log, off_t sizeBefore, const std::string& bytes, const fs::path& backup) {
  FileDescriptor fd(::open(backup.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW));
  if (fd.valid() && backupMatches(log, fd.get(), sizeBefore)) {
    if (writeAll(fd.get(), bytes)) return true;
    [[maybe_unused]] const int cut = ::ftruncate(fd.get(), sizeBefore);
  }
  return rewriteBackup(log, backup);
}

// Appends the header (when the log is still empty) and the run line in one write, then the same
// bytes to the backup when there is one. The file lock keeps another station process on the same
// folder from interleaving with it, in the log and in the backup; a write that fails halfway is
// cut back so that the log never ends in half a line.
struct LogWrite {
  bool written = false;
  bool backupFailed = false;
  // Why the line was not written: the system's error.
  int error = 0;
};

LogWrite appendToLog(const fs::path& path, const std::optional<fs::path>& backup,
                     std::uint32_t offeredItems, const std::string& runLine) {
  LogWrite result;
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!fd.valid()) {
    result.error = errno;
    return result;
  }
  // A file system without locks still gets the line: the single append write is then the
  // only guard.
  while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
  }

  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    result.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return result;
  }
  const std::string bytes =
      info.st_size == 0 ? TestLog::headerLine(offeredItems) + runLine : runLine;
  if (!writeAll(fd.get(), bytes)) {
    result.error = errno;
    // If even the cut fails, nothing more can be done here: the memo shows the line.
    [[maybe_unused]] const int cut = ::ftruncate(fd.get(), info.st_size);
    return result;
  }
  result.written = true;
  if (backup) result.backupFailed = !updateBackup(fd.get(), info.st_size, bytes, *backup);
  return result;
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

TestLog::Appended TestLog::appendRunLine(const LogTime& when, std::uint32_t offeredItems,
                                        const std::string& runLine) {
  Appended result;
  std::lock_guard<std::mutex> guard(lock_);

  // The run line matters more than its backup: without the folder it is still written.
  std::optional<fs::path> backup;
  if (ensureBackupFolder(folder_))
    backup = folder_ / BackupFolderName / ("B" + logFileName(when));
  else
    result.logProblems.emplace_back(BackupDirectoryError);

  const fs::path path = folder_ / logFileName(when);
  const LogWrite write = appendToLog(path, backup, offeredItems, runLine);
  result.recorded = write.written;
  if (!write.written) {
    notRecorded_.fetch_add(1);
    result.file = path.string();
    result.reason = write.error == EINVAL ? "not a regular file" : std::strerror(write.error);
    result.logProblems.push_back("Cannot write the test log " + path.string() + ": " +
                                 result.reason);
    result.logProblems.push_back(withoutLineEnd(runLine));
  }
  if (write.backupFailed)
    result.backupProblems.push_back("Cannot refresh the backup copy " + backup->string());
  return result;
}

}  // namespace quenby
