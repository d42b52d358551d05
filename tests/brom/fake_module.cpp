#include "tests/brom/fake_module.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <map>
#include <utility>

#include "brom/byte_order.h"
#include "brom/crc.h"
#include "brom/frame_codec.h"
#include "brom/protocol.h"

namespace quenby::brom::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int PollMs = 20;
constexpr int QuietPollsToEnd = 3;
constexpr std::size_t ReadChunkBytes = 4096;

// The module's protocol state.
class ModuleSide {
 public:
  ModuleSide(int fd, const ModuleScript& script, ModuleLog& log)
      : fd_(fd), script_(script), log_(log) {}

  void take(std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
      if (decoder_.empty() && b == SyncByte && syncOpen_) {
        if (script_.answerSync) send({script_.syncAnswer});
        continue;
      }
      decoder_.push(std::span(&b, 1), Clock::now());
      for (auto e = decoder_.next(Clock::now()); e != FrameDecoder::Event::None;
           e = decoder_.next(Clock::now())) {
        if (e == FrameDecoder::Event::Frame) onFrame(decoder_.frame());
      }
    }
  }

  // The line has been quiet for a moment: the flash has made room for a held answer.
  void quiet() { releaseHeldAnswer(); }

 private:
  void send(std::vector<std::uint8_t> bytes) {
    if (lastType_ != frame::Data && lastType_ != frame::CheckedData) lastAnswer_.insert(lastAnswer_.end(), bytes.begin(), bytes.end());
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, PollMs) < 0) return;
      }
    }
  }
  // The script may lose the first answers to a command on the line.
  bool loseAnswer() {
    if (lastType_ != script_.loseFirstAnswerTo || answersLost_ >= script_.answersLost) return false;
    ++answersLost_;
    return true;
  }
  void answer(std::uint8_t type, std::vector<std::uint8_t> payload = {}) {
    const auto bytes = encodeFrame(type, tag_, payload);
    if (type != frame::Nak && loseAnswer()) {
      lastAnswer_.insert(lastAnswer_.end(), bytes.begin(), bytes.end());
      return;
    }
    send(bytes);
  }
  // Every block before it is kept and answered.
  std::uint16_t nextNeeded() const {
    return heldNow_ >= 0 ? std::min<std::uint16_t>(expected_, static_cast<std::uint16_t>(heldNow_))
                             : expected_;
  }
  void releaseHeldAnswer() {
    if (heldNow_ < 0) return;
    const auto seq = static_cast<std::uint16_t>(heldNow_);
    heldNow_ = -1;
    answerBlocks(frame::Ack, seq, std::nullopt);
    send(std::exchange(waiting_, {}));
  }
  // ACK or PART of a DATA frame, ending with the next block needed.
  void answerBlocks(std::uint8_t type, std::uint16_t seq, std::optional<std::uint8_t> kept) {
    tag_ = NoTag;
    std::vector<std::uint8_t> p;
    putU16(p, seq);
    if (kept) putU8(p, *kept);
    if (!script_.omitNextNeeded) putU16(p, nextNeeded());
    if (seq == lostAnswer_) {
      lostAnswer_ = -1;
      return;
    }
    // Answers go in order: behind a held one they wait too.
    if (heldNow_ >= 0) {
      const auto bytes = encodeFrame(type, NoTag, p);
      waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
      return;
    }
    answer(type, p);
  }
  void ack(std::uint16_t seq) {
    if (seq != CommandSequence) tag_ = NoTag;
    std::vector<std::uint8_t> p;
    putU16(p, seq);
    answer(frame::Ack, p);
  }
  void nak(std::uint16_t seq, std::uint8_t reason) {
    if (seq != CommandSequence) tag_ = NoTag;
    std::vector<std::uint8_t> p;
    putU16(p, seq);
    putU8(p, reason);
    answer(frame::Nak, p);
  }

  void onFrame(const FrameView& f) {
    log_.frameTypes.push_back(f.type);
    tag_ = f.tag;
    lastType_ = f.type;
    const std::uint8_t* p = f.payload.data();
    const bool data = f.type == frame::Data || f.type == frame::CheckedData;
    if (!data && f.tag == lastCommandTag_ && f.type == lastCommandType_) {
      ++log_.repeats;  // answered again, not applied again
      if (loseAnswer()) return;
      const std::vector<std::uint8_t> again = lastAnswer_;
      lastAnswer_.clear();
      send(again);
      return;
    }
    if (!data) {
      lastCommandTag_ = f.tag;
      lastCommandType_ = f.type;
      lastAnswer_.clear();
    }
    switch (f.type) {
      case frame::Hello: {
        // Sync bytes are still answered until SET_BAUD: the host syncs again when HELLO_ACK is lost.
        std::vector<std::uint8_t> reply;
        putU32(reply, script_.chipValue);
        putU16(reply, script_.bootRomVersion);
        answer(frame::HelloAck, reply);
        break;
      }
      case frame::SetBaud:
        log_.baud = getU32(p);
        if (script_.refuseSpeed) {
          nak(CommandSequence, nak::SpeedRefused);
        } else {
          ack(CommandSequence);
          syncOpen_ = true;  // the second sync, at the new speed
          if (script_.missSecondSync && !secondSyncMissed_) {
            // No sync byte heard at the new speed: back at the boot speed, SET_BAUD forgotten.
            secondSyncMissed_ = true;
            syncOpen_ = false;
            lastCommandTag_ = NoTag;
          }
        }
        break;
      case frame::DaBegin:
        syncOpen_ = false;
        log_.chipValue = getU32(p);
        if (log_.chipValue != script_.chipValue) {
          nak(CommandSequence, nak::ChipRejected);
          break;
        }
        expectedCrc_ = getU32(p + DaBeginCrcOffset);
        target_ = &log_.agent;
        damaged_ = script_.damagedAgentBlock;
        damageLeft_ = script_.damageTimes;
        expected_ = 0;
        held_.clear();
        ack(CommandSequence);
        break;
      case frame::Data:
      case frame::CheckedData:
        onData(f.payload, f.type == frame::CheckedData);
        break;
      case frame::DaEnd:
        if (crc32(log_.agent) != expectedCrc_) {
          nak(CommandSequence, nak::VerifyMismatch);
          break;
        }
        ack(CommandSequence);
        if (script_.aliveByte) {
          send({*script_.aliveByte});
          std::vector<std::uint8_t> info;
          putU32(info, script_.flashDevice);
          putU8(info, script_.flashIdentified);
          answer(frame::FlashInfo, info);
        }
        break;
      case frame::RegionBegin: {
        ModuleLog::Region region;
        region.address = getU32(p);
        expectedCrc_ = getU32(p + RegionBeginCrcOffset);
        region.name.assign(reinterpret_cast<const char*>(p + RegionBeginNameOffset),
                           p[RegionBeginNameLengthOffset]);
        log_.regions.push_back(std::move(region));
        target_ = &log_.regions.back().bytes;
        damaged_ = log_.regions.size() == 1 ? script_.damagedImageBlock : -1;
        lost_ = log_.regions.size() == 1 ? script_.lostImageBlock : -1;
        lostAnswer_ = log_.regions.size() == 1 ? script_.lostAnswerImageFrame : -1;
        holdAnswer_ = log_.regions.size() == 1 ? script_.heldAnswerImageFrame : -1;
        part_ = log_.regions.size() == 1 ? script_.partImageFrame : -1;
        damageLeft_ = script_.damageTimes;
        expected_ = 0;
        held_.clear();
        ack(CommandSequence);
        break;
      }
      case frame::Verify: {
        const int region = static_cast<int>(log_.regions.size()) - 1;
        if (!target_) {
          nak(CommandSequence, nak::NotExpected);
        } else if (region == script_.verifyMismatchRegion || crc32(*target_) != expectedCrc_)
          nak(CommandSequence, nak::VerifyMismatch);
        else
          ack(CommandSequence);
        break;
      }
      case frame::Finish:
        log_.finished = true;
        ack(CommandSequence);
        break;
      case frame::Abort:
        log_.aborted = true;
        break;
      default:
        nak(CommandSequence, nak::NotExpected);
        break;
    }
  }

  void onData(std::span<const std::uint8_t> payload, bool checked) {
    ++log_.dataFrames;
    const std::uint16_t seq = getU16(payload.data());
    if (seq == lost_) {
      lost_ = -1;
      return;
    }
    if (!target_) {
      nak(seq, nak::NotExpected);
      return;
    }
    if (seq == damaged_ && damageLeft_ > 0) {
      --damageLeft_;
      nak(nextNeeded(), nak::BadCheck);
      return;
    }
    // A frame carries one or more blocks from block `seq` on. Blocks out of order wait for the
    // ones before them; blocks had already are answered again and not kept twice.
    // In CHECKED_DATA each block is followed by its check; a short block is the payload's last.
    const std::size_t checkBytes = checked ? BlockCheckBytes : 0;
    const auto data = payload.subspan(DataSequenceBytes);
    const bool partly = seq == part_;
    if (partly) part_ = -1;
    for (std::size_t at = 0, n = seq; at + checkBytes < data.size(); ++n) {
      const std::size_t size = std::min(BlockBytes, data.size() - at - checkBytes);
      const auto piece = data.subspan(at, size);
      if (checked && getU32(piece.data() + size) != blockCheck(static_cast<std::uint16_t>(n), piece)) {
        nak(nextNeeded(), nak::BadCheck);
        return;
      }
      ++log_.dataBlocks;
      const bool damaged = partly && n == seq + 1u;
      if (!damaged && n >= expected_ && !held_.count(n)) held_[n].assign(piece.begin(), piece.end());
      at += size + checkBytes;
    }
    for (auto it = held_.find(expected_); it != held_.end(); it = held_.find(expected_)) {
      target_->insert(target_->end(), it->second.begin(), it->second.end());
      held_.erase(it);
      ++expected_;
    }
    if (seq == holdAnswer_) {
      holdAnswer_ = -1;
      heldNow_ = seq;
      tag_ = NoTag;
      std::vector<std::uint8_t> p;
      putU16(p, seq);
      answer(frame::Busy, p);
    } else if (partly) {
      answerBlocks(frame::Part, seq, 0xFF & ~0x02);
    } else {
      answerBlocks(frame::Ack, seq, std::nullopt);
    }
  }

  int fd_;
  const ModuleScript& script_;
  ModuleLog& log_;
  FrameDecoder decoder_;
  bool syncOpen_ = true;
  std::vector<std::uint8_t>* target_ = nullptr;
  std::uint16_t expected_ = 0;
  std::uint32_t expectedCrc_ = 0;
  int damaged_ = -1;
  int damageLeft_ = 0;
  int lost_ = -1;
  int part_ = -1;
  int lostAnswer_ = -1;
  int holdAnswer_ = -1;   // the frame whose answer is to be held back
  int heldNow_ = -1;      // the frame whose answer is held back now
  std::vector<std::uint8_t> waiting_;  // answers behind the held one
  bool secondSyncMissed_ = false;
  int answersLost_ = 0;
  std::map<std::uint16_t, std::vector<std::uint8_t>> held_;
  std::uint8_t tag_ = NoTag;
  std::uint8_t lastType_ = 0;
  std::uint8_t lastCommandTag_ = NoTag;
  std::uint8_t lastCommandType_ = 0;
  std::vector<std::uint8_t> lastAnswer_;
};

}  // namespace

