// Frames of the download protocol: start byte 0xC3, type, length, payload, CRC-16. The encoder
// appends whole frames to a buffer; the decoder takes the received bytes as they come, skips
// to the next start byte, and drops frames with a bad check, an oversize length, or that take
// longer than the frame time limit.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "brom/protocol.h"

namespace quenby::brom {

// Appends the frame (type, payload) to out. The payload must not exceed MaxFramePayload.
void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type,
                 std::span<const std::uint8_t> payload);
// Appends a DATA frame: the sequence number, then the block's bytes.
void appendDataFrame(std::vector<std::uint8_t>& out, std::uint16_t sequence,
                     std::span<const std::uint8_t> block);
std::vector<std::uint8_t> encodeFrame(std::uint8_t type,
                                      std::span<const std::uint8_t> payload = {});

// A decoded frame; the payload stays valid until the decoder takes the next byte.
struct FrameView {
  std::uint8_t type = 0;
  std::span<const std::uint8_t> payload;
};

class FrameDecoder {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Event {
    None,     // every byte taken, no frame ended
    Frame,    // a good frame ended: frame()
    Dropped,  // a frame with a bad check or an oversize length was dropped: droppedType()
  };
  struct Step {
    std::size_t consumed = 0;  // bytes taken from the front of the input
    Event event = Event::None;
  };

  // Takes bytes until a frame ends or is dropped, or the input is used up. `now` is when these
  // bytes arrived; a frame's time limit runs from the arrival of its start byte.
  Step feed(std::span<const std::uint8_t> bytes, Clock::time_point now);

  // Drops an unfinished frame whose start byte came more than FrameLimit before now. True when
  // one was dropped.
  bool expire(Clock::time_point now);

  // True between a start byte and the end of its frame.
  bool inFrame() const { return state_ != State::Start; }

  FrameView frame() const {
    return {type_, std::span(payload_.data(), std::min<std::size_t>(length_, MaxFramePayload))};
  }
  std::uint8_t droppedType() const { return type_; }

  void reset() { state_ = State::Start; }

 private:
  enum class State { Start, Type, Length0, Length1, Payload, Check0, Check1 };

  State state_ = State::Start;
  std::uint8_t type_ = 0;
  std::uint16_t length_ = 0;
  std::size_t received_ = 0;
  std::uint16_t check_ = 0;
  Clock::time_point startedAt_{};
  std::array<std::uint8_t, MaxFramePayload> payload_{};
};

}  // namespace quenby::brom
