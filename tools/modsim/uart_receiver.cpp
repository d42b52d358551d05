#include "tools/modsim/uart_receiver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace quenby::modsim {
namespace {

// Bits on the line per byte: start bit, eight data bits, stop bit.
constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// A line that delivered its last byte longer ago than this has been idle: the next byte arrives
// when it is seen. A shorter gap is a late wake-up, and the bytes that arrived meanwhile are due.
constexpr std::chrono::milliseconds kCatchUp{20};

// Rounded up, so that a byte is due once its whole time has passed.
std::chrono::nanoseconds byteTime(int baud) {
  const std::int64_t b = std::max(baud, 1);
  return std::chrono::nanoseconds((kBitsPerByte * kNanosPerSecond + b - 1) / b);
}

}  // namespace

UartReceiver::UartReceiver(int fd, bool pace) : fd_(fd), pace_(pace) {}

UartReceiver::Clock::time_point UartReceiver::owedFrom(int baud, Clock::time_point now) const {
  if (now - busyUntil_ > kCatchUp) return now - byteTime(baud);
  return busyUntil_;
}

std::size_t UartReceiver::read(char* buffer, std::size_t capacity, int baud, Clock::time_point now) {
  std::size_t wanted = capacity;
  Clock::time_point from = now;
  if (pace_) {
    from = owedFrom(baud, now);
    const std::int64_t elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - from).count();
    const std::int64_t delivered = elapsed > 0 ? elapsed * std::max(baud, 1) / (kBitsPerByte * kNanosPerSecond) : 0;
    wanted = static_cast<std::size_t>(std::min<std::int64_t>(delivered, static_cast<std::int64_t>(capacity)));
  }
  if (wanted == 0) return 0;
  ssize_t n;
  do {
    n = ::read(fd_, buffer, wanted);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;  // nothing there (EAGAIN), or no one on the other side (EIO)
  if (pace_) {
    const auto taken = static_cast<std::int64_t>(n);
    busyUntil_ = from + std::chrono::nanoseconds(taken * kBitsPerByte * kNanosPerSecond / std::max(baud, 1));
  }
  return static_cast<std::size_t>(n);
}

UartReceiver::Clock::time_point UartReceiver::nextByteAt(int baud) const {
  if (!pace_) return {};
  return busyUntil_ + byteTime(baud);
}

}  // namespace quenby::modsim
