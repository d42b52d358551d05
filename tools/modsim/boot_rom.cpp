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

BootRom::BootRom(BootSettings settings, SimulatedFlash& flash)
    : settings_(std::move(settings)), flash_(flash), writer_(flash, settings_) {}

std::string_view BootRom::receive(std::string_view bytes, int lineBaud, Millis now) {
  now_ = now;
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
        powerUp(now, true);
      } else if (!powerCycleAt_) {
        powerCycleAt_ = now + settings_.powerCycleAfterMs;
      }
    }
  }
  return bytes.substr(0, firmwareEnd);
}

void BootRom::powerUp(Millis now, bool bySyncByte) {
  powerCycleAt_.reset();
  events_.push_back(BootEvent::powerUp());
  events_.push_back(BootEvent::switchSpeed(BootBaud));
  stage_ = settings_.answer ? Stage::Sync : Stage::Mute;
  uartBaud_ = BootBaud;
  lastHeardAt_ = now;
  frames_.reset();
  transfer_ = {};
  writer_.newSession();
  lastTag_ = NoTag;
  lastAnswer_.clear();
  regionsBegun_ = 0;
  firstRegion_.reset();
  blocksInSequence_ = 0;
  // The sync byte that came with the power-up is answered like the ones after it.
  if (bySyncByte && stage_ == Stage::Sync) send(std::string(1, static_cast<char>(settings_.syncAnswer)));
}

void BootRom::leave(std::optional<std::string> version) {
  events_.push_back(BootEvent::startFirmware(std::move(version)));
  stage_ = Stage::Firmware;
  frames_.reset();
  transfer_ = {};
}

void BootRom::takeByte(std::uint8_t byte, int lineBaud, Millis now) {
  if (stage_ == Stage::Mute) {
    lastHeardAt_ = now;  // a mute boot ROM leaves once the host has been quiet
    return;
  }
  // A UART at another speed than the host's makes nothing of its bytes; a Download Agent that
  // did not start hears nothing.
  const bool understood = lineBaud <= 0 || lineBaud == uartBaud_;
  if (!understood || stage_ == Stage::AgentDead) return;
  while (std::optional<Received> r = frames_.next(now)) takeReceived(*r, now);
  frames_.push(byte, now);
  while (std::optional<Received> r = frames_.next(now)) takeReceived(*r, now);
}

void BootRom::takeReceived(const Received& r, Millis now) {
  switch (r.kind) {
    case Received::Kind::Loose:
      // Only a sync byte means anything outside a frame; the rest is noise.
      if (r.byte == SyncByte && answersSync() && stage_ != Stage::Firmware) {
        send(std::string(1, static_cast<char>(settings_.syncAnswer)));
        lastHeardAt_ = now;
        if (stage_ == Stage::SecondSync) syncAtNewSpeed_ = true;
      }
      return;
    case Received::Kind::Damaged:
      // Blocks that hold by their own checks are taken; otherwise its type and tag cannot be
      // trusted: say that a frame was lost, and which block comes next in order when blocks are
      // coming; the host sends again what it misses.
      if (salvage(r)) return;
      send(nakFrame(NoTag, nextNeeded(), NakReason::BadCheck));
      return;
    case Received::Kind::Frame:
      lastHeardAt_ = now;
      handleFrame(r, now);
      return;
  }
}

