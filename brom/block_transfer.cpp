#include "brom/block_transfer.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "brom/byte_order.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = SessionLink::Clock;
using Wait = SessionLink::Wait;

// PART's kept-blocks bits of a frame whose blocks were all kept (ACK).
constexpr unsigned AllKept = 0xFF;

class Transfer {
 public:
  Transfer(SessionLink& link, std::span<const std::uint8_t> payload, ProgressMeter& meter,
           bool& checked)
      : link_(link),
        payload_(payload),
        meter_(meter),
        checked_(checked),
        blocks_((payload.size() + BlockBytes - 1) / BlockBytes),
        state_(blocks_) {}

  TransferEnd run();

 private:
  struct Block {
    bool acked = false;
    bool resend = false;  // found lost: goes out again before any new block
    int failures = 0;
  };
  // A DATA frame on its way, by its first block (the frame's sequence number): how many blocks
  // it carries, and when it went (the send counter).
  struct Sending {
    std::size_t count = 0;
    std::uint64_t stamp = 0;
    bool held = false;  // the module said BUSY for it: it arrived, its answer comes later
  };
  using SendingAt = std::map<std::size_t, Sending>::iterator;
  // The frame to send now: first block and count (count 0: none may go).
  struct Piece {
    std::size_t first = 0;
    std::size_t count = 0;
  };

  // Handles one answer; a transfer that must end gives its end.
  bool answer(const FrameView& frame, TransferEnd& end);
  // The module has answered the frame starting at `first`, keeping the blocks whose bits are set.
  bool onAnswer(std::size_t first, unsigned kept, TransferEnd& end);
  // The module reported a damaged frame and still needs block `needed`.
  bool onDamaged(std::size_t needed);
  // The module has every block before `needed`: they are acknowledged, whichever answers were
  // lost on the way, and none of them goes again.
  void acknowledgeBefore(std::size_t needed);
  // Moves the window past the acknowledged blocks and forgets frames with nothing left unanswered.
  void moveOn();
  // The frame's blocks with a `kept` bit are acknowledged, the others go again (a failure each);
  // false after a block's last chance.
  bool settle(SendingAt sending, unsigned kept);
  Piece nextToSend() const;
  std::span<const std::uint8_t> blocks(Piece p) const {
    const std::size_t start = p.first * BlockBytes;
    return payload_.subspan(start, std::min(p.count * BlockBytes, payload_.size() - start));
  }

  SessionLink& link_;
  std::span<const std::uint8_t> payload_;
  ProgressMeter& meter_;
  bool& checked_;  // blocks go in CHECKED_DATA frames (from the first loss on at the latest)
  const std::size_t blocks_;
  std::vector<Block> state_;
  std::map<std::size_t, Sending> onTheWay_;  // by first block
  std::size_t base_ = 0;     // oldest unacknowledged block
  std::size_t fresh_ = 0;    // next block never sent
  std::uint64_t sends_ = 0;  // frames sent so far
  Clock::time_point lastHeard_ = Clock::now();
};

Transfer::Piece Transfer::nextToSend() const {
  // Blocks found lost go first, consecutive ones together.
  for (std::size_t n = base_; n < fresh_; ++n) {
    if (!state_[n].resend) continue;
    std::size_t count = 1;
    while (count < MaxFrameBlocks && n + count < fresh_ && state_[n + count].resend) ++count;
    return {n, count};
  }
  const std::size_t end = std::min(blocks_, base_ + WindowBlocks);
  if (fresh_ >= end) return {};
  return {fresh_, std::min(end - fresh_, MaxFrameBlocks)};
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
      switch (link_.sendData(static_cast<std::uint16_t>(piece.first), blocks(piece), checked_)) {
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
      if (!settle(onTheWay_.begin(), 0)) return {TransferEnd::TooManyFailures};
      lastHeard_ = now;
    }
  }
  return {TransferEnd::Done};
}

// The next block needed that ends an answer to blocks, when the module sent it.
std::optional<std::size_t> nextNeeded(const FrameView& frame, std::size_t fixedBytes) {
  if (frame.payload.size() != fixedBytes + NextNeededBytes) return std::nullopt;
  return getU16(frame.payload.data() + fixedBytes);
}

