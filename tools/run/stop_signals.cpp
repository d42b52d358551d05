#include "tools/run/stop_signals.h"

#include <cerrno>

namespace quenby::run {

StopSignals::StopSignals() {
  sigemptyset(&signals_);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals_, number);
  ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

StopSignals::~StopSignals() {
  if (!thread_.joinable()) return;
  ending_.store(true);
  // Any of the signals wakes the thread; it sees that it is to end.
  ::pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

void StopSignals::start(std::function<void()> onStop) {
  onStop_ = std::move(onStop);
  thread_ = std::thread(&StopSignals::wait, this);
}

void StopSignals::wait() {
  for (;;) {
    int number = 0;
    if (::sigwait(&signals_, &number) != 0) continue;
    if (ending_.load()) return;
    stopRequested_.store(true);
    if (onStop_) onStop_();
  }
}

}  // namespace quenby::run
