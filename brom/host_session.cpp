#include "brom/host_session.h"

#include <algorithm>
#include <vector>

#include "brom/block_transfer.h"
#include "brom/boot_sync.h"
#include "brom/byte_order.h"
#include "brom/crc.h"
#include "brom/download_results.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = SessionLink::Clock;
using Wait = SessionLink::Wait;

constexpr std::uint8_t NoOwnReason = 0;

// How a command ends the download when the module does not go along: its own NAK reason and
// the result for it, and the result when no answer comes after every try. Any other NAK, and any
// frame with the command's tag that is no answer to it, gives DownloadFailed.
struct CommandStep {
  std::uint8_t type;
  std::uint8_t refusalReason;
  std::uint32_t refusedResult;
  std::uint32_t silentResult;
  // The frame that answers the command (ACK, or HELLO_ACK for HELLO).
  std::uint8_t answerType = frame::Ack;
  int tries = MaxCommandTries;
};

// HELLO is tried twice and then the sync goes on: the 0x5A may have been line noise.
constexpr int HelloTriesPerSync = 2;

constexpr CommandStep Hello{frame::Hello, nak::VersionUnknown, result::BootRomSilent,
                            result::BootRomSilent, frame::HelloAck, HelloTriesPerSync};
constexpr CommandStep SetBaud{frame::SetBaud, nak::SpeedRefused, result::SpeedChangeFailed,
                              result::SpeedChangeFailed, frame::Ack, 1};
constexpr CommandStep DaBegin{frame::DaBegin, nak::ChipRejected, result::ChipRejected,
                              result::AgentDownloadFailed};
constexpr CommandStep DaEnd{frame::DaEnd, nak::VerifyMismatch, result::AgentDownloadFailed,
                            result::AgentDownloadFailed, frame::Ack, 1};
constexpr CommandStep RegionBegin{frame::RegionBegin, nak::NoRoom, result::RegionRefused,
                                  result::RegionRefused};
constexpr CommandStep Verify{frame::Verify, nak::VerifyMismatch, result::ReadbackFailed,
                             result::ReadbackFailed};
constexpr CommandStep Finish{frame::Finish, NoOwnReason, result::DownloadFailed,
                             result::ShutdownFailed};

// How one sending of a command ended.
enum class Reply { Answered, Refused, Silent, Rejected, Stopped };

class Session {
 public:
  Session(SessionLink& link, const DownloadPlan& plan, DownloadReport& report)
      : link_(link), plan_(plan), report_(report), checked_(plan.baud > BootBaud) {}

  std::uint32_t run() {
    if (auto r = syncAndHello(); r != result::Success) return r;
    if (auto r = changeSpeed(); r != result::Success) return r;
    if (auto r = sendAgent(); r != result::Success) return r;
    if (auto r = startAgent(); r != result::Success) return r;
    if (auto r = writeImage(); r != result::Success) return r;
    return command(Finish, {}, nullptr);
  }

 private:
  std::uint32_t syncAndHello();
  std::uint32_t changeSpeed();
  std::uint32_t sendAgent();
  std::uint32_t startAgent();
  std::uint32_t writeImage();
  std::uint32_t writeRegion(const Region& region, std::span<const std::uint8_t> bytes,
                            ProgressMeter& meter);
  // Sends the command with a new tag, again (same tag) while no answer comes, up to the step's
  // tries; answer (if given) receives the answer frame.
  std::uint32_t command(const CommandStep& step, std::span<const std::uint8_t> payload,
                        FrameView* answer);
  std::uint32_t resultOf(const CommandStep& step, Reply reply) const;
  // One sending of a command with `tag` and the wait for its answer.
  Reply sendOnce(const CommandStep& step, std::uint8_t tag, std::span<const std::uint8_t> payload,
                 FrameView* answer);
  // The answer to the command with `tag`, holding on while the module says BUSY.
  Reply awaitAnswer(const CommandStep& step, std::uint8_t tag, FrameView* answer);
  void tellStation(std::uint32_t notice) const;

