// The progress of one download phase as the station's callbacks see it: the start callback,
// then the percentage of the phase's bytes acknowledged, 0 first and 100 last, each at most once.
#pragma once

#include <cstdint>

#include "engine/download_library.h"

namespace quenby::brom {

struct PhaseCallbacks {
  PhaseStartCallback onStart = nullptr;
  void* startUser = nullptr;
  PhaseProgressCallback onProgress = nullptr;
  void* progressUser = nullptr;
};

class ProgressMeter {
 public:
  explicit ProgressMeter(const PhaseCallbacks& callbacks) : callbacks_(callbacks) {}

  // The phase begins: start callback, then 0 %.
  void begin(std::uint64_t totalBytes);
  // A payload of the phase begins; its acknowledged bytes count on from what is done so far.
  void beginPayload() { payloadBase_ = done_; }
  // So many bytes of the current payload are acknowledged.
  void payloadAcknowledged(std::uint64_t bytes);

 private:
  void report();

  PhaseCallbacks callbacks_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  std::uint64_t payloadBase_ = 0;
  int lastPercent_ = -1;
};

}  // namespace quenby::brom
