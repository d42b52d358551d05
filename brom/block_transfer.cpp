#include "brom/block_transfer.h"

#include <algorithm>
#include <vector>

#include "brom/byte_order.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = SessionLink::Clock;

class Transfer {
 public:
  Transfer(SessionLink& link, std::span<const std::uint8_t> payload, ProgressMeter& meter)
      : link_(link),
        payload_(payload),
        meter_(meter),
        blocks_((payload.size() + BlockBytes - 1) / BlockBytes),
        failures_(blocks_, 0) {}

  TransferEnd run();

 private:
  // Handles one answer; a transfer that must end gives its end.
  bool answer(const FrameView& frame, TransferEnd& end);
  bool onNak(std::size_t expected, std::uint8_t reason, TransferEnd& end);
  // The module has written every block before `upTo`.
  void acknowledgedUpTo(std::size_t upTo);
  // Block `block` failed once more; false after its last allowed failure.
  bool failed(std::size_t block);
  std::span<const std::uint8_t> block(std::size_t n) const {
    const std::size_t start = n * BlockBytes;
    return payload_.subspan(start, std::min(BlockBytes, payload_.size() - start));
  }

  SessionLink& link_;
  std::span<const std::uint8_t> payload_;
  ProgressMeter& meter_;
  const std::size_t blocks_;
  std::vector<std::uint8_t> failures_;
  std::size_t base_ = 0;      // oldest unacknowledged block
  std::size_t next_ = 0;      // next block to send
  std::size_t sentHigh_ = 0;  // one past the highest block ever sent
  // After going back to block goBack_, the module still answers the blocks that were in flight
  // behind it with NAKs naming goBack_; that many are expected and are not new failures.
  std::size_t goBack_ = 0;
  std::size_t staleNaks_ = 0;
  Clock::time_point lastHeard_ = Clock::now();
};

TransferEnd Transfer::run() {
  meter_.beginPayload();
  FrameView frame;
  TransferEnd end;
  while (base_ < blocks_) {
    if (link_.stopRequested()) return {TransferEnd::Stopped};

    // Send while the window has room; answers that have arrived meanwhile are taken first,
    // so that the window moves on as soon as it can.
    if (next_ < blocks_ && next_ - base_ < WindowBlocks) {
      const auto w = link_.readFrame(frame, Clock::now());
      if (w == SessionLink::Wait::Got) {
        if (!answer(frame, end)) return end;
        continue;
      }
      if (w == SessionLink::Wait::Stopped) return {TransferEnd::Stopped};
      if (w == SessionLink::Wait::Failed) return {TransferEnd::LineFailed};

      switch (link_.sendData(static_cast<std::uint16_t>(next_), block(next_))) {
        case SessionLink::Wait::Got:
          break;
        case SessionLink::Wait::Stopped:
          return {TransferEnd::Stopped};
        default:
          return {TransferEnd::LineFailed};
      }
      ++next_;
      sentHigh_ = std::max(sentHigh_, next_);
      lastHeard_ = Clock::now();
      continue;
    }

    // Window full, or all sent: wait for answers. The silence only counts once the line has
    // carried everything written, so a slow line does not look like a silent module.
    const auto w = link_.readFrame(frame, Clock::now() + StopPollInterval);
    if (w == SessionLink::Wait::Got) {
      if (!answer(frame, end)) return end;
      continue;
    }
    if (w == SessionLink::Wait::Stopped) return {TransferEnd::Stopped};
    if (w == SessionLink::Wait::Failed) return {TransferEnd::LineFailed};
    const auto now = Clock::now();
    if (now - std::max(lastHeard_, link_.lineFreeAt()) >= SilenceLimit) {
      if (!failed(base_)) return {TransferEnd::TooManyFailures};
      next_ = base_;
      staleNaks_ = 0;
      lastHeard_ = now;
    }
  }
  return {TransferEnd::Done};
}

bool Transfer::answer(const FrameView& frame, TransferEnd& end) {
  lastHeard_ = Clock::now();
  if (frame.type == frame::Ack && frame.payload.size() == AckPayload) {
    const std::size_t acked = getU16(frame.payload.data());
    // ACKs of commands, of blocks long acknowledged, or of blocks never sent are stale.
    if (acked != CommandSequence && acked >= base_ && acked < sentHigh_)
      acknowledgedUpTo(acked + 1);
    return true;
  }
  if (frame.type == frame::Nak && frame.payload.size() == NakPayload)
    return onNak(getU16(frame.payload.data()), frame.payload[NakReasonOffset], end);
  end = {TransferEnd::Unexpected};
  return false;
}

bool Transfer::onNak(std::size_t expected, std::uint8_t reason, TransferEnd& end) {
  if (reason != nak::BadCheck && reason != nak::OutOfSequence) {
    end = {TransferEnd::Refused, reason};
    return false;
  }
  // The module expects `expected`: everything before it is written.
  if (expected < base_ || expected > sentHigh_) return true;  // stale or nonsense
  acknowledgedUpTo(expected);
  if (expected == goBack_ && staleNaks_ > 0) {
    --staleNaks_;
    return true;
  }
  if (expected >= next_) return true;  // not sent again yet: nothing has failed
  if (!failed(expected)) {
    end = {TransferEnd::TooManyFailures};
    return false;
  }
  staleNaks_ = next_ - expected - 1;
  goBack_ = expected;
  next_ = expected;
  return true;
}

void Transfer::acknowledgedUpTo(std::size_t upTo) {
  if (upTo <= base_) return;
  base_ = std::min(upTo, blocks_);
  next_ = std::max(next_, base_);
  meter_.payloadAcknowledged(std::min(payload_.size(), base_ * BlockBytes));
}

bool Transfer::failed(std::size_t block) {
  if (block >= blocks_) return true;
  return ++failures_[block] < MaxBlockFailures;
}

}  // namespace

TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter) {
  if (payload.size() > MaxPayloadBlocks * BlockBytes) return {TransferEnd::Refused, 0};
  return Transfer(link, payload, meter).run();
}

}  // namespace quenby::brom
