#include "tools/modsim/boot_rom.h"

#include <algorithm>
#include <limits>

#include "tools/modsim/firmware_image.h"

namespace quenby::modsim {
namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();

// The download speeds SET_BAUD may name.
constexpr int kDownloadSpeeds[] = {921600, 460800, 230400, 115200, 57600, 38400, 19200, 14400, 9600, 4800};

// Payload sizes of the host's frames.
constexpr std::size_t kHelloSize = 1;
constexpr std::size_t kSetBaudSize = 4;
constexpr std::size_t kDaBeginSize = 12;
constexpr std::size_t kRegionBeginFixedSize = 13;  // address, length, CRC-32, name length
constexpr std::size_t kSequenceSize = 2;

bool isDownloadSpeed(std::uint32_t baud) {
  return std::find(std::begin(kDownloadSpeeds), std::end(kDownloadSpeeds), static_cast<std::int64_t>(baud)) !=
         std::end(kDownloadSpeeds);
}

}  // namespace

BootRom::BootRom(BootSettings settings, SimulatedFlash& flash) : settings_(std::move(settings)), flash_(flash) {}

std::string_view BootRom::receive(std::string_view bytes, int lineBaud, Millis now) {
  // Bytes that arrive while the boot ROM runs never reach the firmware, nor do those after a
  // session has ended in the middle of them (the firmware is still starting).
  std::size_t firmwareEnd = active() ? 0 : bytes.size();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(bytes[i]);
    if (stage_ != Stage::Firmware) {
      takeByte(byte, lineBaud, now);
    } else if (lineBaud == BootBaud && byte == SyncByte) {
      // The fixture powers the module while the host sends sync bytes at the boot speed; an
      // operator who is late leaves the firmware running a while longer.
      if (settings_.powerCycleAfterMs <= 0) {
        firmwareEnd = std::min(firmwareEnd, i);
        powerUp(now);
      } else if (!powerCycleAt_) {
        powerCycleAt_ = now + settings_.powerCycleAfterMs;
      }
    }
  }
  return bytes.substr(0, firmwareEnd);
}

void BootRom::powerUp(Millis now) {
  powerCycleAt_.reset();
  events_.push_back(BootEvent::powerUp());
  events_.push_back(BootEvent::switchSpeed(BootBaud));
  stage_ = settings_.answer ? Stage::Sync : Stage::Mute;
  uartBaud_ = BootBaud;
  lastByteAt_ = now;
  frames_.reset();
  transfer_ = {};
  regionsBegun_ = 0;
  firstRegion_.reset();
  blocksInSequence_ = 0;
  if (stage_ == Stage::Sync) send(std::string(1, static_cast<char>(settings_.syncAnswer)));
}

void BootRom::leave(std::optional<std::string> version) {
  events_.push_back(BootEvent::startFirmware(std::move(version)));
  stage_ = Stage::Firmware;
  frames_.reset();
}

void BootRom::takeByte(std::uint8_t byte, int lineBaud, Millis now) {
  if (frames_.inFrame() && now - lastByteAt_ >= FrameGapMs) frames_.reset();
  lastByteAt_ = now;
  if (stage_ == Stage::Mute) return;

  const bool understood = lineBaud <= 0 || lineBaud == uartBaud_;
  const bool outsideFrame = !frames_.inFrame();
  if (byte == SyncByte && lineBaud == BootBaud && outsideFrame && !(understood && answersSync())) {
    // A sync byte at the boot speed that is not part of the session: the module was restarted.
    powerUp(now);
    return;
  }
  // A UART at another speed than the host's makes nothing of its bytes; a Download Agent that
  // did not start hears nothing.
  if (!understood || stage_ == Stage::AgentDead) return;
  if (byte == SyncByte && outsideFrame && answersSync()) {
    send(std::string(1, static_cast<char>(settings_.syncAnswer)));
    return;
  }
  if (const std::optional<ReceivedFrame> frame = frames_.feed(byte)) handleFrame(*frame);
}

void BootRom::advance(Millis now) {
  if (powerCycleAt_ && now >= *powerCycleAt_) powerUp(now);
  if (!active()) return;
  if (now - lastByteAt_ >= BootSilenceMs)
    leave(std::nullopt);
  else if (frames_.inFrame() && now - lastByteAt_ >= FrameGapMs)
    frames_.reset();
}

