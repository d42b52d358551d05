#include "brom/progress_meter.h"

#include <algorithm>

namespace quenby::brom {
namespace {

constexpr std::uint64_t Whole = 100;

}  // namespace

void ProgressMeter::begin(std::uint64_t totalBytes) {
  total_ = totalBytes;
  done_ = 0;
  payloadBase_ = 0;
  lastPercent_ = -1;
  if (callbacks_.onStart) callbacks_.onStart(callbacks_.startUser);
  report();
}

void ProgressMeter::payloadAcknowledged(std::uint64_t bytes) {
  done_ = std::min(total_, std::max(done_, payloadBase_ + bytes));
  report();
}

void ProgressMeter::report() {
  // 100 % only once everything is acknowledged.
  const std::uint64_t percent = total_ == 0 ? Whole : std::min(Whole, done_ * Whole / total_);
  if (static_cast<int>(percent) <= lastPercent_) return;
  lastPercent_ = static_cast<int>(percent);
  if (callbacks_.onProgress)
    callbacks_.onProgress(static_cast<std::uint8_t>(percent), static_cast<std::uint32_t>(done_),
                          static_cast<std::uint32_t>(total_), callbacks_.progressUser);
}

}  // namespace quenby::brom
