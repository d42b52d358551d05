// Virtual time for whole-run tests: sleeping and empty reads advance it; nothing waits.
#pragma once

#include <cstdint>

#include "engine/run_clock.h"

namespace quenby::testing {

class VirtualClock final : public RunClock {
 public:
  explicit VirtualClock(std::int32_t startCounter = 100) : base_(startCounter) {}
  std::int32_t counter() const override {
    return base_ + static_cast<std::int32_t>(ms_ / 1000);
  }
  void sleepMs(int ms) override { ms_ += ms; }
  void advanceMs(std::int64_t ms) { ms_ += ms; }
  std::int64_t elapsedMs() const { return ms_; }

 private:
  std::int32_t base_;
  std::int64_t ms_ = 0;
};

}  // namespace quenby::testing
