// One payload (the Download Agent's, or one image region) as DATA blocks with selective repeat:
// blocks go out while they lie within WindowBlocks of the oldest unacknowledged one, and only
// the blocks found lost are sent again, each failing at most MaxBlockFailures times. A block is
// lost when a block sent after it is acknowledged first (the line keeps the order of bytes and
// the module answers in order), or when it is the oldest unacknowledged block and nothing has
// been heard for SilenceLimit after the line carried everything.
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
    Refused,          // a NAK with another reason than a bad or out-of-window block: nakReason
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