  SessionLink& link_;
  const DownloadPlan& plan_;
  DownloadReport& report_;
  // Blocks go with checks of their own (CHECKED_DATA) from the start above the boot speed, so that
  // even the first damaged frame costs one block again rather than 4 KiB, for 0.8 % of the line;
  // at the boot speed and below, where a download takes eight times as long, DATA frames keep the
  // framing at 0.27 % until the first block is lost.
  bool checked_;
};

void Session::tellStation(std::uint32_t notice) const {
  const PhaseCallbacks& c = plan_.agentPhase;
  if (c.onProgress) c.onProgress(0, notice, DownloadNoticeTotal, c.progressUser);
}

Reply Session::awaitAnswer(const CommandStep& step, std::uint8_t tag, FrameView* answer) {
  // The answer's time runs from when the command has left the line.
  const auto sentAt = std::max(Clock::now(), link_.lineFreeAt());
  const auto busyEnd = sentAt + BusyLimit;
  auto deadline = sentAt + ReplyLimit;
  FrameView f;
  for (;;) {
    switch (link_.readFrame(f, deadline)) {
      case Wait::Got:
        break;
      case Wait::Stopped:
        return Reply::Stopped;
      default:
        return Reply::Silent;
    }
    if (f.tag != tag) {
      // A module that could not read a frame says so at once: the command is sent again.
      if (f.tag == NoTag && f.type == frame::Nak && f.payload.size() == NakPayload &&
          f.payload[NakReasonOffset] == nak::BadCheck && Clock::now() >= link_.lineFreeAt())
        return Reply::Silent;
      continue;  // late answers to DATA blocks or to an earlier sending
    }
    // DA_END's ACK lost and the Download Agent's FLASH_INFO behind it: sent again, all come again.
    if (f.type == frame::FlashInfo && step.type == frame::DaEnd) continue;
    if (f.type == frame::Busy) {
      deadline = std::min(busyEnd, Clock::now() + ReplyLimit);
      continue;
    }
    if (f.type == step.answerType &&
        (step.answerType != frame::Ack || f.payload.size() == AckPayload)) {
      if (answer) *answer = f;
      return Reply::Answered;
    }
    if (f.type == frame::Nak && f.payload.size() == NakPayload) {
      const std::uint8_t reason = f.payload[NakReasonOffset];
      if (step.refusalReason != NoOwnReason && reason == step.refusalReason) return Reply::Refused;
      if (reason == nak::BadCheck) return Reply::Silent;  // it could not use the payload
    }
    return Reply::Rejected;
  }
}

Reply Session::sendOnce(const CommandStep& step, std::uint8_t tag,
                                 std::span<const std::uint8_t> payload, FrameView* answer) {
  switch (link_.sendFrame(step.type, tag, payload)) {
    case Wait::Got:
      return awaitAnswer(step, tag, answer);
    case Wait::Stopped:
      return Reply::Stopped;
    default:
      return Reply::Silent;
  }
}

std::uint32_t Session::resultOf(const CommandStep& step, Reply reply) const {
  switch (reply) {
    case Reply::Answered:
      return result::Success;
    case Reply::Refused:
      return step.refusedResult;
    case Reply::Silent:
      return step.silentResult;
    case Reply::Rejected:
    case Reply::Stopped:
      break;
  }
  return result::DownloadFailed;
}

std::uint32_t Session::command(const CommandStep& step, std::span<const std::uint8_t> payload,
                               FrameView* answer) {
  const std::uint8_t tag = link_.newTag();
  Reply reply = Reply::Silent;
  for (int t = 0; t < step.tries && reply == Reply::Silent; ++t)
    reply = sendOnce(step, tag, payload, answer);
  return resultOf(step, reply);
}

