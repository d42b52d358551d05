#include "brom/frame_codec.h"

#include <algorithm>

#include "brom/byte_order.h"
#include "brom/crc.h"

namespace quenby::brom {
namespace {

void appendFramePieces(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t tag,
                       std::span<const std::uint8_t> first, std::span<const std::uint8_t> second) {
  const auto length = static_cast<std::uint16_t>(first.size() + second.size());
  const std::uint8_t head[] = {type, tag, static_cast<std::uint8_t>(length),
                               static_cast<std::uint8_t>(length >> 8)};
  // The check covers everything after the start byte.
  const std::uint32_t check = crc32(second, crc32(first, crc32(head)));
  out.reserve(out.size() + length + FrameOverheadBytes);
  out.push_back(FrameStart);
  out.insert(out.end(), std::begin(head), std::end(head));
  out.insert(out.end(), first.begin(), first.end());
  out.insert(out.end(), second.begin(), second.end());
  putU32(out, check);
}

constexpr std::size_t TypeOffset = 1;
constexpr std::size_t TagOffset = 2;
constexpr std::size_t LengthOffset = 3;

}  // namespace

void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t tag,
                 std::span<const std::uint8_t> payload) {
  appendFramePieces(out, type, tag, payload.first(std::min(payload.size(), MaxFramePayload)), {});
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
  const auto length = static_cast<std::uint16_t>(DataSequenceBytes + blocks.size() + checks);
  const std::size_t start = out.size();
  out.reserve(start + length + FrameOverheadBytes);
  out.insert(out.end(), {FrameStart, checked ? frame::CheckedData : frame::Data, NoTag, static_cast<std::uint8_t>(length),
                         static_cast<std::uint8_t>(length >> 8),
                         static_cast<std::uint8_t>(sequence),
                         static_cast<std::uint8_t>(sequence >> 8)});
  for (std::size_t i = 0; i < count; ++i) {
    const auto block = blocks.subspan(i * BlockBytes, std::min(BlockBytes, blocks.size() - i * BlockBytes));
    out.insert(out.end(), block.begin(), block.end());
    if (checked) putU32(out, blockCheck(static_cast<std::uint16_t>(sequence + i), block));
  }
  // The frame's check covers everything after the start byte, the blocks' checks too.
  putU32(out, crc32(std::span(out.data() + start + 1, out.size() - start - 1)));
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
    head_ = 0;
  }
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
    if (have < FrameHeaderBytes) {
      if (!stale) return Event::None;
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
