// The pause before the next try at a database that failed: it doubles from half a second to
// half a minute, and starts again from the shortest after a success.
#pragma once

#include <algorithm>

namespace quenby::sync {

class RetryPause {
 public:
  static constexpr int FirstMs = 500;
  static constexpr int LongestMs = 30000;

  int next() {
    const int pause = next_;
    next_ = std::min(next_ * 2, LongestMs);
    return pause;
  }
  void reset() { next_ = FirstMs; }

 private:
  int next_ = FirstMs;
};

}  // namespace quenby::sync
