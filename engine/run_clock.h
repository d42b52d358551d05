// The time a worker measures items in: the station's time-out counter (whole seconds since
// start, raised once a second on the user-interface thread), and sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace quenby {

class RunClock {
 public:
  virtual ~RunClock() = default;
  // The time-out counter now.
  virtual std::int32_t counter() const = 0;
  virtual void sleepMs(int ms) = 0;
};

// The station's clock: the counter is the run state's, sleeping is real.
class CounterClock final : public RunClock {
 public:
  explicit CounterClock(const std::atomic<std::int32_t>& counter) : counter_(counter) {}
  std::int32_t counter() const override { return counter_.load(std::memory_order_relaxed); }
  void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

 private:
  const std::atomic<std::int32_t>& counter_;
};

}  // namespace quenby
