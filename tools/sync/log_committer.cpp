#include "tools/sync/log_committer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "tools/report/log_reader.h"
#include "tools/sync/run_row.h"

namespace quenby::sync {
namespace {

using report::LogReader;
using report::RejectedLines;

// One read brings at most this much of a file; the rest follows in the next.
constexpr std::size_t MaxReadBytes = 16 << 20;

struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads [at, at + length) (less at the end of the file); empty on a read error.
std::string readAt(int fd, std::int64_t at, std::size_t length) {
  std::string bytes(length, '\0');
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = ::pread(fd, bytes.data() + got, length - got, static_cast<off_t>(at + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

// The file's first line with its line end, or nothing when it has none within the longest line.
std::string firstLineOf(int fd) {
  std::string head = readAt(fd, 0, LogReader::MaxLineBytes + 2);
  const std::size_t end = head.find('\n');
  if (end == std::string::npos) return {};
  head.resize(end + 1);
  return head;
}

constexpr const char* UpsertProgress =
    "INSERT INTO sync_progress AS p (station, log_file, byte_offset, line_count, head_sum, "
    "tail_start, tail_sum, skipped_lines) VALUES ($1, $2, $3, $4, $5, $6, $7, $8) "
    "ON CONFLICT (station, log_file) DO UPDATE SET byte_offset = excluded.byte_offset, "
    "line_count = excluded.line_count, head_sum = excluded.head_sum, "
    "tail_start = excluded.tail_start, tail_sum = excluded.tail_sum, "
    "skipped_lines = excluded.skipped_lines, updated_at = now() "
    "WHERE p.byte_offset = $9";

}  // namespace

LogCommitter::LogCommitter(std::string station, Say say)
    : station_(std::move(station)), say_(std::move(say)) {}

void LogCommitter::loadProgress(PgConnection& db) {
  const PgResult r = db.exec(
      "SELECT log_file, byte_offset, line_count, head_sum, tail_start, tail_sum, skipped_lines "
      "FROM sync_progress WHERE station = $1",
      {station_});
  progress_.clear();
  for (int i = 0; i < r.rows(); ++i)
    progress_[std::string(r.text(i, 0))] = {r.number(i, 1), r.number(i, 2), r.number(i, 3),
                                            r.number(i, 4), r.number(i, 5), r.number(i, 6)};
}

bool LogCommitter::stillTheSame(const std::string& name, int fd, std::int64_t size,
                                const LogProgress& p, std::string& firstLine) {
  std::string why;
  if (size < p.offset) {
    why = "is shorter (" + std::to_string(size) + " bytes) than what was already sent (" +
          std::to_string(p.offset) + " bytes)";
  } else if (firstLine = firstLineOf(fd); lineChecksum(firstLine) != p.headSum) {
    why = "has another first line than when it was sent";
  } else if (lineChecksum(readAt(fd, p.tailStart, static_cast<std::size_t>(p.offset - p.tailStart))) !=
             p.tailSum) {
    why = "has another line " + std::to_string(p.lines) + " than the one sent";
  }
  if (why.empty()) {
    toldChanged_.erase(name);
    return true;
  }
  if (toldChanged_.insert(name).second)
    say_("log " + name + " " + why + ": edited or replaced after it was sent? Nothing more is "
         "sent from it, and nothing in the database is changed.");
  return false;
}

void LogCommitter::commit(PgConnection& db, const std::string& name, const LogProgress& before,
                          const LogProgress& after, const std::string& rows) {
  db.exec("BEGIN");
  try {
    const auto n = [](std::int64_t v) { return std::to_string(v); };
    const std::string values[] = {n(after.offset),    n(after.lines),   n(after.headSum),
                                  n(after.tailStart), n(after.tailSum), n(after.skipped),
                                  n(before.offset)};
    const PgResult r = db.exec(UpsertProgress, {station_, name, values[0], values[1], values[2],
                                                values[3], values[4], values[5], values[6]});
    if (r.affected() != 1)
      throw PgError("the database has other progress for " + name + " of station " + station_ +
                        " than this program: is a second quenby-sync sending this station's logs?",
                    false);
    if (!rows.empty()) db.copyIn(RunsCopy, rows);
    db.exec("COMMIT");
  } catch (...) {
    db.rollbackQuietly();
    throw;
  }
}

SendOutcome LogCommitter::send(PgConnection& db, const std::filesystem::path& log,
                               const std::function<bool()>& stop) {
  SendOutcome outcome;
  const std::string name = log.filename().string();
  FileDescriptor file{::open(log.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return outcome;  // gone or unreadable: looked at again on the next change
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return outcome;

  LogProgress p = progress_[name];
  // Most files of the folder are old days that nobody touches: a look at their size and time of
  // change is all.
  const auto changedAt = std::make_pair(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  const auto seen = lastSeen_.find(name);
  if (st.st_size == p.offset && seen != lastSeen_.end() && seen->second == changedAt) return outcome;
  std::string firstLine;
  if (p.offset > 0 && !stillTheSame(name, file.fd, st.st_size, p, firstLine)) {
    outcome.changed = true;
    return outcome;
  }
  lastSeen_[name] = changedAt;

  // The reading goes on from the committed line, in the layout of the file's header.
  LogReader::Place place;
  if (p.offset > 0) {
    RejectedLines ignored;
    LogReader header(ignored, [](const report::LoggedRun&) {});
    header.readLines(name, firstLine, place);
    place.lineNumber = static_cast<std::uint64_t>(p.lines);
  }

  std::string rows;
  while (st.st_size > p.offset && !stop()) {
    const std::string bytes = readAt(
        file.fd, p.offset,
        static_cast<std::size_t>(std::min<std::int64_t>(st.st_size - p.offset, MaxReadBytes)));
    std::size_t at = 0;
    while (at < bytes.size()) {
      // A batch: up to maxLinesPerTransaction whole lines.
      std::size_t end = at, lastStart = at, count = 0;
      for (std::size_t nl; count < maxLinesPerTransaction &&
                           (nl = bytes.find('\n', end)) != std::string::npos;
           ++count) {
        lastStart = end;
        end = nl + 1;
      }
      if (count == 0) break;  // a line still being written
      const std::string_view batch(bytes.data() + at, end - at);

      rows.clear();
      RejectedLines rejected;
      std::int64_t unstorable = 0, runs = 0;
      LogReader reader(rejected, [&](const report::LoggedRun& run) {
        if (appendRunRow(rows, station_, name, run)) {
          ++runs;
        } else {
          ++unstorable;
          say_("log " + name + " line " + std::to_string(run.lineNumber) +
               " skipped: it holds a NUL byte");
        }
      });
      LogReader::Place next = place;
      reader.readLines(name, batch, next);

      LogProgress after = p;
      after.offset = p.offset + static_cast<std::int64_t>(batch.size());
      after.lines = static_cast<std::int64_t>(next.lineNumber);
      if (p.offset == 0) after.headSum = lineChecksum(batch.substr(0, batch.find('\n') + 1));
      after.tailStart = p.offset + static_cast<std::int64_t>(lastStart - at);
      after.tailSum = lineChecksum(std::string_view(bytes).substr(lastStart, end - lastStart));
      const std::int64_t skipped = static_cast<std::int64_t>(rejected.total()) + unstorable;
      after.skipped = p.skipped + skipped;

      commit(db, name, p, after, rows);
      outcome.runs += runs;
      outcome.skipped += skipped;
      p = after;
      progress_[name] = p;
      place = next;
      for (const auto& r : rejected.listed())
        say_("log " + name + " line " + std::to_string(r.line) + " skipped (" +
             std::string(report::describe(r.problem)) + "): " + r.text);
      if (rejected.total() > rejected.listed().size())
        say_("log " + name + ": " + std::to_string(rejected.total() - rejected.listed().size()) +
             " more lines skipped");
      at = end;
      if (stop()) return outcome;
    }
    if (at == 0) break;  // nothing whole in what is there
    if (bytes.size() < MaxReadBytes) break;
  }
  return outcome;
}

}  // namespace quenby::sync
