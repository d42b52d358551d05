// Reads test log files line by line and hands every run line over, decoded; lines that are not
// the station's go to the rejected lines instead. Nothing in a file stops the reading.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "tools/report/csv_line.h"
#include "tools/report/log_layout.h"
#include "tools/report/logged_run.h"
#include "tools/report/rejected_lines.h"

namespace quenby::report {

class LogReader {
 public:
  using Sink = std::function<void(const LoggedRun&)>;

  // A station line is some 200 bytes; anything far longer is not one and is not kept whole.
  static constexpr std::size_t MaxLineBytes = 16 * 1024;

  LogReader(RejectedLines& rejected, Sink sink);

  // Returns false (and records the file as unreadable) when the file cannot be read.
  bool readFile(const std::filesystem::path& path);
  // A whole file's bytes, under the given file name.
  void readBytes(std::string_view fileName, std::string_view bytes);

  // Where the reading of a file that grows stands between two pieces of it.
  struct Place {
    std::uint64_t lineNumber = 0;  // lines read so far
    bool seenRecord = false;
    LogLayout layout = defaultLayout();
  };
  // Reads whole lines of a file that go on from `place` (the bytes end with a line end; anything
  // after the last one is left unread) and moves `place` past them.
  void readLines(std::string_view fileName, std::string_view lines, Place& place);

 private:
  class FileState;
  void feed(FileState& file, std::string_view bytes);
  void finish(FileState& file);
  void readLine(FileState& file, std::string_view text, bool hasLineEnd);

  RejectedLines& rejected_;
  Sink sink_;
  CsvLine csv_;
  LoggedRun run_;
};

}  // namespace quenby::report