std::uint32_t Session::syncAndHello() {
  SyncWindow window;
  window.end = Clock::now() + SyncLimit;
  window.ending = [this] { tellStation(PowerUpWindowEnding); };
  const std::uint8_t version[] = {ProtocolVersion};
  const std::uint8_t tag = link_.newTag();
  FrameView helloAck;
  for (;;) {
    switch (syncBootRom(link_, window)) {
      case SyncEnd::Synced:
        break;
      case SyncEnd::Silent:
        return result::BootRomSilent;
      case SyncEnd::Foreign:
        return result::UnknownBootRom;
      case SyncEnd::Stopped:
        return result::DownloadFailed;
    }
    // A boot ROM that has answered HELLO answers the same tag again with the same HELLO_ACK.
    Reply reply = Reply::Silent;
    for (int t = 0; t < Hello.tries && reply == Reply::Silent; ++t)
      reply = sendOnce(Hello, tag, version, &helloAck);
    if (reply == Reply::Silent) continue;  // that 0x5A was noise, or HELLO_ACK was lost: sync on
    if (reply != Reply::Answered) return resultOf(Hello, reply);
    break;
  }
  if (helloAck.payload.size() != HelloAckPayload) return result::DownloadFailed;
  report_.words[report_word::ModuleChip] = getU32(helloAck.payload.data());
  report_.words[report_word::BootRomVersion] =
      getU16(helloAck.payload.data() + HelloAckVersionOffset);
  return result::Success;
}

std::uint32_t Session::changeSpeed() {
  std::vector<std::uint8_t> payload;
  putU32(payload, static_cast<std::uint32_t>(plan_.baud));
  const std::uint8_t tag = link_.newTag();
  const bool sameSpeed = plan_.baud == BootBaud;
  for (int t = 0; t < MaxCommandTries; ++t) {
    const Reply reply = sendOnce(SetBaud, tag, payload, nullptr);
    if (reply != Reply::Answered && reply != Reply::Silent) return resultOf(SetBaud, reply);
    // The module switches once its ACK is out: follow it, let the line settle, and sync again.
    // Without the ACK it may have switched all the same (the ACK was lost): a short sync at the
    // new speed tells. A module that hears no sync byte there within ModuleSpeedFallback (the
    // host read its ACK late, or the sync bytes were lost) has gone back to the boot speed and
    // forgotten SET_BAUD: it is asked again there, as after a lost ACK.
    if (reply == Reply::Silent && sameSpeed) continue;
    if (!link_.serial().setBaud(plan_.baud)) return result::LineSettingsRefused;
    if (link_.pause(Clock::now() + SpeedSwitchPause) == Wait::Stopped)
      return result::DownloadFailed;
    link_.discardInput();
    SyncWindow window;
    window.end = Clock::now() + (reply == Reply::Answered ? ModuleSpeedFallback : SpeedProbeLimit);
    switch (syncBootRom(link_, window)) {
      case SyncEnd::Synced:
        return result::Success;
      case SyncEnd::Stopped:
        return result::DownloadFailed;
      default:
        break;
    }
    if (!link_.serial().setBaud(BootBaud)) return result::LineSettingsRefused;
    if (link_.pause(Clock::now() + SpeedFallbackWait) == Wait::Stopped)
      return result::DownloadFailed;
    link_.discardInput();
  }
  return result::SpeedChangeFailed;
}

std::uint32_t Session::sendAgent() {
  const DaFile& agent = *plan_.agent;
  ProgressMeter meter(plan_.agentPhase);
  meter.begin(agent.payload.size());

  std::vector<std::uint8_t> begin;
  putU32(begin, plan_.chipValue);
  putU32(begin, static_cast<std::uint32_t>(agent.payload.size()));
  putU32(begin, agent.payloadCrc);
  if (auto r = command(DaBegin, begin, nullptr); r != result::Success) return r;

  const TransferEnd end = sendPayload(link_, agent.payload, meter, checked_);
  switch (end.kind) {
    case TransferEnd::Done:
      break;
    case TransferEnd::Refused:
      return end.nakReason == nak::NotExpected ? result::DownloadFailed
                                               : result::AgentDownloadFailed;
    case TransferEnd::Unexpected:
    case TransferEnd::Stopped:
      return result::DownloadFailed;
    case TransferEnd::TooManyFailures:
    case TransferEnd::LineFailed:
      return result::AgentDownloadFailed;
  }
  return result::Success;
}

