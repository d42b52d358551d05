#include "tools/modsim/boot_frames.h"

#include <algorithm>
#include <array>
#include <optional>

namespace quenby::modsim {
namespace {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;
constexpr int kBitsPerByte = 8;

constexpr std::array<std::uint32_t, 256> crc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < kBitsPerByte; ++bit) c = (c & 1u) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = crc32Table();

std::uint8_t byteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

}  // namespace

void Crc32::update(std::string_view bytes) {
  for (char c : bytes) state_ = kCrc32Table[(state_ ^ static_cast<std::uint8_t>(c)) & 0xFFu] ^ (state_ >> kBitsPerByte);
}

std::uint32_t crc32Of(std::string_view bytes) {
  Crc32 crc;
  crc.update(bytes);
  return crc.value();
}

void appendU16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFFu));
  out.push_back(static_cast<char>(value >> 8));
}

void appendU32(std::string& out, std::uint32_t value) {
  appendU16(out, static_cast<std::uint16_t>(value & 0xFFFFu));
  appendU16(out, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t readU16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(byteAt(bytes, at) | (byteAt(bytes, at + 1) << 8));
}

std::uint32_t readU32(std::string_view bytes, std::size_t at) {
  return readU16(bytes, at) | (static_cast<std::uint32_t>(readU16(bytes, at + 2)) << 16);
}

std::string encodeFrame(FrameType type, std::uint8_t tag, std::string_view payload) {
  std::string frame;
  frame.reserve(FrameHeaderSize + payload.size() + FrameCheckSize);
  frame.push_back(static_cast<char>(FrameStartByte));
  frame.push_back(static_cast<char>(type));
  frame.push_back(static_cast<char>(tag));
  appendU16(frame, static_cast<std::uint16_t>(payload.size()));
  frame.append(payload);
  // The check covers type, tag, length and payload: everything after the start byte.
  appendU32(frame, crc32Of(std::string_view(frame).substr(1)));
  return frame;
}

namespace {

// The module's answers to blocks and commands: a sequence number, for some a byte after it, and
// for the answers to blocks the next block needed at the end.
std::string sequenceFrame(FrameType type, std::uint8_t tag, std::uint16_t sequence,
                          std::optional<std::uint8_t> after = std::nullopt,
                          std::optional<std::uint16_t> nextNeeded = std::nullopt) {
  std::string payload;
  appendU16(payload, sequence);
  if (after) payload.push_back(static_cast<char>(*after));
  if (nextNeeded) appendU16(payload, *nextNeeded);
  return encodeFrame(type, tag, payload);
}

}  // namespace

std::string ackFrame(std::uint8_t tag, std::uint16_t sequence) {
  return sequenceFrame(FrameType::Ack, tag, sequence);
}

std::string nakFrame(std::uint8_t tag, std::uint16_t sequence, NakReason reason) {
  return sequenceFrame(FrameType::Nak, tag, sequence, static_cast<std::uint8_t>(reason));
}

std::string busyFrame(std::uint8_t tag, std::uint16_t sequence) {
  return sequenceFrame(FrameType::Busy, tag, sequence);
}

std::string blockAckFrame(std::uint16_t sequence, std::uint16_t nextNeeded) {
  return sequenceFrame(FrameType::Ack, NoTag, sequence, std::nullopt, nextNeeded);
}

std::string partFrame(std::uint16_t sequence, std::uint8_t kept, std::uint16_t nextNeeded) {
  return sequenceFrame(FrameType::Part, NoTag, sequence, kept, nextNeeded);
}

std::uint32_t blockCheck(std::uint16_t number, std::string_view data) {
  std::string n;
  appendU16(n, number);
  Crc32 crc;
  crc.update(n);
  crc.update(data);
  return crc.value();
}

void FrameReceiver::dropDamaged() {
  pending_.erase(0, std::min(damagedRest_, pending_.size()));
  damagedRest_ = 0;
}

void FrameReceiver::push(std::uint8_t byte, std::int64_t now) {
  pending_.push_back(static_cast<char>(byte));
  lastByteAt_ = now;
}

std::optional<std::int64_t> FrameReceiver::expiresAt() const {
  if (pending_.empty() || static_cast<std::uint8_t>(pending_[0]) != FrameStartByte) return std::nullopt;
  return lastByteAt_ + FrameGapMs;
}

std::optional<Received> FrameReceiver::next(std::int64_t now) {
  constexpr std::size_t kTypeAt = 1;
  constexpr std::size_t kTagAt = 2;
  constexpr std::size_t kLengthAt = 3;
  damagedRest_ = 0;
  while (!pending_.empty()) {
    const auto first = static_cast<std::uint8_t>(pending_[0]);
    if (first != FrameStartByte) {
      pending_.erase(0, 1);
      return Received{Received::Kind::Loose, 0, NoTag, {}, first};
    }
    const bool gone = now - lastByteAt_ >= FrameGapMs;
    if (pending_.size() < FrameHeaderSize) {
      if (!gone) return std::nullopt;
      pending_.erase(0, 1);  // the rest of this frame never came
      continue;
    }
    const std::size_t length = readU16(pending_, kLengthAt);
    const auto typeByte = static_cast<std::uint8_t>(pending_[kTypeAt]);
    const bool checkedData = typeByte == static_cast<std::uint8_t>(FrameType::CheckedData);
    const bool data = checkedData || typeByte == static_cast<std::uint8_t>(FrameType::Data);
    if (length > (data ? MaxFramePayload : MaxCommandPayload)) {
      pending_.erase(0, 1);  // no frame is that long: a false start
      continue;
    }
    const std::size_t total = FrameHeaderSize + length + FrameCheckSize;
    if (pending_.size() < total) {
      if (!gone) return std::nullopt;
      pending_.erase(0, 1);
      continue;
    }
    const std::string_view frame = std::string_view(pending_).substr(0, total);
    const bool good = readU32(frame, FrameHeaderSize + length) == crc32Of(frame.substr(1, FrameHeaderSize - 1 + length));
    if (!good) {
      const auto type = static_cast<std::uint8_t>(frame[kTypeAt]);
      Received r{Received::Kind::Damaged, type, NoTag, checkedData ? std::string(frame.substr(FrameHeaderSize, length)) : "", 0};
      damagedRest_ = total - 1;
      pending_.erase(0, 1);  // look on from the byte after this start byte
      return r;
    }
    Received r{Received::Kind::Frame, static_cast<std::uint8_t>(frame[kTypeAt]),
               static_cast<std::uint8_t>(frame[kTagAt]), std::string(frame.substr(FrameHeaderSize, length)), 0};
    pending_.erase(0, total);
    return r;
  }
  return std::nullopt;
}

}  // namespace quenby::modsim