Millis BootRom::nextDue() const {
  if (powerCycleAt_) return *powerCycleAt_;
  if (!active()) return kNever;
  return lastByteAt_ + (frames_.inFrame() ? FrameGapMs : BootSilenceMs);
}

std::vector<BootEvent> BootRom::takeEvents() {
  std::vector<BootEvent> events;
  events.swap(events_);
  return events;
}

void BootRom::send(std::string bytes) {
  if (!events_.empty() && events_.back().kind == BootEvent::Kind::Send)
    events_.back().bytes += bytes;
  else
    events_.push_back(BootEvent::send(std::move(bytes)));
}

void BootRom::handleFrame(const ReceivedFrame& frame) {
  const auto type = static_cast<FrameType>(frame.type);
  if (!frame.intact) {
    // Broken frames are dropped; only a block is answered, so that the host goes back.
    if (type == FrameType::Data && takesBlocks()) handleBlock(frame);
    return;
  }
  const bool inAgent = stage_ == Stage::Agent || stage_ == Stage::RegionData;
  switch (type) {
    case FrameType::Abort:
      leave(std::nullopt);
      return;
    case FrameType::Hello:
      if (stage_ == Stage::Sync) return onHello(frame.payload);
      break;
    case FrameType::SetBaud:
      if (stage_ == Stage::Hello) return onSetBaud(frame.payload);
      break;
    case FrameType::DaBegin:
      if (stage_ == Stage::SecondSync) return onDaBegin(frame.payload);
      break;
    case FrameType::Data:
      if (takesBlocks()) return handleBlock(frame);
      break;
    case FrameType::DaEnd:
      if (stage_ == Stage::AgentData) return onDaEnd();
      break;
    case FrameType::RegionBegin:
      if (inAgent) return onRegionBegin(frame.payload);
      break;
    case FrameType::Verify:
      if (stage_ == Stage::RegionData) return onVerify();
      break;
    case FrameType::Finish:
      if (inAgent) return onFinish();
      break;
    default:
      break;
  }
  nak(NakReason::NotExpected);
}

void BootRom::onHello(std::string_view payload) {
  // HELLO: protocol version u8
  if (payload.size() != kHelloSize) return nak(NakReason::BadCheck);
  if (static_cast<std::uint8_t>(payload[0]) != ProtocolVersion) return nak(NakReason::NotExpected);
  std::string answer;
  appendU32(answer, static_cast<std::uint32_t>(settings_.chipValue));
  appendU16(answer, BootRomVersion);
  send(encodeFrame(FrameType::HelloAck, answer));
  stage_ = Stage::Hello;
}

void BootRom::onSetBaud(std::string_view payload) {
  // SET_BAUD: baud rate u32
  if (payload.size() != kSetBaudSize) return nak(NakReason::BadCheck);
  const std::uint32_t baud = readU32(payload, 0);
  const bool refused = settings_.refuseAllSpeeds ||
                       std::find(settings_.refusedSpeeds.begin(), settings_.refusedSpeeds.end(),
                                 static_cast<std::int64_t>(baud)) != settings_.refusedSpeeds.end();
  if (!isDownloadSpeed(baud) || refused) return nak(NakReason::SpeedRefused);
  // The answer still goes at the old speed; the UART switches once it is out.
  ack();
  events_.push_back(BootEvent::switchSpeed(static_cast<int>(baud)));
  uartBaud_ = static_cast<int>(baud);
  stage_ = Stage::SecondSync;
}

void BootRom::onDaBegin(std::string_view payload) {
  // DA_BEGIN: chip value u32, payload length u32, payload CRC-32 u32
  if (payload.size() != kDaBeginSize) return nak(NakReason::BadCheck);
  if (readU32(payload, 0) != static_cast<std::uint32_t>(settings_.chipValue)) return nak(NakReason::ChipRejected);
  transfer_ = {};
  transfer_.length = readU32(payload, 4);
  transfer_.expectedCrc = readU32(payload, 8);
  ack();
  stage_ = Stage::AgentData;
}

