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
// the result for it, and the result when no answer comes. Any other NAK, and any frame that is
// no answer to the command, gives DownloadFailed.
struct CommandStep {
  std::uint8_t type;
  std::uint8_t refusalReason;
  std::uint32_t refusedResult;
  std::uint32_t silentResult;
  // The frame that answers the command (ACK, or HELLO_ACK for HELLO).
  std::uint8_t answerType = frame::Ack;
};

constexpr CommandStep Hello{frame::Hello, NoOwnReason, result::DownloadFailed,
                            result::BootRomSilent, frame::HelloAck};
constexpr CommandStep SetBaud{frame::SetBaud, nak::SpeedRefused, result::SpeedChangeFailed,
                              result::SpeedChangeFailed};
constexpr CommandStep DaBegin{frame::DaBegin, nak::ChipRejected, result::ChipRejected,
                              result::AgentDownloadFailed};
constexpr CommandStep DaEnd{frame::DaEnd, nak::VerifyMismatch, result::AgentDownloadFailed,
                            result::AgentDownloadFailed};
constexpr CommandStep RegionBegin{frame::RegionBegin, nak::NoRoom, result::RegionRefused,
                                  result::RegionRefused};
constexpr CommandStep Verify{frame::Verify, nak::VerifyMismatch, result::ReadbackFailed,
                             result::ReadbackFailed};
constexpr CommandStep Finish{frame::Finish, NoOwnReason, result::DownloadFailed,
                             result::ShutdownFailed};

// An ACK or NAK of a DATA block: an answer to a block sent again that the module had already.
bool isBlockAnswer(const FrameView& f) {
  return (f.type == frame::Ack && f.payload.size() == AckPayload &&
          getU16(f.payload.data()) != CommandSequence) ||
         (f.type == frame::Nak && f.payload.size() == NakPayload &&
          getU16(f.payload.data()) != CommandSequence);
}

class Session {
 public:
  Session(SessionLink& link, const DownloadPlan& plan, DownloadReport& report)
      : link_(link), plan_(plan), report_(report) {}

  std::uint32_t run() {
    if (auto r = syncAndHello(); r != result::Success) return r;
    if (auto r = changeSpeed(); r != result::Success) return r;
    if (auto r = sendAgent(); r != result::Success) return r;
    if (auto r = awaitAgent(); r != result::Success) return r;
    if (auto r = writeImage(); r != result::Success) return r;
    return command(Finish, {}, nullptr);
  }

 private:
  std::uint32_t syncAndHello();
  std::uint32_t changeSpeed();
  std::uint32_t sendAgent();
  std::uint32_t awaitAgent();
  std::uint32_t writeImage();
  std::uint32_t writeRegion(const Region& region, std::span<const std::uint8_t> bytes,
                            ProgressMeter& meter);
  // Sends the command and waits for its answer; answer (if given) receives the answer frame.
  std::uint32_t command(const CommandStep& step, std::span<const std::uint8_t> payload,
                        FrameView* answer);
  // The next frame that is not a late answer to a DATA block.
  Wait nextFrame(FrameView& f, Clock::time_point deadline);

  SessionLink& link_;
  const DownloadPlan& plan_;
  DownloadReport& report_;
};

Wait Session::nextFrame(FrameView& f, Clock::time_point deadline) {
  for (;;) {
    const Wait w = link_.readFrame(f, deadline);
    if (w != Wait::Got || !isBlockAnswer(f)) return w;
  }
}

std::uint32_t Session::command(const CommandStep& step, std::span<const std::uint8_t> payload,
                               FrameView* answer) {
  switch (link_.sendFrame(step.type, payload)) {
    case Wait::Got:
      break;
    case Wait::Stopped:
      return result::DownloadFailed;
    default:
      return step.silentResult;
  }
  // The answer's time runs from when the command has left the line.
  const auto deadline = std::max(Clock::now(), link_.lineFreeAt()) + ReplyLimit;
  FrameView f;
  switch (nextFrame(f, deadline)) {
    case Wait::Got:
      break;
    case Wait::Stopped:
      return result::DownloadFailed;
    default:
      return step.silentResult;
  }
  if (f.type == step.answerType &&
      (step.answerType != frame::Ack || f.payload.size() == AckPayload)) {
    if (answer) *answer = f;
    return result::Success;
  }
  if (f.type == frame::Nak && f.payload.size() == NakPayload && step.refusalReason != NoOwnReason &&
      f.payload[NakReasonOffset] == step.refusalReason)
    return step.refusedResult;
  return result::DownloadFailed;
}

std::uint32_t Session::syncAndHello() {
  switch (syncBootRom(link_)) {
    case SyncEnd::Synced:
      break;
    case SyncEnd::Silent:
      return result::BootRomSilent;
    case SyncEnd::Foreign:
      return result::UnknownBootRom;
    case SyncEnd::Stopped:
      return result::DownloadFailed;
  }
  const std::uint8_t version[] = {ProtocolVersion};
  FrameView helloAck;
  if (auto r = command(Hello, version, &helloAck); r != result::Success) return r;
  if (helloAck.payload.size() != HelloAckPayload) return result::DownloadFailed;
  report_.words[report_word::ModuleChip] = getU32(helloAck.payload.data());
  report_.words[report_word::BootRomVersion] =
      getU16(helloAck.payload.data() + HelloAckVersionOffset);
  return result::Success;
}

std::uint32_t Session::changeSpeed() {
  std::vector<std::uint8_t> payload;
  putU32(payload, static_cast<std::uint32_t>(plan_.baud));
  if (auto r = command(SetBaud, payload, nullptr); r != result::Success) return r;
  // The module has switched after its ACK; follow it, let the line settle, and sync again.
  if (!link_.serial().setBaud(plan_.baud)) return result::LineSettingsRefused;
  if (link_.pause(Clock::now() + SpeedSwitchPause) == Wait::Stopped) return result::DownloadFailed;
  link_.discardInput();
  switch (syncBootRom(link_)) {
    case SyncEnd::Synced:
      return result::Success;
    case SyncEnd::Stopped:
      return result::DownloadFailed;
    default:
      return result::SpeedChangeFailed;
  }
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

  const TransferEnd end = sendPayload(link_, agent.payload, meter);
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
  return command(DaEnd, {}, nullptr);
}

std::uint32_t Session::awaitAgent() {
  std::uint8_t alive = 0;
  switch (link_.readByte(alive, Clock::now() + AliveLimit)) {
    case Wait::Got:
      break;
    case Wait::Stopped:
      return result::DownloadFailed;
    default:
      return result::AgentSilent;
  }
  if (alive != AgentAlive) return result::AgentWrongAlive;

  FrameView info;
  switch (nextFrame(info, Clock::now() + FlashInfoLimit)) {
    case Wait::Got:
      break;
    case Wait::Stopped:
      return result::DownloadFailed;
    default:
      return result::AgentSilent;
  }
  if (info.type != frame::FlashInfo || info.payload.size() != FlashInfoPayload)
    return result::DownloadFailed;
  // A flash the agent does not know is no error: the image is still written.
  report_.words[report_word::FlashDevice] = getU32(info.payload.data());
  report_.words[report_word::FlashIdentified] = info.payload[FlashInfoIdentifiedOffset];
  return result::Success;
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

  if (sendPayload(link_, bytes, meter).kind != TransferEnd::Done) return result::DownloadFailed;
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
