// The module's receive side: takes the station's bytes off the terminal no faster than a serial
// line delivers them (ten bit times a byte at the line's speed), so that a station writing more
// than the line carries fills the terminal's buffer and waits, as on a real port.
#pragma once

#include <chrono>
#include <cstddef>

namespace quenby::modsim {

class UartReceiver {
 public:
  using Clock = std::chrono::steady_clock;

  // fd: the terminal's master side, non-blocking. pace off: every byte is taken at once.
  UartReceiver(int fd, bool pace);

  // Reads into buffer (at most capacity bytes) what the line has delivered by `now` at `baud`.
  // 0 when nothing is there, or the line has not delivered the next byte yet.
  std::size_t read(char* buffer, std::size_t capacity, int baud, Clock::time_point now);

  // When the next byte can be taken; at or before `now` when it can be taken at once.
  Clock::time_point nextByteAt(int baud) const;

 private:
  // The start of the line time still owed to bytes not yet taken.
  Clock::time_point owedFrom(int baud, Clock::time_point now) const;

  int fd_;
  bool pace_;
  Clock::time_point busyUntil_{};  // the last byte taken had arrived by then
};

}  // namespace quenby::modsim
