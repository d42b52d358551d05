// The boot-ROM download protocol's bytes, frame types, limits and timings
// (docs/boot-rom-protocol.md): the host session here, and the scripted module of the tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quenby::brom {

using std::chrono::milliseconds;

// ---- Single bytes outside frames --------------------------------------------------------------
inline constexpr std::uint8_t SyncByte = 0xA5;      // host, until the boot ROM answers
inline constexpr std::uint8_t BootRomAlive = 0x5A;  // the boot ROM's answer to a sync byte
inline constexpr std::uint8_t AgentAlive = 0xD5;    // the Download Agent has started
inline constexpr int BootBaud = 115200;             // the boot ROM listens at this speed
inline constexpr std::uint8_t ProtocolVersion = 2;  // HELLO's payload

// ---- Frames ----------------------------------------------------------------------------------
inline constexpr std::uint8_t FrameStart = 0xC3;
inline constexpr std::size_t FrameHeaderBytes = 5;  // start, type, tag, length (2)
inline constexpr std::size_t FrameCheckBytes = 4;   // CRC-32 over type, tag, length, payload
inline constexpr std::size_t FrameOverheadBytes = FrameHeaderBytes + FrameCheckBytes;
// CHECKED_DATA: sequence and eight blocks, each with its check.
inline constexpr std::size_t MaxFramePayload = 4130;
// The module's frames are short: a receiver of module frames takes a longer length for a false
// start at once instead of waiting for kilobytes of answers to fill it.
inline constexpr std::size_t MaxAnswerPayload = 16;
// Every host frame but DATA is short too (REGION_BEGIN with a 31-character name has 44 bytes): a
// start byte followed by another type and a longer length is a false start at once, so a stray
// start byte rarely holds up the frames behind it.
inline constexpr std::size_t MaxCommandPayload = 64;
// The tag of DATA blocks, of their answers, and of answers to frames that could not be read.
inline constexpr std::uint8_t NoTag = 0;
inline constexpr std::size_t MaxFrameBytes = MaxFramePayload + FrameOverheadBytes;

namespace frame {
inline constexpr std::uint8_t Hello = 0x01;
inline constexpr std::uint8_t HelloAck = 0x81;
inline constexpr std::uint8_t SetBaud = 0x02;
inline constexpr std::uint8_t DaBegin = 0x03;
inline constexpr std::uint8_t DaEnd = 0x04;
inline constexpr std::uint8_t RegionBegin = 0x05;
inline constexpr std::uint8_t Verify = 0x06;
inline constexpr std::uint8_t Finish = 0x07;
inline constexpr std::uint8_t Abort = 0x08;
inline constexpr std::uint8_t Data = 0x10;         // blocks under the frame's check only
inline constexpr std::uint8_t CheckedData = 0x11;  // each block with a check of its own
inline constexpr std::uint8_t Ack = 0x90;
inline constexpr std::uint8_t Nak = 0x91;
inline constexpr std::uint8_t FlashInfo = 0x92;
inline constexpr std::uint8_t Busy = 0x93;
inline constexpr std::uint8_t Part = 0x94;
}  // namespace frame

// Payload sizes of the fixed-size frames.
inline constexpr std::size_t HelloAckPayload = 6;           // chip value u32, boot ROM version u16
inline constexpr std::size_t AckPayload = 2;                // sequence u16
// The answers to blocks (ACK, PART) may end with the next block the module needs: every block
// before it is kept and acknowledged.
inline constexpr std::size_t NextNeededBytes = 2;
inline constexpr std::size_t NakPayload = 3;                // sequence u16, reason u8
inline constexpr std::size_t FlashInfoPayload = 5;          // device u32, identified u8
inline constexpr std::size_t BusyPayload = 2;               // sequence u16
inline constexpr std::size_t PartPayload = 3;               // sequence u16, kept blocks u8
inline constexpr std::size_t DaBeginPayload = 12;           // chip value, length, CRC-32
inline constexpr std::size_t RegionBeginFixedPayload = 13;  // address, length, CRC-32, name length
inline constexpr std::size_t DataSequenceBytes = 2;
// Offsets of the fields after the first (every frame's first field is at 0).
inline constexpr std::size_t HelloAckVersionOffset = 4;
inline constexpr std::size_t NakReasonOffset = 2;
inline constexpr std::size_t FlashInfoIdentifiedOffset = 4;
inline constexpr std::size_t DaBeginLengthOffset = 4;
inline constexpr std::size_t DaBeginCrcOffset = 8;
inline constexpr std::size_t RegionBeginLengthOffset = 4;
inline constexpr std::size_t RegionBeginCrcOffset = 8;
inline constexpr std::size_t RegionBeginNameLengthOffset = 12;
inline constexpr std::size_t RegionBeginNameOffset = 13;

