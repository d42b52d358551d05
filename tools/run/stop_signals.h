// The signals that end the runner act as Stop: Ctrl-C (SIGINT), SIGTERM, and SIGHUP from a
// closed terminal or ssh session. They are blocked in every thread and taken by a thread of its
// own, which raises the stop flag and wakes the station's loop.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace quenby::run {

// Blocks the signals in the calling thread, and so in every thread it starts afterwards: call it
// before any other thread starts. A signal that comes now waits for a StopSignals.
void blockStopSignals();

class StopSignals {
 public:
  // Starts taking the blocked signals: each raises stopRequested() and calls onStop (on the
  // signal thread). Destroy it before anything onStop uses.
  explicit StopSignals(std::function<void()> onStop);
  // Ends the signal thread; the signals stay blocked.
  ~StopSignals();

  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  const std::atomic<bool>& stopRequested() const { return stopRequested_; }

 private:
  void wait();

  sigset_t signals_;
  std::function<void()> onStop_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> ending_{false};
  std::thread thread_;
};

}  // namespace quenby::run
