#include "brom/frame_codec.h"

#include <algorithm>

#include "brom/byte_order.h"
#include "brom/crc.h"

namespace quenby::brom {
namespace {

// Start byte, type, tag and length; returns where the frame starts.
std::size_t beginFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t tag,
                       std::size_t length) {
  const std::size_t start = out.size();
  out.reserve(start + length + FrameOverheadBytes);
  out.insert(out.end(), {FrameStart, type, tag});
  putU16(out, static_cast<std::uint16_t>(length));
  return start;
}

// The frame's check covers everything after the start byte.
void endFrame(std::vector<std::uint8_t>& out, std::size_t start) {
  putU32(out, crc32(std::span(out).subspan(start + 1)));
}

constexpr std::size_t TypeOffset = 1;
constexpr std::size_t TagOffset = 2;
constexpr std::size_t LengthOffset = 3;

}  // namespace

void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t tag,
                 std::span<const std::uint8_t> payload) {
  payload = payload.first(std::min(payload.size(), MaxFramePayload));
  const std::size_t start = beginFrame(out, type, tag, payload.size());
  out.insert(out.end(), payload.begin(), payload.end());
  endFrame(out, start);
}

std::uint32_t blockCheck(std::uint16_t number, std::span<const std::uint8_t> block) {
  const std::uint8_t n[] = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8)};
  return crc32(block, crc32(n));
}

void appendDataFrame(std::vector<std::uint8_t>& out, std::uint16_t sequence,
                     std::span<const std::uint8_t> blocks, bool checked) {
  blocks = blocks.first(std::min(blocks.size(), MaxFrameBlocks * BlockBytes));
  const std::size_t count = (blocks.size() + BlockBytes - 1) / BlockBytes;
  const std::size_t checks = checked ? count * BlockCheckBytes : 0;
  const std::size_t start = beginFrame(out, checked ? frame::CheckedData : frame::Data, NoTag,
                                       DataSequenceBytes + blocks.size() + checks);
  putU16(out, sequence);
  for (std::size_t i = 0; i < count; ++i) {
    const auto block = blocks.subspan(i * BlockBytes, std::min(BlockBytes, blocks.size() - i * BlockBytes));
    out.insert(out.end(), block.begin(), block.end());
    if (checked) putU32(out, blockCheck(static_cast<std::uint16_t>(sequence + i), block));
  }
  endFrame(out, start);
}

std::vector<std::uint8_t> encodeFrame(std::uint8_t type, std::uint8_t tag,
                                      std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> out;
  appendFrame(out, type, tag, payload);
  return out;
}

void FrameDecoder::consume() {
  head_ += consumed_;
  consumed_ = 0;
}

void FrameDecoder::push(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  consume();
  if (bytes.empty()) return;
  // Keep only what has not been scanned; the buffer never holds more than one frame and a read.
  if (head_ > 0) {
    std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(head_),
              bytes_.begin() + static_cast<std::ptrdiff_t>(tail_), bytes_.begin());
    tail_ -= head_;
    afterSilence_ = afterSilence_ > head_ ? afterSilence_ - head_ : 0;
    head_ = 0;
  }
  // A frame cut short (the sender threw away the rest, or stopped) is followed by a silence: the
  // next bytes begin something new.
  if (tail_ > 0 && now - lastByteAt_ > FrameLimit) afterSilence_ = tail_;
  bytes_.resize(tail_);
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  tail_ = bytes_.size();
  lastByteAt_ = now;
}

bool FrameDecoder::takeByte(std::uint8_t& byte) {
  consume();
  if (head_ == tail_) return false;
  byte = bytes_[head_++];
  return true;
}

FrameDecoder::Event FrameDecoder::next(Clock::time_point now) {
  consume();
  for (;;) {
    // Pass over bytes outside frames.
    while (head_ < tail_ && bytes_[head_] != FrameStart) ++head_;
    const std::size_t have = tail_ - head_;
    if (have == 0) return Event::None;
    const std::uint8_t* f = bytes_.data() + head_;
    const bool stale = now - lastByteAt_ > FrameLimit;
    // Begun before a silence and not complete before it: the rest never came.
    const bool beforeSilence = head_ < afterSilence_;
    if (have < FrameHeaderBytes) {
      if (!stale && !beforeSilence) return Event::None;
      ++head_;  // the rest of this frame never came
      continue;
    }
    const std::size_t length = getU16(f + LengthOffset);
    const std::size_t limit =
        f[TypeOffset] == frame::Data || f[TypeOffset] == frame::CheckedData
            ? maxPayload_
            : std::min(maxPayload_, MaxCommandPayload);
    if (length > limit) {
      ++head_;  // no frame is that long: a false start
      continue;
    }
    const std::size_t total = FrameHeaderBytes + length + FrameCheckBytes;
    if (beforeSilence && head_ + total > afterSilence_) {
      ++head_;
      continue;
    }
    if (have < total) {
      if (!stale) return Event::None;
      ++head_;
      continue;
    }
    const std::uint32_t check = getU32(f + FrameHeaderBytes + length);
    if (check != crc32(std::span(f + TypeOffset, FrameHeaderBytes - 1 + length))) {
      ++head_;  // a damaged frame, or a start byte inside other bytes: look on after it
      return Event::Dropped;
    }
    frame_ = {f[TypeOffset], f[TagOffset], std::span(f + FrameHeaderBytes, length)};
    consumed_ = total;
    return Event::Frame;
  }
}

}  // namespace quenby::brom