void BootRom::onDaEnd() {
  if (transfer_.received != transfer_.length || transfer_.crc.value() != transfer_.expectedCrc)
    return nak(NakReason::VerifyMismatch);
  ack();
  // The boot ROM jumps to the Download Agent, which announces itself and its flash.
  if (!settings_.agentAlive) {
    stage_ = Stage::AgentDead;
    return;
  }
  send(std::string(1, static_cast<char>(settings_.aliveByte)));
  std::string info;
  appendU32(info, static_cast<std::uint32_t>(settings_.flashDevice));
  info.push_back(settings_.flashIdentified ? 1 : 0);
  send(encodeFrame(FrameType::FlashInfo, info));
  stage_ = Stage::Agent;
}

void BootRom::onRegionBegin(std::string_view payload) {
  // REGION_BEGIN: address u32, length u32, CRC-32 u32, name length u8, name
  if (payload.size() < kRegionBeginFixedSize ||
      payload.size() != kRegionBeginFixedSize + static_cast<std::uint8_t>(payload[kRegionBeginFixedSize - 1]))
    return nak(NakReason::BadCheck);
  const std::uint32_t address = readU32(payload, 0);
  const std::uint32_t length = readU32(payload, 4);
  if (!flash_.contains(address, length)) return nak(NakReason::NoRoom);
  transfer_ = {};
  transfer_.address = address;
  transfer_.length = length;
  transfer_.expectedCrc = readU32(payload, 8);
  ++regionsBegun_;
  if (!firstRegion_) firstRegion_ = Region{address, length};
  ack();
  stage_ = Stage::RegionData;
}

void BootRom::onVerify() {
  // The Download Agent reads the region back from the flash.
  const bool matches = !settings_.flashVerifyError &&
                       flash_.crc32(transfer_.address, transfer_.length) == transfer_.expectedCrc;
  if (matches)
    ack();
  else
    nak(NakReason::VerifyMismatch);
  stage_ = Stage::Agent;
}

void BootRom::onFinish() {
  ack();
  std::optional<std::string> version;
  if (firstRegion_) version = firmwareVersion(flash_, firstRegion_->address, firstRegion_->length);
  leave(std::move(version));
}

void BootRom::handleBlock(const ReceivedFrame& frame) {
  // DATA: sequence u16, then 1 to 4096 bytes
  const std::string_view payload = frame.payload;
  const bool wellFormed =
      frame.intact && payload.size() > kSequenceSize && payload.size() <= kSequenceSize + MaxBlockData;
  // Go-back-N: every block but the expected one is dropped, and answered with the number of the
  // block expected, so that the host goes back to it.
  if (!wellFormed) return nakBlock(NakReason::BadCheck);
  const std::uint16_t sequence = readU16(payload, 0);
  if (sequence != transfer_.expected) return nakBlock(NakReason::OutOfSequence);
  acceptBlock(sequence, payload.substr(kSequenceSize));
}

bool BootRom::blockCorrupted() {
  ++blocksInSequence_;
  const auto first = static_cast<std::uint64_t>(settings_.corruptFirstBlocks);
  const auto every = static_cast<std::uint64_t>(settings_.corruptEvery);
  return blocksInSequence_ <= first || (every > 0 && blocksInSequence_ % every == 0);
}

void BootRom::acceptBlock(std::uint16_t sequence, std::string_view data) {
  if (blockCorrupted()) return nakBlock(NakReason::BadCheck);
  if (transfer_.received + data.size() > transfer_.length) return nakBlock(NakReason::NotExpected);
  if (stage_ == Stage::RegionData) {
    if (settings_.flashWriteError && regionsBegun_ == 1 && sequence == 0) return nakBlock(NakReason::FlashWriteError);
    // The region was checked against the flash at REGION_BEGIN, so the block fits.
    flash_.write(static_cast<std::uint32_t>(transfer_.address + transfer_.received), data);
  }
  transfer_.crc.update(data);
  transfer_.received += data.size();
  send(ackFrame(sequence));
  ++transfer_.expected;
}

void BootRom::nakBlock(NakReason reason) { send(nakFrame(transfer_.expected, reason)); }

}  // namespace quenby::modsim
