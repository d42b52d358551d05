// The hand-off: a worker has a function run on the user-interface thread and waits until it has
// run. Everything a worker shows, and every verdict, goes through it.
#pragma once

#include <functional>

namespace quenby {

class UiBridge {
 public:
  virtual ~UiBridge() = default;
  // Runs fn on the user-interface thread and returns when it has run. Called on the
  // user-interface thread itself, runs fn directly.
  virtual void synchronize(const std::function<void()>& fn) = 0;
};

// Runs the function on the calling thread: for a single-threaded station (tests, and a runner
// whose "user-interface thread" is a lock, see LockedBridge).
class InlineBridge final : public UiBridge {
 public:
  void synchronize(const std::function<void()>& fn) override { fn(); }
};

}  // namespace quenby
