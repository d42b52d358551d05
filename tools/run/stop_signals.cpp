#include "tools/run/stop_signals.h"

#include <pthread.h>

namespace quenby::run {
namespace {

sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, number);
  return set;
}

}  // namespace

void blockStopSignals() {
  const sigset_t set = stopSignalSet();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::StopSignals(std::function<void()> onStop)
    : signals_(stopSignalSet()), onStop_(std::move(onStop)) {
  thread_ = std::thread(&StopSignals::wait, this);
}

StopSignals::~StopSignals() {
  ending_.store(true);
  // Any of the signals wakes the thread; it sees that it is to end.
  ::pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
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
