#include "tools/modsim/boot_frames.h"

#include <array>

namespace quenby::modsim {
namespace {

constexpr std::uint16_t kCrc16Polynomial = 0x1021;
constexpr std::uint16_t kCrc16Initial = 0xFFFF;
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

std::uint16_t frameCheck(std::string_view bytes) {
  std::uint16_t crc = kCrc16Initial;
  for (char c : bytes) {
    crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << kBitsPerByte);
    for (int bit = 0; bit < kBitsPerByte; ++bit)
      crc = (crc & 0x8000u) ? static_cast<std::uint16_t>((crc << 1) ^ kCrc16Polynomial)
                            : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

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

std::string encodeFrame(FrameType type, std::string_view payload) {
  std::string frame;
  frame.reserve(FrameHeaderSize + payload.size() + FrameCheckSize);
  frame.push_back(static_cast<char>(FrameStartByte));
  frame.push_back(static_cast<char>(type));
  appendU16(frame, static_cast<std::uint16_t>(payload.size()));
  frame.append(payload);
  // The check covers type, length and payload: everything after the start byte.
  appendU16(frame, frameCheck(std::string_view(frame).substr(1)));
  return frame;
}

std::string ackFrame(std::uint16_t sequence) {
  std::string payload;
  appendU16(payload, sequence);
  return encodeFrame(FrameType::Ack, payload);
}

std::string nakFrame(std::uint16_t sequence, NakReason reason) {
  std::string payload;
  appendU16(payload, sequence);
  payload.push_back(static_cast<char>(reason));
  return encodeFrame(FrameType::Nak, payload);
}

void FrameReceiver::reset() {
  state_ = State::Hunting;
  payload_.clear();
}

std::optional<ReceivedFrame> FrameReceiver::feed(std::uint8_t byte) {
  switch (state_) {
    case State::Hunting:
      if (byte == FrameStartByte) state_ = State::Type;
      return std::nullopt;
    case State::Type:
      type_ = byte;
      state_ = State::LengthLow;
      return std::nullopt;
    case State::LengthLow:
      length_ = byte;
      state_ = State::LengthHigh;
      return std::nullopt;
    case State::LengthHigh:
      length_ |= static_cast<std::size_t>(byte) << 8;
      if (length_ > MaxFramePayload) {
        // Where such a frame ends is unknown: look for the next start byte from here on.
        reset();
        return ReceivedFrame{type_, {}, false};
      }
      payload_.clear();
      state_ = length_ == 0 ? State::CheckLow : State::Payload;
      return std::nullopt;
    case State::Payload:
      payload_.push_back(static_cast<char>(byte));
      if (payload_.size() == length_) state_ = State::CheckLow;
      return std::nullopt;
    case State::CheckLow:
      check_ = byte;
      state_ = State::CheckHigh;
      return std::nullopt;
    case State::CheckHigh: {
      check_ = static_cast<std::uint16_t>(check_ | (byte << 8));
      std::string checked;
      checked.push_back(static_cast<char>(type_));
      appendU16(checked, static_cast<std::uint16_t>(length_));
      checked += payload_;
      ReceivedFrame frame{type_, std::move(payload_), frameCheck(checked) == check_};
      reset();
      return frame;
    }
  }
  return std::nullopt;
}

}  // namespace quenby::modsim
