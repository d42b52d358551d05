// One payload (the Download Agent's, or one image region) as DATA frames of up to MaxFrameBlocks
// blocks with selective repeat: blocks go out while they lie within WindowBlocks of the oldest
// unacknowledged one, and only the blocks found lost are sent again, each block failing at most
// MaxBlockFailures times. The module keeps the good blocks of a damaged frame and names them in
// a PART answer; the others are lost. The next block needed that ends the module's answers
// acknowledges every block before it, so an answer lost on the way costs nothing once a later
// one comes. A whole frame is lost when a frame sent after it (and starting after it) is answered
// first, since the line keeps the order of bytes and the module answers in order; when the module
// reports a damaged frame while it still needs the first block of the oldest frame on its way
// (unless it has said BUSY for that frame: it arrived, and its answer is held back); or when that
// frame is the oldest on its way and nothing has been heard for SilenceLimit after the line
// carried everything.
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

// checked: blocks go in CHECKED_DATA frames instead of DATA; the transfer sets it when a block is
// lost, for the rest of the session.
TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter, bool& checked);

}  // namespace quenby::brom
