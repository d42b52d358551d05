// Frames of the download protocol: start byte 0xC3, type, tag, length, payload, CRC-32. The
// encoder appends whole frames to a buffer. The decoder keeps the bytes it has been given until
// they make a frame or are known not to: a start byte whose frame turns out bad (an impossible
// length, a failed check, a gap of more than FrameLimit between two of its bytes) was a false
// start, and scanning resumes from the byte after it, so a frame that began inside the bad one is
// still found.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "brom/protocol.h"

namespace quenby::brom {

// Appends the frame (type, tag, payload) to out. The payload must not exceed MaxFramePayload.
void appendFrame(std::vector<std::uint8_t>& out, std::uint8_t type, std::uint8_t tag,
                 std::span<const std::uint8_t> payload);
// A DATA block's check: the CRC-32 of its number (u16, little-endian) and its bytes. The number
// is in the check so that a block is only taken where it belongs.
std::uint32_t blockCheck(std::uint16_t number, std::span<const std::uint8_t> block);
// Appends a DATA frame (checked: CHECKED_DATA): the sequence number (the first block's), then up
// to MaxFrameBlocks consecutive blocks of BlockBytes (the last may be shorter), in CHECKED_DATA
// each followed by its check.
void appendDataFrame(std::vector<std::uint8_t>& out, std::uint16_t sequence,
                     std::span<const std::uint8_t> blocks, bool checked);
std::vector<std::uint8_t> encodeFrame(std::uint8_t type, std::uint8_t tag,
                                      std::span<const std::uint8_t> payload = {});

// A decoded frame; the payload stays valid until the decoder is given or asked for more.
struct FrameView {
  std::uint8_t type = 0;
  std::uint8_t tag = NoTag;
  std::span<const std::uint8_t> payload;
};

class FrameDecoder {
 public:
  using Clock = std::chrono::steady_clock;

  // maxPayload: the longest payload the other side sends; a longer length, or one longer than
  // MaxCommandPayload in a frame that is not DATA, is a false start.
  explicit FrameDecoder(std::size_t maxPayload = MaxFramePayload) : maxPayload_(maxPayload) {}

  enum class Event {
    None,     // nothing complete yet: more bytes are needed
    Frame,    // a good frame: frame()
    Dropped,  // a frame of plausible length failed its check; scanning resumed after its start
  };

  // Bytes received at `now`.
  void push(std::span<const std::uint8_t> bytes, Clock::time_point now);

  // The next frame or dropped frame among the bytes pushed; bytes before a start byte are passed
  // over. An unfinished frame whose last byte came more than FrameLimit before `now`, or that
  // would need bytes that came after such a silence, is a false start.
  Event next(Clock::time_point now);

  FrameView frame() const { return frame_; }

  // Takes the oldest byte not yet scanned as a single byte outside frames (the sync answer, the
  // Download Agent's alive byte), whatever it is. False when none.
  bool takeByte(std::uint8_t& byte);

  // True while bytes wait that might still become a frame.
  bool inFrame() const { return tail_ > head_ && bytes_[head_] == FrameStart; }
  bool empty() const { return tail_ == head_; }

  // Forgets every byte.
  void reset() { head_ = tail_ = consumed_ = afterSilence_ = 0; }

 private:
  void consume();

  std::size_t maxPayload_;
  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0;      // first byte not yet taken
  std::size_t tail_ = 0;      // one past the last byte pushed
  std::size_t consumed_ = 0;  // bytes of the frame last returned, taken at the next call
  // Bytes from here on came after a silence longer than the frame limit: no frame spans it.
  std::size_t afterSilence_ = 0;
  Clock::time_point lastByteAt_{};
  FrameView frame_;
};

}  // namespace quenby::brom
