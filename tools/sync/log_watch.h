// Sleeps until something happens to the station folder (a log written, created or moved in), a
// pause runs out, or SIGTERM/SIGINT asks the program to end. The signals are blocked and taken
// through a descriptor, so they never interrupt a transaction.
#pragma once

#include <filesystem>
#include <optional>

namespace quenby::sync {

class LogWatch {
 public:
  // Throws std::system_error when the folder cannot be watched.
  explicit LogWatch(const std::filesystem::path& folder);
  ~LogWatch();
  LogWatch(const LogWatch&) = delete;
  LogWatch& operator=(const LogWatch&) = delete;

  enum class Woken { Changed, Timeout, Stop };
  // Waits up to `milliseconds` (-1: no limit).
  Woken wait(int milliseconds);
  // True once SIGTERM or SIGINT came; never blocks.
  bool stopRequested();

 private:
  int inotify_ = -1;
  int signals_ = -1;
  bool stop_ = false;
};

}  // namespace quenby::sync