// ACK and NAK of anything but DATA carry this sequence number.
inline constexpr std::uint16_t CommandSequence = 0xFFFF;

namespace nak {
inline constexpr std::uint8_t BadCheck = 1;
inline constexpr std::uint8_t OutOfSequence = 2;
inline constexpr std::uint8_t ChipRejected = 3;
inline constexpr std::uint8_t SpeedRefused = 4;
inline constexpr std::uint8_t FlashWriteError = 5;
inline constexpr std::uint8_t VerifyMismatch = 6;
inline constexpr std::uint8_t NoRoom = 7;
inline constexpr std::uint8_t NotExpected = 8;
inline constexpr std::uint8_t VersionUnknown = 9;
}  // namespace nak

// ---- Data transfer ---------------------------------------------------------------------------
inline constexpr std::size_t BlockBytes = 512;
// A DATA frame's blocks are checked by the frame's CRC-32 alone: least framing on a clean line.
// Above the boot speed from the start, and at it or below from the first loss in a session, the
// host sends CHECKED_DATA frames instead, where every block
// carries a CRC-32 of its number (u16) and its bytes, so that the module keeps the good blocks of
// a damaged frame and only the damaged ones go again.
inline constexpr std::size_t BlockCheckBytes = 4;
inline constexpr std::size_t MaxFrameBlocks = 8;  // consecutive blocks in one DATA frame
inline constexpr std::size_t WindowBlocks = 64;   // from the oldest unacknowledged block
// The 16th failure of a block ends the download. At a bit-error rate of 1e-4 a 512-byte block
// with its check arrives damaged one time in three; with 8 tries one of the 2000 blocks of a 1 MiB
// download then failed every time in about a third of the downloads, with 16 in one of ten
// thousand. A line that carries nothing still fails within seconds.
inline constexpr int MaxBlockFailures = 16;
// Sequence numbers are 16 bits and start from 0 for every payload. A payload holds at most 16 MiB
// (the largest image), so the next block needed, up to the block count, stays below
// CommandSequence.
inline constexpr std::size_t MaxPayloadBlocks = 0x8000;
inline constexpr std::size_t MaxRegionNameChars = 31;

// ---- Timings ---------------------------------------------------------------------------------
inline constexpr milliseconds SyncInterval{20};  // between two sync bytes
// The power-up window: the host sends sync bytes this long, whatever else the line carries.
inline constexpr milliseconds SyncLimit{5000};
// The station is told once when this much of the power-up window is left.
inline constexpr milliseconds SyncEndingNotice{1000};
inline constexpr milliseconds SyncDrain{30};     // late 0x5A bytes dropped after the first
inline constexpr milliseconds SpeedSwitchPause{20};
// SET_BAUD unanswered: the host looks this long at the new speed whether the module switched.
inline constexpr milliseconds SpeedProbeLimit{300};
// A module that switched speed and hears no sync byte for ModuleSpeedFallback goes back to the
// boot speed: a host that read SET_BAUD's ACK syncs that long at the new speed, and then, as after
// a lost ACK, waits SpeedFallbackWait at the boot speed before it sends SET_BAUD again.
inline constexpr milliseconds ModuleSpeedFallback{500};
inline constexpr milliseconds SpeedFallbackWait{600};
// A command is sent again when no answer (nor BUSY) has come this long after it left the line;
// after MaxCommandTries sendings the command has failed.
inline constexpr milliseconds ReplyLimit{300};
inline constexpr int MaxCommandTries = 6;
// BUSY holds a command's time-out, but for this long at most since the command was first sent.
inline constexpr milliseconds BusyLimit{600000};
inline constexpr milliseconds AliveLimit{500};       // DA_END's ACK to 0xD5
inline constexpr milliseconds FlashInfoLimit{500};   // 0xD5 to FLASH_INFO
// No ACK, NAK or BUSY this long after the line has carried every block: the oldest
// unacknowledged block is sent again (a failure of that block).
inline constexpr milliseconds SilenceLimit{300};
inline constexpr milliseconds FrameLimit{500};        // between two bytes of one frame
inline constexpr milliseconds ModuleIdleLimit{5000};  // the module leaves a silent session
// The stop word is read at least this often while the host waits.
inline constexpr milliseconds StopPollInterval{50};

}  // namespace quenby::brom