void BootRom::advance(Millis now) {
  now_ = now;
  if (powerCycleAt_ && now >= *powerCycleAt_) powerUp(now, false);
  if (!active()) return;
  while (std::optional<Received> r = frames_.next(now)) takeReceived(*r, now);
  if (!active()) return;
  writer_.advance(nowUs());
  if (takesBlocks()) moveOn();
  if (stage_ == Stage::Verifying) {
    // The region is read back as it is programmed; VERIFY waits for what is left.
    if (verifyReadyAt_ < 0 && writer_.idle()) verifyReadyAt_ = now;
    if (verifyReadyAt_ >= 0 && now >= verifyReadyAt_) finishVerify();
  }
  if (stage_ == Stage::Finishing && now >= finishAt_) return leave(std::move(finishVersion_));
  if (stage_ == Stage::SecondSync && !syncAtNewSpeed_ && now - speedSwitchAt_ >= SpeedFallbackMs) {
    // SET_BAUD's ACK was lost and the host still speaks at the old speed: go back to it, and
    // take the host's SET_BAUD as new when it comes again.
    events_.push_back(BootEvent::switchSpeed(BootBaud));
    uartBaud_ = BootBaud;
    stage_ = Stage::Hello;
    lastTag_ = NoTag;
  }
  // The host waits: tell it the module is at work.
  const bool keepsWaiting = stage_ == Stage::Verifying || (takesBlocks() && !transfer_.unacked.empty());
  if (keepsWaiting && now >= nextBusyAt_) {
    if (stage_ == Stage::Verifying)
      send(busyFrame(lastTag_, NoSequence));
    else
      send(busyFrame(NoTag, static_cast<std::uint16_t>(transfer_.unacked.begin()->first)));
    nextBusyAt_ = now + BusyIntervalMs;
  }
  const bool working = !writer_.idle() || stage_ == Stage::Verifying || stage_ == Stage::Finishing;
  if (working) lastHeardAt_ = now;
  if (now - lastHeardAt_ >= BootSilenceMs) leave(std::nullopt);
}

