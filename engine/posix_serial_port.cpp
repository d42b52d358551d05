// The serial link over a Linux tty: exclusive open through the ports folder, raw 8N1 line
// settings, time-limited reads and writes by poll, and a close that is safe from another thread.
#include "engine/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "engine/program_folder.h"
#include "engine/serial_baud.h"

namespace quenby {
namespace {

using Clock = std::chrono::steady_clock;

// A write gives up on whatever has not gone out by then.
constexpr std::chrono::milliseconds kWriteTimeout{1000};
constexpr std::chrono::milliseconds kReadTimeout{ReadTimeoutMs};
// While a write waits for the transmit queue to drain, it looks again this often.
constexpr int kDrainCheckMs = 2;
// The purge after opening is retried this often, this far apart, before the open gives up.
constexpr int kPurgeAttempts = 5;
constexpr std::chrono::milliseconds kPurgeRetryDelay{10};
// poll events that say the line is gone rather than busy.
constexpr short kLineGone = POLLERR | POLLHUP | POLLNVAL;

// Milliseconds left until deadline, rounded up so that a wait never ends just short of it.
int remainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

int openRetrying(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool flushRetrying(int fd, int queues) {
  int r;
  do {
    r = ::tcflush(fd, queues);
  } while (r < 0 && errno == EINTR);
  return r == 0;
}

// The operator's words for why a device could not be opened or set up.
std::string reasonOf(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "no such device";
    case EBUSY:
    case EWOULDBLOCK:
      return "held by another station";
    case ENOTTY:
    case EISDIR:
      return "not a serial device";
    default:
      return std::strerror(error);
  }
}

// DTR raised, RTS low. A pseudo-terminal has no modem lines; that is not an error.
void setModemLines(int fd) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  (void)::ioctl(fd, TIOCMBIS, &dtr);
  (void)::ioctl(fd, TIOCMBIC, &rts);
}

}  // namespace

struct PosixSerialPort::Link {
  explicit Link(int descriptor)
      : fd(descriptor), wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

  ~Link() {
    // Give up the exclusive flag only if this descriptor set it: another holder keeps its own.
    if (exclusive) (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Holds the port against every other opener: flock also stops root and other descriptors of
  // this process, which TIOCEXCL lets through. 0, or the error that refused it.
  int lockExclusive() {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno;
    if (::ioctl(fd, TIOCEXCL) != 0) return errno;
    exclusive = true;
    return 0;
  }

  // Marks the link closed and wakes every call waiting in poll; the eventfd stays readable.
  void shutDown() {
    closing.store(true);
    const std::uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
  }

  const int fd;
  const int wakeFd;
  bool exclusive = false;  // written only while opening, before the link is shared
  std::atomic<bool> closing{false};
};

PosixSerialPort::PosixSerialPort() : PosixSerialPort(defaultPortsFolder()) {}

PosixSerialPort::PosixSerialPort(std::filesystem::path portsDir)
    : portsDir_(std::move(portsDir)) {}

PosixSerialPort::~PosixSerialPort() { close(); }

bool PosixSerialPort::open(std::uint16_t port, int baud) {
  close();
  const std::filesystem::path path = portLinkPath(portsDir_, port);
  if (port == 0) return refuse(path, reasonOf(ENODEV));  // ports are numbered from 1

  const int fd = openRetrying(path.c_str());
  if (fd < 0) return refuse(path, reasonOf(errno));
  // From here the link owns the descriptor: every early return below closes it.
  auto link = std::make_shared<Link>(fd);
  if (link->wakeFd < 0) return refuse(path, std::strerror(errno));
  if (const int error = link->lockExclusive()) return refuse(path, reasonOf(error));
  errno = 0;
  if (!applyLineSettings(fd, baud)) {
    if (errno == ENOTTY) return refuse(path, reasonOf(errno));
    return refuse(path, "does not take " + std::to_string(baud) + " baud");
  }
  setModemLines(fd);

  // Start from empty queues. A tty that keeps refusing the purge is not usable.
  bool purged = false;
  for (int attempt = 0; attempt < kPurgeAttempts && !purged; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kPurgeRetryDelay);
    purged = flushRetrying(fd, TCIOFLUSH);
  }
  if (!purged) return refuse(path, "does not clear its queues");

  std::lock_guard<std::mutex> lock(mutex_);
  link_ = std::move(link);
  openProblem_.clear();
  openedPath_ = path;
  lineProblem_.clear();
  return true;
}

void PosixSerialPort::noteLineGone(int error) {
  // Only the ways a device leaves count: an adapter unplugged or a fixture without power hangs
  // up or answers EIO, ENXIO or ENODEV. Any other read error stays a quiet line.
  // A terminal that hung up answers its reads with EIO once it has said so by poll.
  std::string how;
  switch (error) {
    case 0:
    case EIO:
      how = "hung up";
      break;
    case ENXIO:
    case ENODEV:
      how = "no such device";
      break;
    default:
      return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (lineProblem_.empty()) lineProblem_ = openedPath_.string() + ": device gone (" + how + ")";
}

std::string PosixSerialPort::lineProblem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lineProblem_;
}

bool PosixSerialPort::refuse(const std::filesystem::path& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  openProblem_ = path.string() + ": " + reason;
  return false;
}

std::string PosixSerialPort::openProblem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openProblem_;
}

