#include "tools/modsim/uart_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/serial_baud.h"

namespace quenby::modsim {
namespace {

// Bits on the line per byte: start bit, eight data bits, stop bit.
constexpr std::int64_t kBitsPerByte = 10;
// A paced line writes in slices of about this long, so that the station's reads see the bytes
// trickle in as from a real UART.
constexpr std::chrono::milliseconds kSlice{10};
constexpr std::int64_t kMicrosPerSecond = 1'000'000;

std::chrono::microseconds lineTime(std::size_t bytes, int baud) {
  return std::chrono::microseconds(static_cast<std::int64_t>(bytes) * kBitsPerByte * kMicrosPerSecond / baud);
}

}  // namespace

UartLine::UartLine(int fd, int moduleBaud, bool pace, std::uint32_t seed)
    : fd_(fd), moduleBaud_(moduleBaud), pace_(pace), noise_(seed) {}

void UartLine::send(std::vector<Piece> pieces) {
  std::size_t total = 0;
  for (const Piece& p : pieces) total += p.bytes.size();
  if (queuedBytes_ + total > MaxQueuedBytes) return;
  for (Piece& p : pieces) {
    queuedBytes_ += p.bytes.size();
    queue_.push_back({std::move(p.bytes), 0, p.pauseAfterMs});
  }
}

void UartLine::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return;  // the terminal is full (no one reads) or gone: these bytes are lost
    }
  }
}

void UartLine::clear() {
  queue_.clear();
  queuedBytes_ = 0;
}

void UartLine::switchSpeed(int baud) { queue_.push_back({{}, 0, 0, baud}); }

void UartLine::pump(Clock::time_point now) {
  while (!queue_.empty() && now >= lineFreeAt_) {
    if (const int baud = queue_.front().switchToBaud) {
      moduleBaud_ = baud;
      queue_.pop_front();
      continue;
    }
    const int stationBaud = currentBaud(fd_);
    const int baud = stationBaud > 0 ? stationBaud : moduleBaud_;
    const bool mismatch = stationBaud > 0 && stationBaud != moduleBaud_;
    const std::size_t sliceBytes =
        std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<std::int64_t>(baud) * kSlice.count() /
                                                          (kBitsPerByte * 1000)));
    Queued& q = queue_.front();
    std::size_t n = q.bytes.size() - q.sent;
    if (pace_) n = std::min(n, sliceBytes);
    const std::string_view chunk = std::string_view(q.bytes).substr(q.sent, n);
    const std::string garbled = mismatch ? noise_.garble(chunk, stationBaud, moduleBaud_) : std::string();
    const std::string_view onLine = mismatch ? std::string_view(garbled) : chunk;
    write(onLine);
    q.sent += n;
    queuedBytes_ -= n;

    // A line that has just been busy continues where it was, so that late wake-ups do not slow
    // the rate; an idle one starts now.
    Clock::time_point freeAt = now;
    if (pace_) freeAt = (now - lineFreeAt_ < kSlice ? lineFreeAt_ : now) + lineTime(onLine.size(), baud);
    if (q.sent == q.bytes.size()) {
      freeAt += std::chrono::milliseconds(q.pauseAfterMs);
      queue_.pop_front();
    }
    lineFreeAt_ = freeAt;
  }
}

std::optional<UartLine::Clock::time_point> UartLine::nextWriteAt() const {
  if (queue_.empty()) return std::nullopt;
  return lineFreeAt_;
}

}  // namespace quenby::modsim