Millis BootRom::nextDue() const {
  if (powerCycleAt_) return *powerCycleAt_;
  if (!active()) return kNever;
  Millis due = lastHeardAt_ + BootSilenceMs;
  if (const auto expires = frames_.expiresAt()) due = std::min(due, *expires);
  if (const auto flash = writer_.nextDueUs()) due = std::min(due, (*flash + 999) / 1000);
  if (stage_ == Stage::Verifying) due = std::min(due, verifyReadyAt_ >= 0 ? verifyReadyAt_ : nextBusyAt_);
  if (stage_ == Stage::Verifying || (takesBlocks() && !transfer_.unacked.empty())) due = std::min(due, nextBusyAt_);
  if (stage_ == Stage::Finishing) due = std::min(due, finishAt_);
  if (stage_ == Stage::SecondSync && !syncAtNewSpeed_) due = std::min(due, speedSwitchAt_ + SpeedFallbackMs);
  return due;
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

void BootRom::answer(std::uint8_t tag, FrameType type, std::string bytes) {
  lastTag_ = tag;
  lastType_ = type;
  lastAnswer_ = bytes;
  send(std::move(bytes));
}

void BootRom::handleFrame(const Received& frame, Millis now) {
  const auto type = static_cast<FrameType>(frame.type);
  if (type == FrameType::Abort) return leave(std::nullopt);
  if (type == FrameType::Data || type == FrameType::CheckedData) {
    if (takesBlocks()) return handleBlock(frame);
    return send(nakFrame(NoTag, NoSequence, NakReason::NotExpected));
  }
  // A command sent again because its answer was lost: the same answer, the command not applied
  // a second time. One still at work is answered BUSY.
  if (frame.tag != NoTag && frame.tag == lastTag_ && type == lastType_) {
    if (stage_ == Stage::Verifying) return send(busyFrame(frame.tag, NoSequence));
    return send(lastAnswer_);
  }
  const std::string_view payload = frame.payload;
  const std::uint8_t tag = frame.tag;
  switch (type) {
    case FrameType::Hello:
      if (stage_ == Stage::Sync) return onHello(tag, payload);
      break;
    case FrameType::SetBaud:
      if (stage_ == Stage::Hello) return onSetBaud(tag, payload, now);
      break;
    case FrameType::DaBegin:
      if (stage_ == Stage::SecondSync) return onDaBegin(tag, payload);
      break;
    case FrameType::DaEnd:
      if (stage_ == Stage::AgentData) return onDaEnd(tag);
      break;
    case FrameType::RegionBegin:
      if (stage_ == Stage::Agent) return onRegionBegin(tag, payload);
      break;
    case FrameType::Verify:
      if (stage_ == Stage::RegionData) return onVerify(tag, now);
      break;
    case FrameType::Finish:
      if (stage_ == Stage::Agent) return onFinish(tag, now);
      break;
    default:
      break;
  }
  nak(tag, type, NakReason::NotExpected);
}

void BootRom::onHello(std::uint8_t tag, std::string_view payload) {
  // HELLO: protocol version u8
  if (payload.size() != kHelloSize) return nak(tag, FrameType::Hello, NakReason::BadCheck);
  if (static_cast<std::uint8_t>(payload[0]) != ProtocolVersion)
    return nak(tag, FrameType::Hello, NakReason::VersionUnknown);
  std::string reply;
  appendU32(reply, static_cast<std::uint32_t>(settings_.chipValue));
  appendU16(reply, BootRomVersion);
  answer(tag, FrameType::Hello, encodeFrame(FrameType::HelloAck, tag, reply));
  stage_ = Stage::Hello;
}

void BootRom::onSetBaud(std::uint8_t tag, std::string_view payload, Millis now) {
  // SET_BAUD: baud rate u32
  if (payload.size() != kSetBaudSize) return nak(tag, FrameType::SetBaud, NakReason::BadCheck);
  const std::uint32_t baud = readU32(payload, 0);
  const bool refused = settings_.refuseAllSpeeds ||
                       std::find(settings_.refusedSpeeds.begin(), settings_.refusedSpeeds.end(),
                                 static_cast<std::int64_t>(baud)) != settings_.refusedSpeeds.end();
  if (!isDownloadSpeed(baud) || refused) return nak(tag, FrameType::SetBaud, NakReason::SpeedRefused);
  // The answer still goes at the old speed; the UART switches once it is out.
  ack(tag, FrameType::SetBaud);
  events_.push_back(BootEvent::switchSpeed(static_cast<int>(baud)));
  uartBaud_ = static_cast<int>(baud);
  stage_ = Stage::SecondSync;
  speedSwitchAt_ = now;
  syncAtNewSpeed_ = false;
}

void BootRom::onDaBegin(std::uint8_t tag, std::string_view payload) {
  // DA_BEGIN: chip value u32, payload length u32, payload CRC-32 u32
  if (payload.size() != kDaBeginSize) return nak(tag, FrameType::DaBegin, NakReason::BadCheck);
  if (readU32(payload, 0) != static_cast<std::uint32_t>(settings_.chipValue))
    return nak(tag, FrameType::DaBegin, NakReason::ChipRejected);
  syncAtNewSpeed_ = true;
  transfer_ = {};
  transfer_.length = readU32(payload, 4);
  transfer_.expectedCrc = readU32(payload, 8);
  transfer_.blocks = static_cast<std::uint32_t>((transfer_.length + MaxBlockData - 1) / MaxBlockData);
  ack(tag, FrameType::DaBegin);
  stage_ = Stage::AgentData;
}

void BootRom::onDaEnd(std::uint8_t tag) {
  if (transfer_.received != transfer_.length || transfer_.crc.value() != transfer_.expectedCrc)
    return nak(tag, FrameType::DaEnd, NakReason::VerifyMismatch);
  // The boot ROM jumps to the Download Agent, which announces itself and its flash. A repeated
  // DA_END gets all of it again.
  if (!settings_.agentAlive) {
    ack(tag, FrameType::DaEnd);
    stage_ = Stage::AgentDead;
    return;
  }
  std::string reply = ackFrame(tag, NoSequence);
  reply.push_back(static_cast<char>(settings_.aliveByte));
  std::string info;
  appendU32(info, static_cast<std::uint32_t>(settings_.flashDevice));
  info.push_back(settings_.flashIdentified ? 1 : 0);
  reply += encodeFrame(FrameType::FlashInfo, tag, info);
  answer(tag, FrameType::DaEnd, std::move(reply));
  stage_ = Stage::Agent;
}

void BootRom::onRegionBegin(std::uint8_t tag, std::string_view payload) {
  // REGION_BEGIN: address u32, length u32, CRC-32 u32, name length u8, name
  if (payload.size() < kRegionBeginFixedSize ||
      payload.size() != kRegionBeginFixedSize + static_cast<std::uint8_t>(payload[kRegionBeginFixedSize - 1]))
    return nak(tag, FrameType::RegionBegin, NakReason::BadCheck);
  const std::uint32_t address = readU32(payload, 0);
  const std::uint32_t length = readU32(payload, 4);
  if (!flash_.contains(address, length)) return nak(tag, FrameType::RegionBegin, NakReason::NoRoom);
  transfer_ = {};
  transfer_.address = address;
  transfer_.length = length;
  transfer_.expectedCrc = readU32(payload, 8);
  transfer_.blocks = static_cast<std::uint32_t>((length + MaxBlockData - 1) / MaxBlockData);
  ++regionsBegun_;
  if (!firstRegion_) firstRegion_ = Region{address, length};
  // The Download Agent answers at once and erases ahead while the blocks come.
  writer_.beginRegion(address, length);
  writer_.advance(nowUs());
  ack(tag, FrameType::RegionBegin);
  stage_ = Stage::RegionData;
}

void BootRom::onVerify(std::uint8_t tag, Millis now) {
  // The answer waits until every block is in the flash and the region has been read back.
  lastTag_ = tag;
  lastType_ = FrameType::Verify;
  lastAnswer_.clear();
  stage_ = Stage::Verifying;
  verifyReadyAt_ = -1;
  nextBusyAt_ = now + BusyIntervalMs;
  advance(now);
}

void BootRom::finishVerify() {
  const bool matches = !settings_.flashVerifyError && transfer_.received == transfer_.length &&
                       flash_.crc32(transfer_.address, transfer_.length) == transfer_.expectedCrc;
  stage_ = Stage::Agent;
  lastHeardAt_ = now_;  // the idle time runs from the end of the flash work and its answer
  if (matches)
    ack(lastTag_, FrameType::Verify);
  else
    nak(lastTag_, FrameType::Verify, NakReason::VerifyMismatch);
}

void BootRom::onFinish(std::uint8_t tag, Millis now) {
  ack(tag, FrameType::Finish);
  finishVersion_.reset();
  if (firstRegion_) finishVersion_ = firmwareVersion(flash_, firstRegion_->address, firstRegion_->length);
  stage_ = Stage::Finishing;
  finishAt_ = now + FinishLingerMs;
}

std::optional<std::vector<BootRom::Piece>> BootRom::cutBlocks(std::string_view payload, bool checked) const {
  const std::size_t checkSize = checked ? BlockCheckSize : 0;
  const Transfer& t = transfer_;
  if (payload.size() <= kSequenceSize) return std::nullopt;
  std::vector<Piece> pieces;
  std::size_t at = kSequenceSize;
  for (std::uint32_t n = readU16(payload, 0); at < payload.size(); ++n) {
    if (n >= t.blocks || pieces.size() == MaxFrameBlocks) return std::nullopt;
    const std::size_t size = std::min<std::uint64_t>(MaxBlockData, t.length - std::uint64_t{n} * MaxBlockData);
    if (payload.size() - at < size + checkSize) return std::nullopt;
    const std::string_view data = payload.substr(at, size);
    pieces.push_back({n, data, !checked || readU32(payload, at + size) == blockCheck(static_cast<std::uint16_t>(n), data)});
    at += size + checkSize;
  }
  return pieces;
}

void BootRom::handleBlock(const Received& frame) {
  // DATA: sequence u16 (the first block's number), then 1 to 8 blocks; CHECKED_DATA the same with
  // each block followed by its check. Only the payload's last block may be short.
  const std::string_view payload = frame.payload;
  const auto badFrame = [&] { send(nakFrame(NoTag, nextNeeded(), NakReason::BadCheck)); };
  if (payload.size() <= kSequenceSize) return badFrame();
  const std::uint16_t sequence = readU16(payload, 0);
  const std::optional<std::vector<Piece>> pieces =
      cutBlocks(payload, frame.type == static_cast<std::uint8_t>(FrameType::CheckedData));
  if (!pieces) return send(nakFrame(NoTag, sequence, NakReason::NotExpected));
  if (!std::all_of(pieces->begin(), pieces->end(), [](const Piece& p) { return p.good; })) return badFrame();
  Transfer& t = transfer_;
  if (std::all_of(pieces->begin(), pieces->end(), [&](const Piece& p) { return hasBlock(p.number); })) {
    // Blocks sent again whose ACK was lost: answered again, never written twice.
    if (t.unacked.count(sequence)) return send(busyFrame(NoTag, sequence));
    return send(blockAckFrame(sequence, nextNeeded()));
  }
  if (sequence >= t.nextInOrder + MaxHeldBlocks) return send(nakFrame(NoTag, sequence, NakReason::OutOfSequence));
  if (sequence == t.nextInOrder && blockCorrupted()) return badFrame();
  if (stage_ == Stage::RegionData && settings_.flashWriteError && regionsBegun_ == 1 && sequence == 0)
    return send(nakFrame(NoTag, sequence, NakReason::FlashWriteError));
  keep(sequence, *pieces, 0);
}

bool BootRom::salvage(const Received& frame) {
  if (!takesBlocks() || frame.type != static_cast<std::uint8_t>(FrameType::CheckedData)) return false;
  const std::optional<std::vector<Piece>> pieces = cutBlocks(frame.payload, true);
  if (!pieces) return false;
  // A block's check covers its number, so a good block is where the damaged header says it is.
  std::uint8_t kept = 0;
  for (std::size_t i = 0; i < pieces->size(); ++i) {
    const Piece& p = (*pieces)[i];
    if (p.good && p.number < transfer_.nextInOrder + MaxHeldBlocks) kept |= static_cast<std::uint8_t>(1u << i);
  }
  if (kept == 0) return false;
  frames_.dropDamaged();
  const auto sequence = static_cast<std::uint32_t>(readU16(frame.payload, 0));
  if (transfer_.unacked.count(sequence)) {
    send(busyFrame(NoTag, static_cast<std::uint16_t>(sequence)));
    return true;
  }
  keep(sequence, *pieces, kept);
  return true;
}

void BootRom::keep(std::uint32_t sequence, const std::vector<Piece>& pieces, std::uint8_t kept) {
  Transfer& t = transfer_;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const bool wanted = kept == 0 || (kept & (1u << i));
    if (wanted && !hasBlock(pieces[i].number)) t.held.emplace(pieces[i].number, std::string(pieces[i].data));
  }
  t.unacked.emplace(sequence, kept);
  moveOn();
  if (t.unacked.count(sequence)) send(busyFrame(NoTag, static_cast<std::uint16_t>(sequence)));
}