bool PosixSerialPort::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_ != nullptr;
}

std::shared_ptr<PosixSerialPort::Link> PosixSerialPort::acquire() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return link_;
}

void PosixSerialPort::writeText(std::string_view text) {
  if (auto link = acquire()) writeAll(*link, text.data(), text.size());
}

void PosixSerialPort::writeFixed(std::string_view sentence13) {
  auto link = acquire();
  if (!link) return;
  std::string bytes(sentence13);
  bytes.push_back('\0');
  writeAll(*link, bytes.data(), bytes.size());
}

void PosixSerialPort::writeAll(const Link& link, const char* data, std::size_t size) {
  const Clock::time_point deadline = Clock::now() + kWriteTimeout;
  std::size_t sent = 0;
  while (sent < size && !link.closing.load()) {
    const ssize_t n = ::write(link.fd, data + sent, size - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;  // a failed line; write results are not reported
    const int ms = remainingMs(deadline);
    if (ms == 0) return;
    pollfd fds[] = {{link.wakeFd, POLLIN, 0}, {link.fd, POLLOUT, 0}};
    if (::poll(fds, 2, ms) < 0 && errno != EINTR) return;
    if (fds[1].revents & kLineGone) return;
  }

  // The write is synchronous: it ends when the bytes have left the transmit queue, so that a
  // purge or close right after it does not throw them away.
  while (!link.closing.load()) {
    int queued = 0;
    if (::ioctl(link.fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
    const int ms = std::min(remainingMs(deadline), kDrainCheckMs);
    if (ms == 0) return;
    pollfd wake{link.wakeFd, POLLIN, 0};
    if (::poll(&wake, 1, ms) < 0 && errno != EINTR) return;
  }
}

std::size_t PosixSerialPort::read(char* buffer, std::size_t max) {
  const std::size_t want = std::min(max, ReadChunkMax);
  if (buffer == nullptr || want == 0) return 0;
  auto link = acquire();
  if (!link) return 0;

  const Clock::time_point deadline = Clock::now() + kReadTimeout;
  std::size_t got = 0;
  // A line that fails (device gone, other side hung up) is not read again, but the read still
  // lasts its full time so that the caller's loop keeps its pace instead of spinning.
  bool failed = false;
  bool hungUp = false;  // the last poll said the line is gone
  while (got < want && !link->closing.load()) {
    if (!failed) {
      // With VMIN and VTIME 0 an empty tty reads as 0 bytes, not EAGAIN: only poll tells
      // a hung-up line from a quiet one.
      const ssize_t n = ::read(link->fd, buffer + got, want - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if ((n < 0 && errno != EAGAIN) || (n == 0 && hungUp)) {
        failed = true;
        noteLineGone(n < 0 ? errno : 0);
      }
    }
    const int ms = remainingMs(deadline);
    if (ms == 0) break;
    pollfd fds[] = {{link->wakeFd, POLLIN, 0}, {link->fd, POLLIN, 0}};
    if (::poll(fds, failed ? 1 : 2, ms) < 0 && errno != EINTR) break;
    hungUp = (fds[1].revents & kLineGone) != 0;
  }
  // A port closed under the read gives nothing: its owner has stopped listening.
  return link->closing.load() ? 0 : got;
}

void PosixSerialPort::purge(Purge what) {
  if (auto link = acquire())
    (void)flushRetrying(link->fd, what == Purge::Full ? TCIOFLUSH : TCIFLUSH);
}

void PosixSerialPort::close() {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    link = std::move(link_);
    link_.reset();
  }
  // Calls still running hold their own reference; the last one out closes the descriptor.
  if (link) link->shutDown();
}

}  // namespace quenby
