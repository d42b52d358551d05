#include "brom/block_transfer.h"

#include <algorithm>
#include <map>
#include <vector>

#include "brom/byte_order.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = SessionLink::Clock;
using Wait = SessionLink::Wait;

class Transfer {
 public:
  Transfer(SessionLink& link, std::span<const std::uint8_t> payload, ProgressMeter& meter,
           bool& noisy)
      : link_(link),
        payload_(payload),
        meter_(meter),
        noisy_(noisy),
        blocks_((payload.size() + BlockBytes - 1) / BlockBytes),
        state_(blocks_) {}

  TransferEnd run();

 private:
  struct Block {
    bool acked = false;
    bool resend = false;  // found lost: goes out again, alone, before any new block
    int failures = 0;
  };
  // A DATA frame on its way: its first block (the frame's sequence number), how many blocks it
  // carries, and when it went (the send counter).
  struct Sending {
    std::size_t count = 0;
    std::uint64_t stamp = 0;
  };
  // The frame to send now: first block and count (count 0: none may go).
  struct Piece {
    std::size_t first = 0;
    std::size_t count = 0;
  };

  // Handles one answer; a transfer that must end gives its end.
  bool answer(const FrameView& frame, TransferEnd& end);
  bool onAck(std::size_t first, TransferEnd& end);
  // The frame starting at `first` is lost: its blocks go again; false after a block's last chance.
  bool lost(std::map<std::size_t, Sending>::iterator sending);
  Piece nextToSend() const;
  std::span<const std::uint8_t> blocks(Piece p) const {
    const std::size_t start = p.first * BlockBytes;
    return payload_.subspan(start, std::min(p.count * BlockBytes, payload_.size() - start));
  }

  SessionLink& link_;
  std::span<const std::uint8_t> payload_;
  ProgressMeter& meter_;
  bool& noisy_;  // a frame has been lost in this session: one block a frame from now on
  const std::size_t blocks_;
  std::vector<Block> state_;
  std::map<std::size_t, Sending> onTheWay_;  // by first block
  std::size_t base_ = 0;     // oldest unacknowledged block
  std::size_t fresh_ = 0;    // next block never sent
  std::uint64_t sends_ = 0;  // frames sent so far
  Clock::time_point lastHeard_ = Clock::now();
};

Transfer::Piece Transfer::nextToSend() const {
  for (std::size_t n = base_; n < fresh_; ++n)
    if (state_[n].resend) return {n, 1};
  const std::size_t end = std::min(blocks_, base_ + WindowBlocks);
  if (fresh_ >= end) return {};
  return {fresh_, std::min(end - fresh_, noisy_ ? std::size_t{1} : MaxFrameBlocks)};
}

TransferEnd Transfer::run() {
  meter_.beginPayload();
  FrameView frame;
  TransferEnd end;
  while (base_ < blocks_) {
    if (link_.stopRequested()) return {TransferEnd::Stopped};

    // Answers that have arrived are taken first, so that the window moves on as soon as it can.
    const Piece piece = nextToSend();
    const auto wait = piece.count > 0 ? Clock::now() : Clock::now() + StopPollInterval;
    const Wait w = link_.readFrame(frame, wait);
    if (w == Wait::Got) {
      if (!answer(frame, end)) return end;
      continue;
    }
    if (w == Wait::Stopped) return {TransferEnd::Stopped};
    if (w == Wait::Failed) return {TransferEnd::LineFailed};

    if (piece.count > 0) {
      switch (link_.sendData(static_cast<std::uint16_t>(piece.first), blocks(piece))) {
        case Wait::Got:
          break;
        case Wait::Stopped:
          return {TransferEnd::Stopped};
        default:
          return {TransferEnd::LineFailed};
      }
      for (std::size_t n = piece.first; n < piece.first + piece.count; ++n) state_[n].resend = false;
      onTheWay_[piece.first] = {piece.count, ++sends_};
      fresh_ = std::max(fresh_, piece.first + piece.count);
      continue;
    }

    // Everything that may go has gone: silence only counts once the line has carried it, so a
    // slow line does not look like a silent module.
    const auto now = Clock::now();
    if (now - std::max(lastHeard_, link_.lineFreeAt()) >= SilenceLimit && !onTheWay_.empty()) {
      if (!lost(onTheWay_.begin())) return {TransferEnd::TooManyFailures};
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
    // A damaged or unplaceable frame: which one it was shows when a later one is acknowledged.
    if (reason == nak::BadCheck || reason == nak::OutOfSequence) return true;
    end = {TransferEnd::Refused, reason};
    return false;
  }
  end = {TransferEnd::Unexpected};
  return false;
}

bool Transfer::onAck(std::size_t first, TransferEnd& end) {
  // ACKs of frames not on their way (long acknowledged, or never sent) are stale.
  const auto it = onTheWay_.find(first);
  if (it == onTheWay_.end()) return true;
  const std::uint64_t stamp = it->second.stamp;
  for (std::size_t n = first; n < first + it->second.count; ++n) state_[n].acked = true;
  onTheWay_.erase(it);
  // Every frame before this one that went out before it and is still unanswered was lost on
  // the way, or its ACK was: the line keeps the order of bytes and the module answers in order.
  for (auto o = onTheWay_.begin(); o != onTheWay_.end() && o->first < first;) {
    if (o->second.stamp > stamp) {
      ++o;
      continue;
    }
    const auto next = std::next(o);
    if (!lost(o)) {
      end = {TransferEnd::TooManyFailures};
      return false;
    }
    o = next;
  }
  const std::size_t before = base_;
  while (base_ < blocks_ && state_[base_].acked) ++base_;
  if (base_ != before) meter_.payloadAcknowledged(std::min(payload_.size(), base_ * BlockBytes));
  return true;
}

bool Transfer::lost(std::map<std::size_t, Sending>::iterator sending) {
  noisy_ = true;
  bool chances = true;
  for (std::size_t n = sending->first; n < sending->first + sending->second.count; ++n) {
    Block& b = state_[n];
    if (b.acked) continue;
    b.resend = true;
    if (++b.failures >= MaxBlockFailures) chances = false;
  }
  onTheWay_.erase(sending);
  return chances;
}

}  // namespace

TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter, bool& noisy) {
  if (payload.size() > MaxPayloadBlocks * BlockBytes) return {TransferEnd::Refused, 0};
  return Transfer(link, payload, meter, noisy).run();
}

}  // namespace quenby::brom
