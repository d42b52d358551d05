#include "brom/brom_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "brom/protocol.h"
#include "engine/serial_baud.h"

namespace quenby::brom {
namespace {

using std::chrono::milliseconds;

constexpr int BitsPerByte = 10;  // start bit, 8 data bits, stop bit
// The kernel (or a pseudo-terminal) holds up to some KiB ahead of the line; a write may wait
// for that much to go out before its own bytes are taken.
constexpr std::size_t TransmitQueueAllowance = 16384;
// A write may take twice its line time, and this much more, before it is taken as failed.
constexpr int WriteTimeFactor = 2;
constexpr milliseconds WriteSlack{500};
// While draining, the queue is looked at this often.
constexpr milliseconds DrainCheck{2};
constexpr short LineGoneEvents = POLLERR | POLLHUP | POLLNVAL;

int remainingMs(BromSerial::Clock::time_point deadline) {
  const auto left = deadline - BromSerial::Clock::now();
  if (left <= BromSerial::Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

template <typename Call>
auto retryingEintr(Call call) {
  decltype(call()) r;
  do {
    r = call();
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

BromSerial::~BromSerial() { close(); }

milliseconds BromSerial::lineTime(std::size_t bytes, int baud) {
  if (baud <= 0) return milliseconds{0};
  const auto ms = (static_cast<long long>(bytes) * BitsPerByte * 1000 + baud - 1) / baud;
  return milliseconds{ms};
}

BromSerial::Open BromSerial::open(const std::filesystem::path& link, int baud) {
  close();
  const int fd = retryingEintr(
      [&] { return ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return Open::CannotOpen;
  fd_ = fd;
  // flock also holds off root and other descriptors of this process, which TIOCEXCL lets by.
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd_, TIOCEXCL) != 0) {
    close();
    return Open::CannotOpen;
  }
  exclusive_ = true;
  if (!setBaud(baud)) {
    close();
    return Open::LineSettingsRefused;
  }
  // DTR raised, RTS low, as on the station's ports; a pseudo-terminal has no modem lines.
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  (void)::ioctl(fd_, TIOCMBIS, &dtr);
  (void)::ioctl(fd_, TIOCMBIC, &rts);
  (void)retryingEintr([&] { return ::tcflush(fd_, TCIOFLUSH); });
  return Open::Opened;
}

bool BromSerial::setBaud(int baud) {
  if (fd_ < 0 || !applyLineSettings(fd_, baud)) return false;
  baud_ = baud;
  return true;
}

BromSerial::Write BromSerial::write(std::span<const std::uint8_t> bytes,
                                    const StopCheck& stopRequested) {
  if (fd_ < 0) return Write::Failed;
  if (stopRequested && stopRequested()) return Write::StoppedBefore;
  const auto limit =
      WriteTimeFactor * lineTime(bytes.size() + TransmitQueueAllowance, baud_) + WriteSlack;
  const Clock::time_point deadline = Clock::now() + limit;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Write::Failed;
    // The line is full: wait for room, a slice at a time, so that a stop is seen.
    const int ms = remainingMs(deadline);
    if (ms == 0) return Write::Failed;
    pollfd p{fd_, POLLOUT, 0};
    const int slice = std::min<int>(ms, static_cast<int>(StopPollInterval.count()));
    if (::poll(&p, 1, slice) < 0 && errno != EINTR) return Write::Failed;
    if (p.revents & LineGoneEvents) return Write::Failed;
    if (stopRequested && stopRequested())
      return sent == 0 ? Write::StoppedBefore : Write::StoppedInside;
  }
  return Write::Written;
}

BromSerial::Read BromSerial::read(std::span<std::uint8_t> buffer, milliseconds wait,
                                  std::size_t& got) {
  got = 0;
  if (fd_ < 0) return Read::LineGone;
  if (buffer.empty()) return Read::Nothing;
  pollfd p{fd_, POLLIN, 0};
  const int r = ::poll(&p, 1, static_cast<int>(std::max<long long>(wait.count(), 0)));
  if (r < 0) return errno == EINTR ? Read::Nothing : Read::LineGone;
  if (r == 0) return Read::Nothing;
  const ssize_t n = retryingEintr([&] { return ::read(fd_, buffer.data(), buffer.size()); });
  if (n > 0) {
    got = static_cast<std::size_t>(n);
    return Read::Data;
  }
  if (n < 0 && errno == EAGAIN) return Read::Nothing;
  // Readable, yet nothing to read: the other end is gone (a hung-up pseudo-terminal, an
  // unplugged adapter).
  if (n < 0 || (p.revents & LineGoneEvents)) return Read::LineGone;
  return Read::Nothing;
}

std::size_t BromSerial::queuedOutput() const {
  int queued = 0;
  if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

bool BromSerial::drain(milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (queuedOutput() > 0) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(DrainCheck);
  }
  return true;
}

void BromSerial::discardOutput() {
  if (fd_ >= 0) (void)retryingEintr([&] { return ::tcflush(fd_, TCOFLUSH); });
}

void BromSerial::discardInput() {
  if (fd_ >= 0) (void)retryingEintr([&] { return ::tcflush(fd_, TCIFLUSH); });
}

void BromSerial::close() {
  if (fd_ < 0) return;
  if (queuedOutput() > 0) discardOutput();
  // The exclusive flag belongs to the terminal, not to the descriptor: another holder of the
  // terminal (the simulator) would otherwise keep the station's next open out.
  if (exclusive_) (void)::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
  baud_ = 0;
  exclusive_ = false;
}

}  // namespace quenby::brom
