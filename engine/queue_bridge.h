// A hand-off bridge for a station without a windowing toolkit: workers queue their hand-offs,
// the user-interface thread (the one that created the bridge) runs them in pump().
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "engine/ui_bridge.h"

namespace quenby {

class QueueBridge final : public UiBridge {
 public:
  QueueBridge() : uiThread_(std::this_thread::get_id()) {}

  void synchronize(const std::function<void()>& fn) override;

  // User-interface thread: runs every queued hand-off, waiting up to `wait` for the first one.
  // Returns how many ran.
  int pump(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
  // User-interface thread: runs every queued hand-off, waiting for the first one (or for wake())
  // until the deadline. Returns how many ran.
  int pumpUntil(std::chrono::steady_clock::time_point deadline);
  // Any thread: ends the wait of pumpUntil() now, or the next one if none is waiting (a worker
  // that became idle, a Stop from a signal).
  void wake();

 private:
  struct Task {
    const std::function<void()>* fn;
    bool done = false;
    std::exception_ptr error;
  };

  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Task*> tasks_;
  bool woken_ = false;
};

}  // namespace quenby