bool Transfer::answer(const FrameView& frame, TransferEnd& end) {
  lastHeard_ = Clock::now();
  // Answers to commands (a late repeat) have a tag; blocks and their answers have none.
  if (frame.tag != NoTag) return true;
  const std::size_t size = frame.payload.size();
  if (frame.type == frame::Ack && (size == AckPayload || size == AckPayload + NextNeededBytes)) {
    if (const auto needed = nextNeeded(frame, AckPayload)) acknowledgeBefore(*needed);
    return onAnswer(getU16(frame.payload.data()), AllKept, end);
  }
  if (frame.type == frame::Part && (size == PartPayload || size == PartPayload + NextNeededBytes)) {
    if (const auto needed = nextNeeded(frame, PartPayload)) acknowledgeBefore(*needed);
    return onAnswer(getU16(frame.payload.data()), frame.payload[DataSequenceBytes], end);
  }
  if (frame.type == frame::Busy) {
    // The module is behind: it holds the time-out, and the frame named has arrived.
    if (size == BusyPayload) {
      const auto it = onTheWay_.find(getU16(frame.payload.data()));
      if (it != onTheWay_.end()) it->second.held = true;
    }
    return true;
  }
  if (frame.type == frame::Nak && size == NakPayload) {
    const std::uint8_t reason = frame.payload[NakReasonOffset];
    if (reason == nak::BadCheck) {
      if (onDamaged(getU16(frame.payload.data()))) return true;
      end = {TransferEnd::TooManyFailures};
      return false;
    }
    // Out of the module's window: which frame it was shows when a later one is answered.
    if (reason == nak::OutOfSequence) return true;
    end = {TransferEnd::Refused, reason};
    return false;
  }
  end = {TransferEnd::Unexpected};
  return false;
}

void Transfer::acknowledgeBefore(std::size_t needed) {
  // Outside a payload the module names no block; and it cannot have blocks never sent.
  if (needed == CommandSequence) return;
  for (std::size_t n = base_; n < std::min(needed, fresh_); ++n) {
    state_[n].acked = true;
    state_[n].resend = false;
  }
}

void Transfer::moveOn() {
  std::erase_if(onTheWay_, [this](const auto& sending) {
    const auto& [first, s] = sending;
    return std::all_of(state_.begin() + static_cast<std::ptrdiff_t>(first),
                       state_.begin() + static_cast<std::ptrdiff_t>(first + s.count),
                       [](const Block& b) { return b.acked; });
  });
  const std::size_t before = base_;
  while (base_ < blocks_ && state_[base_].acked) ++base_;
  if (base_ != before) meter_.payloadAcknowledged(std::min(payload_.size(), base_ * BlockBytes));
}

bool Transfer::onDamaged(std::size_t needed) {
  acknowledgeBefore(needed);
  moveOn();
  // The damaged frame went out no earlier than the oldest frame on its way, and the module
  // answers in order: had that oldest frame arrived whole, its first block would not still be
  // needed. So it is lost (or was itself the damaged one), unless the module has said it holds
  // that frame's answer back. Without this, a damaged last frame of a payload would only be
  // found after SilenceLimit.
  const auto oldest = std::min_element(onTheWay_.begin(), onTheWay_.end(), [](auto& a, auto& b) {
    return a.second.stamp < b.second.stamp;
  });
  if (oldest == onTheWay_.end() || oldest->second.held || needed < oldest->first ||
      needed >= oldest->first + oldest->second.count)
    return true;
  const bool chances = settle(oldest, 0);
  moveOn();
  return chances;
}

bool Transfer::onAnswer(std::size_t first, unsigned kept, TransferEnd& end) {
  // Answers of frames not on their way (long acknowledged, or never sent) are stale.
  const auto it = onTheWay_.find(first);
  if (it == onTheWay_.end()) {
    moveOn();
    return true;
  }
  const std::uint64_t stamp = it->second.stamp;
  if (!settle(it, kept)) {
    end = {TransferEnd::TooManyFailures};
    return false;
  }
  // Every frame before this one that went out before it and is still unanswered was lost on
  // the way, or its answer was: the line keeps the order of bytes and the module answers in
  // order, held answers first. Blocks the module has named as had (next block needed) are not
  // among them.
  for (auto o = onTheWay_.begin(); o != onTheWay_.end() && o->first < first;) {
    if (o->second.stamp > stamp) {
      ++o;
      continue;
    }
    const auto next = std::next(o);
    if (!settle(o, 0)) {
      end = {TransferEnd::TooManyFailures};
      return false;
    }
    o = next;
  }
  moveOn();
  return true;
}

bool Transfer::settle(SendingAt sending, unsigned kept) {
  bool chances = true;
  for (std::size_t i = 0; i < sending->second.count; ++i) {
    Block& b = state_[sending->first + i];
    if (b.acked) continue;
    if (kept & (1u << i)) {
      b.acked = true;
      continue;
    }
    b.resend = true;
    checked_ = true;
    if (++b.failures >= MaxBlockFailures) chances = false;
  }
  onTheWay_.erase(sending);
  return chances;
}

}  // namespace

TransferEnd sendPayload(SessionLink& link, std::span<const std::uint8_t> payload,
                        ProgressMeter& meter, bool& checked) {
  if (payload.size() > MaxPayloadBlocks * BlockBytes) return {TransferEnd::Refused, 0};
  return Transfer(link, payload, meter, checked).run();
}

}  // namespace quenby::brom
