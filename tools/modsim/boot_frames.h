// The frames of the boot-ROM download protocol as the module's UART sees them: the byte values
// and frame types, the two checks (CRC-16 over a frame, CRC-32 over a payload), a frame builder
// for the module's answers and a receiver that cuts the host's bytes into frames.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenby::modsim {

// The speed the boot ROM listens at after power-up.
inline constexpr int BootBaud = 115200;

// Single bytes outside frames.
inline constexpr std::uint8_t SyncByte = 0xA5;         // host: are you there?
inline constexpr std::uint8_t SyncAnswerByte = 0x5A;   // boot ROM: alive
inline constexpr std::uint8_t AgentAliveByte = 0xD5;   // Download Agent: running
inline constexpr std::uint8_t FrameStartByte = 0xC3;

// Largest payload of one frame, and of one DATA block's data.
inline constexpr std::size_t MaxFramePayload = 4104;
inline constexpr std::size_t MaxBlockData = 4096;
// Start, type and length before the payload; the check after it.
inline constexpr std::size_t FrameHeaderSize = 4;
inline constexpr std::size_t FrameCheckSize = 2;

// The sequence field of an answer to anything but a DATA block.
inline constexpr std::uint16_t NoSequence = 0xFFFF;
// The protocol version HELLO carries.
inline constexpr std::uint8_t ProtocolVersion = 1;

enum class FrameType : std::uint8_t {
  Hello = 0x01,
  SetBaud = 0x02,
  DaBegin = 0x03,
  DaEnd = 0x04,
  RegionBegin = 0x05,
  Verify = 0x06,
  Finish = 0x07,
  Abort = 0x08,
  Data = 0x10,
  HelloAck = 0x81,
  Ack = 0x90,
  Nak = 0x91,
  FlashInfo = 0x92,
};

enum class NakReason : std::uint8_t {
  BadCheck = 1,
  OutOfSequence = 2,
  ChipRejected = 3,
  SpeedRefused = 4,
  FlashWriteError = 5,
  VerifyMismatch = 6,
  NoRoom = 7,
  NotExpected = 8,
};

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial 0xFFFF, not reflected.
std::uint16_t frameCheck(std::string_view bytes);

// The reflected CRC-32 (polynomial 0xEDB88320), fed piece by piece.
class Crc32 {
 public:
  void update(std::string_view bytes);
  std::uint32_t value() const { return ~state_; }

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

std::uint32_t crc32Of(std::string_view bytes);

// Little-endian numbers into and out of payloads.
void appendU16(std::string& out, std::uint16_t value);
void appendU32(std::string& out, std::uint32_t value);
std::uint16_t readU16(std::string_view bytes, std::size_t at);
std::uint32_t readU32(std::string_view bytes, std::size_t at);

// Start byte, type, length, payload and check. The payload must fit MaxFramePayload.
std::string encodeFrame(FrameType type, std::string_view payload);
std::string ackFrame(std::uint16_t sequence);
std::string nakFrame(std::uint16_t sequence, NakReason reason);

// One frame as received. A frame that failed its check, or announced a payload longer than
// MaxFramePayload (its payload is then empty), is not intact.
struct ReceivedFrame {
  std::uint8_t type = 0;
  std::string payload;
  bool intact = true;

  bool operator==(const ReceivedFrame&) const = default;
};

// Cuts received bytes into frames: bytes before a start byte are skipped, a frame whose length is
// too long is given up right after its length field.
class FrameReceiver {
 public:
  // Takes one byte; returns a frame when this byte completes one.
  std::optional<ReceivedFrame> feed(std::uint8_t byte);
  // True between a start byte and the end of its frame.
  bool inFrame() const { return state_ != State::Hunting; }
  // Drops an unfinished frame.
  void reset();

 private:
  enum class State { Hunting, Type, LengthLow, LengthHigh, Payload, CheckLow, CheckHigh };

  State state_ = State::Hunting;
  std::uint8_t type_ = 0;
  std::size_t length_ = 0;
  std::uint16_t check_ = 0;
  std::string payload_;  // never longer than MaxFramePayload
};

}  // namespace quenby::modsim
