#include "brom/block_transfer.h"

#include <algorithm>
#include <vector>

#include "brom/byte_order.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = SessionLink::Clock;
using Wait = SessionLink::Wait;

class Transfer {
 public:
  Transfer(SessionLink& link, std::span<const std::uint8_t> payload, ProgressMeter& meter)
      : link_(link),
        payload_(payload),
        meter_(meter),
        blocks_((payload.size() + BlockBytes - 1) / BlockBytes),
        state_(blocks_) {}

  TransferEnd run();

 private:
  struct Block {
    bool acked = false;
    bool resend = false;     // found lost: goes out again before any new block
    std::uint64_t sentAt = 0;  // the send counter at its last sending; 0: never sent
    int failures = 0;
  };

  // Handles one answer; a transfer that must end gives its end.
  bool answer(const FrameView& frame, TransferEnd& end);
  bool onAck(std::size_t n, TransferEnd& end);
  // Block n is lost once more; false after its last allowed failure.
  bool lost(std::size_t n);
  // The block to send now, or blocks_ when none may go.
  std::size_t nextToSend() const;
  std::span<const std::uint8_t> block(std::size_t n) const {
    const std::size_t start = n * BlockBytes;
    return payload_.subspan(start, std::min(BlockBytes, payload_.size() - start));
  }

  SessionLink& link_;
  std::span<const std::uint8_t> payload_;
  ProgressMeter& meter_;
  const std::size_t blocks_;
  std::vector<Block> state_;
  std::size_t base_ = 0;      // oldest unacknowledged block
  std::size_t fresh_ = 0;     // next block never sent
  std::uint64_t sends_ = 0;   // sendings so far
  Clock::time_point lastHeard_ = Clock::now();
};

std::size_t Transfer::nextToSend() const {
  for (std::size_t n = base_; n < fresh_; ++n)
    if (state_[n].resend) return n;
  if (fresh_ < blocks_ && fresh_ < base_ + WindowBlocks) return fresh_;
  return blocks_;
}

TransferEnd Transfer::run() {
  meter_.beginPayload();
  FrameView frame;
  TransferEnd end;
  while (base_ < blocks_) {
    if (link_.stopRequested()) return {TransferEnd::Stopped};

    // Answers that have arrived are taken first, so that the window moves on as soon as it can.
    const std::size_t n = nextToSend();
    const auto wait = n < blocks_ ? Clock::now() : Clock::now() + StopPollInterval;
    const Wait w = link_.readFrame(frame, wait);
    if (w == Wait::Got) {
      if (!answer(frame, end)) return end;
      continue;
    }
    if (w == Wait::Stopped) return {TransferEnd::Stopped};
    if (w == Wait::Failed) return {TransferEnd::LineFailed};

    if (n < blocks_) {
      switch (link_.sendData(static_cast<std::uint16_t>(n), block(n))) {
        case Wait::Got:
          break;
        case Wait::Stopped:
          return {TransferEnd::Stopped};
        default:
          return {TransferEnd::LineFailed};
      }
      state_[n].resend = false;
      state_[n].sentAt = ++sends_;
      if (n == fresh_) ++fresh_;
      continue;
    }

    // Everything that may go has gone: silence only counts once the line has carried it, so a
    // slow line does not look like a silent module.
    const auto now = Clock::now();
    if (now - std::max(lastHeard_, link_.lineFreeAt()) >= SilenceLimit) {
      if (!lost(base_)) return {TransferEnd::TooManyFailures};
      lastHeard_ = now;
    }
  }
  return {TransferEnd::Done};
}

bool Transfer::answer(const FrameView& frame, TransferEnd& end) {
  lastHeard_ = Clock::now();
  // Answers to commands (a late repeat) have a tag; blocks and their answers have none.
  if (frame.tag != NoTag) return true;
  if (frame.type == frame::Ack && frame.payload.size() == AckPayload)
    return onAck(getU16(frame.payload.data()), end);
  if (frame.type == frame::Busy) return true;  // the module is behind: it holds the time-out
  if (frame.type == frame::Nak && frame.payload.size() == NakPayload) {
    const std::uint8_t reason = frame.payload[NakReasonOffset];
    // A damaged or unplaceable frame: which block it was shows when a later one is acknowledged.
    if (reason == nak::BadCheck || reason == nak::OutOfSequence) return true;
    end = {TransferEnd::Refused, reason};
    return false;
  }
  end = {TransferEnd::Unexpected};
  return false;
}

bool Transfer::onAck(std::size_t n, TransferEnd& end) {
  // ACKs of blocks never sent, or already acknowledged, are stale.
  if (n >= fresh_ || n < base_ || state_[n].acked) return true;
  state_[n].acked = true;
  state_[n].resend = false;
  // Every block before n that went out before n's last sending and is still unacknowledged was
  // lost on the way, or its ACK was.
  for (std::size_t m = base_; m < n; ++m) {
    Block& b = state_[m];
    if (!b.acked && !b.resend && b.sentAt < state_[n].sentAt && !lost(m)) {
      end = {TransferEnd::TooManyFailures};
      return false;
    }
  }
  const std::size_t before = base_;
  while (base_ < blocks_ && state_[base_].acked) ++base_;
  if (base_ != before) meter_.payloadAcknowledged(std::min(payload_.size(), base_ * BlockBytes));
  return true;
}

bool Transfer::lost(std::size_t n) {
  Block& b = state_[n];
  b.resend = true;
  return ++b.failures < MaxBlockFailures;
}

}  // namespace

TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter) {
  if (payload.size() > MaxPayloadBlocks * BlockBytes) return {TransferEnd::Refused, 0};
  return Transfer(link, payload, meter).run();
}

}  // namespace quenby::brom
