// The runner's standard output, written by a thread of its own: printing a line never waits for
// the reader, so a paused pager or a stopped terminal cannot hold up hand-offs, the one-second
// counter or Stop. Lines wait in a bounded queue; a line that finds it full is not printed, and
// once the output takes lines again the runner says how many it could not print.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace quenby::run {

class ConsoleWriter {
 public:
  // Lines that may wait for the output.
  static constexpr std::size_t DefaultQueueLimit = 2000;

  // fd: where lines go; not closed here. Install the signal that frees a write at finish() first
  // (done here, once per process).
  explicit ConsoleWriter(int fd, std::size_t queueLimit = DefaultQueueLimit);
  // finish() with no wait, when it was not called.
  ~ConsoleWriter();

  ConsoleWriter(const ConsoleWriter&) = delete;
  ConsoleWriter& operator=(const ConsoleWriter&) = delete;

  // Any thread: queues the line (a line end is added). Never waits for the output.
  void print(std::string line);

  // Waits up to `limit` for the queued lines to go out, then ends the writer, giving up a write
  // that the output still holds back. Returns how many lines were never printed in all. Lines
  // printed after it are counted only.
  std::size_t finish(std::chrono::milliseconds limit);

  // Lines queued and not yet taken for a write.
  std::size_t waiting();

 private:
  void writeLoop();
  // Writes the whole text; false when the output failed or the writer is to give up.
  bool writeAll(const std::string& text);
  // With the lock held: puts the line saying how many lines were left out, if any were.
  void queueDroppedNotice();

  const int fd_;
  const std::size_t queueLimit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  std::size_t dropped_ = 0;     // left out since the last notice
  std::size_t notPrinted_ = 0;  // never printed, in all
  bool writing_ = false;
  bool finishing_ = false;
  bool giveUp_ = false;
  bool broken_ = false;   // the output failed (reader gone): nothing more is written
  bool ended_ = false;    // the writer thread is done
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace quenby::run