FakeModule::FakeModule(const std::filesystem::path& portsDir, std::uint16_t port,
                       ModuleScript script)
    : script_(script) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128] = {};
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0)
    return;
  ::fcntl(master_, F_SETFL, O_NONBLOCK);
  slave_ = name;
  slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveHold_ < 0) return;
  termios raw{};
  ::tcgetattr(slaveHold_, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slaveHold_, TCSANOW, &raw);
  std::error_code ec;
  std::filesystem::create_directories(portsDir, ec);
  link_ = portsDir / ("COM" + std::to_string(port));
  std::filesystem::remove(link_, ec);
  std::filesystem::create_symlink(slave_, link_, ec);
  if (ec) return;
  ok_ = true;
  thread_ = std::thread([this] { run(); });
}

FakeModule::~FakeModule() {
  finish();
  std::error_code ec;
  if (!link_.empty()) std::filesystem::remove(link_, ec);
  if (slaveHold_ >= 0) ::close(slaveHold_);
  if (master_ >= 0) ::close(master_);
}

ModuleLog FakeModule::finish() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  return log_;
}

void FakeModule::run() {
  ModuleSide module(master_, script_, log_);
  std::array<std::uint8_t, ReadChunkBytes> buffer{};
  int quietPolls = 0;
  while (quietPolls < QuietPollsToEnd) {
    pollfd p{master_, POLLIN, 0};
    const int r = ::poll(&p, 1, PollMs);
    const ssize_t n = r > 0 ? ::read(master_, buffer.data(), buffer.size()) : 0;
    if (n > 0) {
      module.take(std::span(buffer.data(), static_cast<std::size_t>(n)));
      quietPolls = 0;
    } else {
      module.quiet();
      if (stop_.load()) ++quietPolls;
    }
  }
}

}  // namespace quenby::brom::testing