std::uint32_t Session::startAgent() {
  // DA_END's answer is its ACK, the Download Agent's alive byte and FLASH_INFO; a module asked
  // again (same tag) sends all three again, so any of them lost on the line costs one more try.
  const std::uint8_t tag = link_.newTag();
  bool acknowledged = false;
  std::uint32_t failure = result::AgentDownloadFailed;
  for (int t = 0; t < MaxCommandTries; ++t) {
    const Reply reply = sendOnce(DaEnd, tag, {}, nullptr);
    if (reply == Reply::Silent) {
      if (!acknowledged) failure = result::AgentDownloadFailed;
      continue;
    }
    if (reply != Reply::Answered) return resultOf(DaEnd, reply);
    acknowledged = true;
    std::uint8_t alive = 0;
    switch (link_.readByte(alive, Clock::now() + AliveLimit)) {
      case Wait::Got:
        break;
      case Wait::Stopped:
        return result::DownloadFailed;
      default:
        failure = result::AgentSilent;
        continue;
    }
    if (alive != AgentAlive) {
      failure = result::AgentWrongAlive;
      continue;
    }
    FrameView info;
    Wait w = Wait::Got;
    do {
      w = link_.readFrame(info, Clock::now() + FlashInfoLimit);
    } while (w == Wait::Got && (info.tag != tag || info.type == frame::Ack));
    if (w == Wait::Stopped) return result::DownloadFailed;
    if (w != Wait::Got) {
      failure = result::AgentSilent;
      continue;
    }
    if (info.type != frame::FlashInfo || info.payload.size() != FlashInfoPayload)
      return result::DownloadFailed;
    // A flash the agent does not know is no error: the image is still written.
    report_.words[report_word::FlashDevice] = getU32(info.payload.data());
    report_.words[report_word::FlashIdentified] = info.payload[FlashInfoIdentifiedOffset];
    return result::Success;
  }
  return failure;
}

std::uint32_t Session::writeImage() {
  const Layout& layout = *plan_.layout;
  const std::span<const std::uint8_t> image(*plan_.image);
  ProgressMeter meter(plan_.imagePhase);
  meter.begin(layout.totalBytes());

  std::size_t offset = 0;
  for (const Region& region : layout.regions) {
    // The download was refused unless the image covers every region (see the image check).
    if (offset + region.length > image.size()) return result::ImageHandleError;
    if (auto r = writeRegion(region, image.subspan(offset, region.length), meter);
        r != result::Success)
      return r;
    offset += region.length;
  }
  return result::Success;
}

std::uint32_t Session::writeRegion(const Region& region, std::span<const std::uint8_t> bytes,
                                   ProgressMeter& meter) {
  std::vector<std::uint8_t> begin;
  putU32(begin, region.address);
  putU32(begin, region.length);
  putU32(begin, crc32(bytes));
  putU8(begin, static_cast<std::uint8_t>(region.name.size()));
  begin.insert(begin.end(), region.name.begin(), region.name.end());
  if (auto r = command(RegionBegin, begin, nullptr); r != result::Success) return r;

  if (sendPayload(link_, bytes, meter, checked_).kind != TransferEnd::Done)
    return result::DownloadFailed;
  if (auto r = command(Verify, {}, nullptr); r != result::Success) return r;

  ++report_.words[report_word::RegionsWritten];
  report_.words[report_word::ImageBytesWritten] += region.length;
  return result::Success;
}

}  // namespace

std::uint32_t runDownloadSession(SessionLink& link, const DownloadPlan& plan,
                                 DownloadReport& report) {
  const std::uint32_t r = Session(link, plan, report).run();
  if (link.stopped()) {
    link.abortSession();
    return result::DownloadFailed;
  }
  return r;
}

}  // namespace quenby::brom
