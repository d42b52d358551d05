// The host's end of one download session on an open port: frames and single bytes out, frames
// and single bytes in through one receive buffer, every wait in short slices that read the
// download stop word, and the ABORT that ends a stopped session.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "brom/brom_serial.h"
#include "brom/frame_codec.h"

namespace quenby::brom {

// The stop word's value that asks a running download to end.
inline constexpr std::uint32_t StopRequestWord = 9876;
// Bytes taken from the port by one read.
inline constexpr std::size_t ReceiveChunkBytes = 4096;

class SessionLink {
 public:
  using Clock = std::chrono::steady_clock;

  enum class Wait {
    Got,       // a byte or frame arrived, or the bytes were written
    TimedOut,  // nothing by the deadline
    Stopped,   // the stop word asked to end
    Failed,    // the line is gone, or a write failed
  };

  SessionLink(BromSerial& serial, const std::atomic<std::uint32_t>& stopWord);

  // Reads the stop word; once it has asked to stop, stays stopped.
  bool stopRequested();
  bool stopped() const { return stopped_; }

  BromSerial& serial() { return serial_; }

  // ---- Out ----
  Wait sendByte(std::uint8_t byte);
  Wait sendFrame(std::uint8_t type, std::uint8_t tag, std::span<const std::uint8_t> payload = {});
  Wait sendData(std::uint16_t sequence, std::span<const std::uint8_t> blocks, bool checked);
  // When the line will have carried every byte written so far: the port may take bytes faster
  // than the line carries them (the kernel's queue, a terminal's buffer), so this is reckoned
  // from the line time of each write. Answers cannot come before it.
  Clock::time_point lineFreeAt() const;

  // ---- In ----
  // The next received byte, raw (sync and alive bytes).
  Wait readByte(std::uint8_t& byte, Clock::time_point deadline);
  // The next good frame; frames with a bad check are dropped (droppedFrames counts them). The
  // view lasts until the next read.
  Wait readFrame(FrameView& frame, Clock::time_point deadline);
  std::uint64_t droppedFrames() const { return droppedFrames_; }
  // Drops every byte received until `until`.
  Wait discardUntil(Clock::time_point until);
  // Drops what has been received so far, buffered or queued in the port.
  void discardInput();

  // Sleeps until `until`, reading the stop word meanwhile.
  Wait pause(Clock::time_point until);

  // Ends a stopped session: ABORT, sent so that the module can read it. Does nothing when no
  // frame has been sent yet (the module is not in a session).
  void abortSession();

  // A tag for a new command: 1 to 255 in turn, never NoTag. A command sent again keeps its tag.
  std::uint8_t newTag() {
    lastTag_ = static_cast<std::uint8_t>(lastTag_ == 0xFF ? 1 : lastTag_ + 1);
    return lastTag_;
  }

 private:
  Wait write(std::span<const std::uint8_t> bytes, bool isFrame);
  // Waits up to the deadline (in stop-poll slices) until bytes arrive, and gives them to the
  // decoder.
  Wait fill(Clock::time_point deadline);

  BromSerial& serial_;
  const std::atomic<std::uint32_t>& stopWord_;
  bool stopped_ = false;
  bool framesSent_ = false;
  std::uint8_t lastTag_ = NoTag;
  bool frameCutShort_ = false;  // a stop interrupted a frame: its start is on the line
  Clock::time_point lineFreeAt_{};
  std::array<std::uint8_t, ReceiveChunkBytes> input_{};
  FrameDecoder decoder_;
  std::uint64_t droppedFrames_ = 0;
  std::vector<std::uint8_t> out_;
};

}  // namespace quenby::brom
