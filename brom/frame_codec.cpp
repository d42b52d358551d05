#include "brom/frame_codec.h"

#include <algorithm>
#include <cstring>

#include "brom/byte_order.h"
#include "brom/crc.h"

namespace quenby::brom {
namespace {

// CRC-16 over the type, the length and the payload: everything but the start byte and the check.
std::uint16_t frameCheck(std::uint8_t type, std::uint16_t length,
                         std::span<const std::uint8_t> payload) {
  const std::uint8_t head[] = {type, static_cast<std::uint8_t>(length),
                               static_cast<std::uint8_t>(length >> 8)};
  return crc16(payload, crc16(head));
}

void appendFramePieces(std::vector<std::uint8_t>& out, std::uint8_t type,
                       std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
  const auto length = static_cast<std::uint16_t>(first.size() + second.size());
  const std::uint8_t head[] = {type, static_cast<std::uint8_t>(length),
                               static_cast<std::uint8_t>(length >> 8)};
  const std::uint16_t check = crc16(second, crc16(first, crc16(head)));
  out.reserve(out.size() + length + FrameOverheadBytes);
  out.push_back(FrameStart);
  out.insert(out.end(), std::begin(head), std::end(head));
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  putU16(out, check);
}

}  // namespace

void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type,
                 std::span<const std::uint8_t> payload) {
  appendFramePieces(out, type, payload.first(std::min(payload.size(), MaxFramePayload)), {});
}

void appendDataFrame(std::vector<std::uint8_t>& out, std::uint16_t sequence,
                     std::span<const std::uint8_t> block) {
  const std::uint8_t seq[] = {static_cast<std::uint8_t>(sequence),
                              static_cast<std::uint8_t>(sequence >> 8)};
  appendFramePieces(out, frame::Data, seq,
                    block.first(std::min(block.size(), MaxFramePayload - DataSequenceBytes)));
}

std::vector<std::uint8_t> encodeFrame(std::uint8_t type, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> out;
  appendFrame(out, type, payload);
  return out;
}

FrameDecoder::Step FrameDecoder::feed(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  Step step;
  while (step.consumed < bytes.size()) {
    if (state_ == State::Payload) {
      // The bulk of a DATA frame: copy what has arrived in one piece.
      const std::size_t take = std::min(bytes.size() - step.consumed, length_ - received_);
      std::memcpy(payload_.data() + received_, bytes.data() + step.consumed, take);
      received_ += take;
      step.consumed += take;
      if (received_ == length_) state_ = State::Check0;
      continue;
    }
    const std::uint8_t b = bytes[step.consumed++];
    switch (state_) {
      case State::Start:
        if (b == FrameStart) {
          state_ = State::Type;
          startedAt_ = now;
        }
        break;
      case State::Type:
        type_ = b;
        state_ = State::Length0;
        break;
      case State::Length0:
        length_ = b;
        state_ = State::Length1;
        break;
      case State::Length1:
        length_ = static_cast<std::uint16_t>(length_ | (b << 8));
        if (length_ > MaxFramePayload) {
          state_ = State::Start;
          step.event = Event::Dropped;
          return step;
        }
        received_ = 0;
        state_ = length_ == 0 ? State::Check0 : State::Payload;
        break;
      case State::Check0:
        check_ = b;
        state_ = State::Check1;
        break;
      case State::Check1: {
        check_ = static_cast<std::uint16_t>(check_ | (b << 8));
        state_ = State::Start;
        const bool good = check_ == frameCheck(type_, length_, std::span(payload_.data(), length_));
        step.event = good ? Event::Frame : Event::Dropped;
        return step;
      }
      case State::Payload:
        break;  // handled above
    }
  }
  return step;
}

bool FrameDecoder::expire(Clock::time_point now) {
  if (state_ == State::Start || now - startedAt_ <= FrameLimit) return false;
  state_ = State::Start;
  return true;
}

}  // namespace quenby::brom
