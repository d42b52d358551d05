// One payload (the Download Agent's, or one image region) as DATA blocks: up to WindowBlocks in
// flight, go-back-N on a NAK, each block failing at most MaxBlockFailures times (a NAK naming
// it, or SilenceLimit without any answer while it is the oldest unacknowledged block).
#pragma once

#include <cstdint>
#include <span>

#include "brom/progress_meter.h"
#include "brom/session_link.h"

namespace quenby::brom {

struct TransferEnd {
  enum Kind {
    Done,
    TooManyFailures,  // a block failed MaxBlockFailures times
    Refused,          // a NAK with another reason than a bad or out-of-sequence block: nakReason
    Unexpected,       // a frame that has no place in a transfer
    Stopped,
    LineFailed,  // the line is gone, or a write failed
  };
  Kind kind = Done;
  std::uint8_t nakReason = 0;
};

TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter);

}  // namespace quenby::brom