void BootRom::moveOn() {
  Transfer& t = transfer_;
  for (auto it = t.held.find(t.nextInOrder); it != t.held.end(); it = t.held.find(t.nextInOrder)) {
    t.crc.update(it->second);
    t.received += it->second.size();
    if (stage_ == Stage::RegionData) writer_.queue(std::move(it->second));
    t.held.erase(it);
    ++t.nextInOrder;
  }
  writer_.advance(nowUs());
  std::size_t inMemory = writer_.queuedBytes();
  for (const auto& [n, data] : t.held) inMemory += data.size();
  // The Download Agent's own payload goes to memory; a region's blocks wait for room there.
  while (!t.unacked.empty() && (stage_ == Stage::AgentData || inMemory <= AgentMemoryBytes)) {
    const auto [sequence, kept] = *t.unacked.begin();
    t.unacked.erase(t.unacked.begin());
    const auto s = static_cast<std::uint16_t>(sequence);
    send(kept == 0 ? blockAckFrame(s, nextNeeded()) : partFrame(s, kept, nextNeeded()));
  }
}

bool BootRom::blockCorrupted() {
  ++blocksInSequence_;
  const auto first = static_cast<std::uint64_t>(settings_.corruptFirstBlocks);
  const auto every = static_cast<std::uint64_t>(settings_.corruptEvery);
  return blocksInSequence_ <= first || (every > 0 && blocksInSequence_ % every == 0);
}

std::uint16_t BootRom::nextNeeded() const {
  // Outside a payload no block is needed; inside, also once every block is in (until DA_END or
  // VERIFY). Never past a frame whose answer is held back, so that the host's window stays where
  // the held answers keep it.
  if (!takesBlocks()) return NoSequence;
  const Transfer& t = transfer_;
  const std::uint32_t held = t.unacked.empty() ? t.nextInOrder : t.unacked.begin()->first;
  return static_cast<std::uint16_t>(std::min(t.nextInOrder, held));
}

}  // namespace quenby::modsim
