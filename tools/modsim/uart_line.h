// The module's transmit side: writes pieces to the pseudo-terminal no faster than the station's
// baud rate lets them through (ten bit times a byte), turns them into rubbish when the station
// listens at another baud rate than the module's, and drops what the terminal cannot take.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "tools/modsim/fault_shaper.h"
#include "tools/modsim/line_noise.h"

namespace quenby::modsim {

// Most bytes waiting to go out; a sentence that does not fit is dropped whole, like a module
// whose transmit buffer has overflowed.
inline constexpr std::size_t MaxQueuedBytes = 16384;

class UartLine {
 public:
  using Clock = std::chrono::steady_clock;

  // fd: the terminal's master side, non-blocking. moduleBaud: the module's own UART speed.
  UartLine(int fd, int moduleBaud, bool pace, std::uint32_t seed);

  // Queues the pieces of one sentence (all or none).
  void send(std::vector<Piece> pieces);

  // Writes what the line can carry by `now`, at the baud rate the station has set on its end
  // (looked up before every slice, so that a change of rate takes effect at once).
  void pump(Clock::time_point now);

  // Forgets everything not yet written: the module has restarted.
  void clear();

  // The module's UART runs at `baud` once everything queued before has left.
  void switchSpeed(int baud);

  // The speed the module's UART runs at now.
  int moduleBaud() const { return moduleBaud_; }

  // When pump has more to write; nullopt when nothing is queued.
  std::optional<Clock::time_point> nextWriteAt() const;

 private:
  struct Queued {
    std::string bytes;
    std::size_t sent = 0;
    int pauseAfterMs = 0;
    int switchToBaud = 0;  // non-zero: no bytes, the UART changes its speed here
  };

  void write(std::string_view bytes);

  int fd_;
  int moduleBaud_;
  bool pace_;
  NoiseSource noise_;
  std::deque<Queued> queue_;
  std::size_t queuedBytes_ = 0;
  Clock::time_point lineFreeAt_{};  // the last byte written is on the line until then
};

}  // namespace quenby::modsim
