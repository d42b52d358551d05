#include "tools/sync/log_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quenby::sync {
namespace {

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

LogWatch::LogWatch(const std::filesystem::path& folder) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) throwErrno("sigprocmask");
  signals_ = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
  if (signals_ < 0) throwErrno("signalfd");
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ < 0) {
    ::close(signals_);
    throwErrno("inotify_init1");
  }
  if (inotify_add_watch(inotify_, folder.c_str(),
                        IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_ATTRIB) < 0) {
    const int e = errno;
    ::close(inotify_);
    ::close(signals_);
    errno = e;
    throwErrno(("watching " + folder.string()).c_str());
  }
}

LogWatch::~LogWatch() {
  ::close(inotify_);
  ::close(signals_);
}

bool LogWatch::stopRequested() {
  signalfd_siginfo info{};
  while (::read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) stop_ = true;
  return stop_;
}

LogWatch::Woken LogWatch::wait(int milliseconds) {
  if (stopRequested()) return Woken::Stop;
  pollfd fds[2] = {{signals_, POLLIN, 0}, {inotify_, POLLIN, 0}};
  int n = 0;
  do {
    n = ::poll(fds, 2, milliseconds);
  } while (n < 0 && errno == EINTR);
  if (stopRequested()) return Woken::Stop;
  if (n <= 0 || !(fds[1].revents & POLLIN)) return Woken::Timeout;
  // The events only wake the program: which files grew is seen from their sizes.
  alignas(inotify_event) char events[4096];
  while (::read(inotify_, events, sizeof events) > 0) {
  }
  return Woken::Changed;
}

}  // namespace quenby::sync
