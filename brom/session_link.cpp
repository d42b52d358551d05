#include "brom/session_link.h"

#include <algorithm>
#include <thread>

#include "brom/protocol.h"

namespace quenby::brom {
namespace {

// After a frame was cut short, the module's receiver forgets the piece once the frame time
// limit has passed; ABORT waits that long and a little more.
constexpr std::chrono::milliseconds AbortSettle = FrameLimit + std::chrono::milliseconds{100};
// ABORT is six bytes; it gets this long (plus its line time) to leave before the port closes.
constexpr std::chrono::milliseconds AbortDrainSlack{100};
// What a port that does not report its queue can still hold once its output was thrown away:
// the terminal's own line buffer (4 KiB in a pseudo-terminal).
constexpr std::size_t UnreportedQueueLimit = 4096;

std::chrono::milliseconds sliceUntil(SessionLink::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - SessionLink::Clock::now());
  return std::clamp(left, std::chrono::milliseconds{0}, StopPollInterval);
}

}  // namespace

SessionLink::SessionLink(BromSerial& serial, const std::atomic<std::uint32_t>& stopWord)
    : serial_(serial), stopWord_(stopWord), decoder_(MaxAnswerPayload) {
  out_.reserve(MaxFrameBytes);
}

bool SessionLink::stopRequested() {
  if (!stopped_ && stopWord_.load() == StopRequestWord) stopped_ = true;
  return stopped_;
}

SessionLink::Clock::time_point SessionLink::lineFreeAt() const {
  // Bytes still queued in the port that the reckoning missed (a line slower than its rate).
  const auto queued = serial_.queuedOutput();
  if (queued == 0) return lineFreeAt_;
  return std::max(lineFreeAt_, Clock::now() + BromSerial::lineTime(queued, serial_.baud()));
}

SessionLink::Wait SessionLink::write(std::span<const std::uint8_t> bytes, bool isFrame) {
  lineFreeAt_ =
      std::max(lineFreeAt_, Clock::now()) + BromSerial::lineTime(bytes.size(), serial_.baud());
  switch (serial_.write(bytes, [this] { return stopRequested(); })) {
    case BromSerial::Write::Written:
      if (isFrame) framesSent_ = true;
      return Wait::Got;
    case BromSerial::Write::StoppedInside:
      if (isFrame) {
        framesSent_ = true;
        frameCutShort_ = true;
      }
      return Wait::Stopped;
    case BromSerial::Write::StoppedBefore:
      return Wait::Stopped;
    case BromSerial::Write::Failed:
      break;
  }
  return Wait::Failed;
}

SessionLink::Wait SessionLink::sendByte(std::uint8_t byte) {
  const std::uint8_t bytes[] = {byte};
  return write(bytes, false);
}

SessionLink::Wait SessionLink::sendFrame(std::uint8_t type, std::uint8_t tag,
                                         std::span<const std::uint8_t> payload) {
  out_.clear();
  appendFrame(out_, type, tag, payload);
  return write(out_, true);
}

SessionLink::Wait SessionLink::sendData(std::uint16_t sequence,
                                        std::span<const std::uint8_t> blocks, bool checked) {
  out_.clear();
  appendDataFrame(out_, sequence, blocks, checked);
  return write(out_, true);
}

SessionLink::Wait SessionLink::fill(Clock::time_point deadline) {
  for (;;) {
    if (stopRequested()) return Wait::Stopped;
    const auto slice = sliceUntil(deadline);
    std::size_t got = 0;
    switch (serial_.read(input_, slice, got)) {
      case BromSerial::Read::Data:
        decoder_.push(std::span(input_.data(), got), Clock::now());
        return Wait::Got;
      case BromSerial::Read::LineGone:
        return Wait::Failed;
      case BromSerial::Read::Nothing:
        break;
    }
    if (Clock::now() >= deadline) return Wait::TimedOut;
  }
}

SessionLink::Wait SessionLink::readByte(std::uint8_t& byte, Clock::time_point deadline) {
  while (!decoder_.takeByte(byte)) {
    const Wait w = fill(deadline);
    if (w != Wait::Got) return w;
  }
  return Wait::Got;
}

SessionLink::Wait SessionLink::readFrame(FrameView& frame, Clock::time_point deadline) {
  for (;;) {
    switch (decoder_.next(Clock::now())) {
      case FrameDecoder::Event::Frame:
        frame = decoder_.frame();
        return Wait::Got;
      case FrameDecoder::Event::Dropped:
        ++droppedFrames_;
        continue;  // scanning goes on after the false start
      case FrameDecoder::Event::None:
        break;
    }
    const Wait w = fill(deadline);
    if (w == Wait::TimedOut && decoder_.inFrame()) {
      // An unfinished frame may have gone stale by now; one more look drops it.
      if (decoder_.next(Clock::now()) == FrameDecoder::Event::Frame) {
        frame = decoder_.frame();
        return Wait::Got;
      }
    }
    if (w != Wait::Got) return w;
  }
}

SessionLink::Wait SessionLink::discardUntil(Clock::time_point until) {
  for (;;) {
    decoder_.reset();
    const Wait w = fill(until);
    if (w == Wait::TimedOut) {
      decoder_.reset();
      return Wait::Got;
    }
    if (w != Wait::Got) return w;
  }
}

void SessionLink::discardInput() {
  decoder_.reset();
  serial_.discardInput();
}

SessionLink::Wait SessionLink::pause(Clock::time_point until) {
  while (Clock::now() < until) {
    if (stopRequested()) return Wait::Stopped;
    std::this_thread::sleep_for(sliceUntil(until));
  }
  return Wait::Got;
}

void SessionLink::abortSession() {
  if (!framesSent_) return;
  // Throwing away what still waits to go out may cut a frame; so may the stop itself.
  bool cut = frameCutShort_;
  const bool reported = serial_.queuedOutput() > 0;
  if (reported) {
    serial_.discardOutput();
    cut = true;
  } else if (Clock::now() < lineFreeAt_) {
    // A port that does not report its queue (a pseudo-terminal) may still hold frames written
    // ahead: they are thrown away too, but the kernel may keep one buffer of them, which the
    // line carries before the module's frame limit can start to run.
    serial_.discardOutput();
    cut = true;
    lineFreeAt_ = std::min(lineFreeAt_, Clock::now() + BromSerial::lineTime(UnreportedQueueLimit,
                                                                            serial_.baud()));
    std::this_thread::sleep_until(lineFreeAt_);
  }
  if (cut) std::this_thread::sleep_for(AbortSettle);
  out_.clear();
  appendFrame(out_, frame::Abort, newTag(), {});
  lineFreeAt_ =
      std::max(lineFreeAt_, Clock::now()) + BromSerial::lineTime(out_.size(), serial_.baud());
  if (serial_.write(out_, nullptr) == BromSerial::Write::Written) {
    (void)serial_.drain(BromSerial::lineTime(out_.size(), serial_.baud()) + AbortDrainSlack);
    // ... and ABORT behind it: the port stays open until the reckoning says it has left.
    if (!reported) std::this_thread::sleep_until(lineFreeAt_ + AbortDrainSlack);
  }
}

}  // namespace quenby::brom
