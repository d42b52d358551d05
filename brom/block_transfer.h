// One payload (the Download Agent's, or one image region) as DATA frames of 1 to MaxFrameBlocks
// blocks with selective repeat: blocks go out while they lie within WindowBlocks of the oldest
// unacknowledged one, and only the blocks of frames found lost are sent again (one block a frame),
// each block failing at most MaxBlockFailures times. A frame is lost when a frame sent after it
// (and starting after it) is acknowledged first, since the line keeps the order of bytes and the
// module answers in order, or when it is the oldest frame on its way and nothing has been heard
// for SilenceLimit after the line carried everything.
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

// noisy: a frame has been lost in this session (the transfer sets it); DATA frames then carry
// one block each instead of up to MaxFrameBlocks.
TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter, bool& noisy);

}  // namespace quenby::brom
