// The frames of the boot-ROM download protocol as the module's UART sees them: the byte values
// and frame types, the CRC-32 over frames and payloads, a frame builder for the module's answers
// and a receiver that cuts the host's bytes into frames.
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

// Largest payload of one frame (DATA: sequence and eight blocks with their checks), and of one
// DATA block's data.
inline constexpr std::size_t MaxFramePayload = 4130;
inline constexpr std::size_t MaxBlockData = 512;
// Each block in a CHECKED_DATA frame is followed by the CRC-32 of its number (u16) and its data;
// a DATA frame's blocks have only the frame's check.
inline constexpr std::size_t BlockCheckSize = 4;
// A DATA or CHECKED_DATA frame carries 1 to 8 consecutive blocks, numbered by its first.
inline constexpr std::size_t MaxFrameBlocks = 8;
// Longest payload of any other frame: a longer length in one is a false start at once.
inline constexpr std::size_t MaxCommandPayload = 64;
// Start, type, tag and length before the payload; the check after it.
inline constexpr std::size_t FrameHeaderSize = 5;
inline constexpr std::size_t FrameCheckSize = 4;
// The tag of DATA blocks, of their answers, and of answers to frames that could not be read.
inline constexpr std::uint8_t NoTag = 0;

// The sequence field of an answer to anything but a DATA block.
inline constexpr std::uint16_t NoSequence = 0xFFFF;
// The protocol version HELLO carries.
inline constexpr std::uint8_t ProtocolVersion = 2;

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
  CheckedData = 0x11,
  HelloAck = 0x81,
  Ack = 0x90,
  Nak = 0x91,
  FlashInfo = 0x92,
  Busy = 0x93,
  Part = 0x94,
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
  VersionUnknown = 9,
};

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

// Start byte, type, tag, length, payload and check. The payload must fit MaxFramePayload.
std::string encodeFrame(FrameType type, std::uint8_t tag, std::string_view payload);
std::string ackFrame(std::uint8_t tag, std::uint16_t sequence);
std::string nakFrame(std::uint8_t tag, std::uint16_t sequence, NakReason reason);
std::string busyFrame(std::uint8_t tag, std::uint16_t sequence);
// The answers to blocks end with the next block the module needs: it has every block before it,
// and none of their answers is held back. An ACK of a whole frame:
std::string blockAckFrame(std::uint16_t sequence, std::uint16_t nextNeeded);
// The answer to a damaged CHECKED_DATA frame some of whose blocks were good: bit i of `kept` set
// when block sequence + i passed its check (and is kept now, new or had already).
std::string partFrame(std::uint16_t sequence, std::uint8_t kept, std::uint16_t nextNeeded);
// A DATA block's check: CRC-32 of its number (u16, little-endian) and its data.
std::uint32_t blockCheck(std::uint16_t number, std::string_view data);
// What the receiver makes of the bytes: a good frame, a frame that failed its check (its type
// and tag cannot be trusted; one that says it is CHECKED_DATA comes with its payload, whose
// blocks may still be good by their own checks), or a single byte outside frames (a sync byte, or noise).
struct Received {
  enum class Kind { Frame, Damaged, Loose };
  Kind kind = Kind::Loose;
  std::uint8_t type = 0;
  std::uint8_t tag = NoTag;
  std::string payload;
  std::uint8_t byte = 0;  // Loose

  bool operator==(const Received&) const = default;
};

// Cuts received bytes into frames. A start byte whose frame turns out bad (a length above
// MaxFramePayload, or above MaxCommandPayload for another type than DATA and CHECKED_DATA, a failed check, a gap of FrameGapMs between two of its bytes) was a false
// start: scanning resumes from the byte after it, so a frame that began inside it is still found.
class FrameReceiver {
 public:
  // Takes one byte that arrived at `now` (milliseconds). Call next(now) until it gives nothing
  // first, so that a frame that stopped before this byte is given up.
  void push(std::uint8_t byte, std::int64_t now);
  // The next thing the bytes taken so far make, if any; at `now` an unfinished frame whose last
  // byte came FrameGapMs or more before is given up.
  std::optional<Received> next(std::int64_t now);
  // True while bytes wait that might still become a frame.
  bool inFrame() const { return !pending_.empty(); }
  // When an unfinished frame is given up, if one waits.
  std::optional<std::int64_t> expiresAt() const;
  // The damaged frame just given was a real frame (blocks in it were good by their checks):
  // scanning resumes after its end instead of after its start byte.
  void dropDamaged();
  // Forgets every byte.
  void reset() {
    pending_.clear();
    damagedRest_ = 0;
  }

 private:
  std::string pending_;  // from a start byte on
  std::size_t damagedRest_ = 0;  // bytes after the start byte of the damaged frame just given
  std::int64_t lastByteAt_ = 0;
};

// A frame whose bytes stop for this long is given up.
inline constexpr std::int64_t FrameGapMs = 500;

}  // namespace quenby::modsim
