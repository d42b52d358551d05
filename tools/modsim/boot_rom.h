// The module's boot ROM and Download Agent, without any I/O: what they make of the host's bytes
// in a firmware download, and what they answer. A sync byte at the boot speed powers the module
// up into its boot ROM (its firmware stops); the session then runs through the speed change, the
// Download Agent and the regions written into the flash, and ends in the new firmware (FINISH),
// or in the old one (ABORT, or 5 s without a good frame from the host while the module is idle). Time is milliseconds since the
// simulator started, as for the module model.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <map>
#include <set>

#include "tools/modsim/boot_frames.h"
#include "tools/modsim/flash_writer.h"
#include "tools/modsim/module_model.h"
#include "tools/modsim/scenario.h"
#include "tools/modsim/simulated_flash.h"

namespace quenby::modsim {

// A session that hears nothing from the host for this long is left.
inline constexpr Millis BootSilenceMs = 5000;
// A module that switched speed and hears no sync byte at the new one goes back after this long.
inline constexpr Millis SpeedFallbackMs = 500;
// BUSY goes out this often while the module keeps the host waiting.
inline constexpr Millis BusyIntervalMs = 100;
// After FINISH's ACK the Download Agent answers a repeated FINISH this long before it restarts.
inline constexpr Millis FinishLingerMs = 600;
// The module's memory for blocks not yet in the flash; beyond it, blocks wait unacknowledged.
inline constexpr std::size_t AgentMemoryBytes = 65536;
// The host sends up to this many blocks past its oldest unacknowledged one. Blocks kept behind a
// gap alone must never hold answers back: the module would wait for the gap to be filled while the
// host waits for the answers that tell it the gap is there.
inline constexpr std::size_t HostWindowBlocks = 64;
static_assert(AgentMemoryBytes >= (HostWindowBlocks + MaxFrameBlocks) * MaxBlockData);
// Blocks held beyond the next one in order at most (the host's window and the memory).
inline constexpr std::uint32_t MaxHeldBlocks = 128;
// The version the boot ROM reports in HELLO_ACK.
inline constexpr std::uint16_t BootRomVersion = 0x0100;

// What the module's UART and firmware have to do, in order.
struct BootEvent {
  enum class Kind {
    PowerUp,        // the firmware stops; what it had still to send is lost
    Send,           // bytes onto the line
    SwitchSpeed,    // the UART runs at `baud` once the bytes before have left
    StartFirmware,  // the boot ROM hands over to the firmware
  };
  Kind kind = Kind::Send;
  std::string bytes;
  int baud = 0;
  // StartFirmware after a download: the version text of the new firmware (none when the image
  // carries none, or when the session ended without FINISH).
  std::optional<std::string> version;

  static BootEvent powerUp() { return withKind(Kind::PowerUp); }
  static BootEvent send(std::string bytes) {
    BootEvent e = withKind(Kind::Send);
    e.bytes = std::move(bytes);
    return e;
  }
  static BootEvent switchSpeed(int baud) {
    BootEvent e = withKind(Kind::SwitchSpeed);
    e.baud = baud;
    return e;
  }
  static BootEvent startFirmware(std::optional<std::string> version) {
    BootEvent e = withKind(Kind::StartFirmware);
    e.version = std::move(version);
    return e;
  }

  bool operator==(const BootEvent&) const = default;

 private:
  static BootEvent withKind(Kind kind) {
    BootEvent e;
    e.kind = kind;
    return e;
  }
};

class BootRom {
 public:
  BootRom(BootSettings settings, SimulatedFlash& flash);

  // Bytes from the host, whose end of the line is set to lineBaud (<= 0: unknown), arriving at
  // `now`. Returns the leading bytes that reached the running firmware: all of them, unless a
  // sync byte powered the module up into its boot ROM.
  std::string_view receive(std::string_view bytes, int lineBaud, Millis now);

  // Time-outs and flash work due by `now`.
  void advance(Millis now);

  // When advance has something to do next.
  Millis nextDue() const;

  // The events since the last call, in order.
  std::vector<BootEvent> takeEvents();

  // True from the power-up into the boot ROM until the firmware runs again.
  bool active() const { return stage_ != Stage::Firmware; }

  // The speed the module's UART receives at while active.
  int uartBaud() const { return uartBaud_; }

 private:
  enum class Stage {
    Firmware,     // not in a download
    Mute,         // a boot ROM that never answers
    Sync,         // answering sync bytes, waiting for HELLO
    Hello,        // waiting for SET_BAUD (sync bytes still answered)
    SecondSync,   // at the download speed: answering sync bytes, waiting for DA_BEGIN
    AgentData,    // taking the Download Agent's blocks until DA_END
    AgentDead,    // started a Download Agent that does not run
    Agent,        // the Download Agent waits for REGION_BEGIN or FINISH
    RegionData,   // taking a region's blocks until VERIFY
    Verifying,    // VERIFY waits for the flash, then reads the region back
    Finishing,    // FINISH answered; restarts soon (a repeated FINISH is answered again)
  };

  // One payload going over as DATA blocks: the Download Agent's, or a region's.
  struct Transfer {
    std::uint32_t address = 0;      // in the flash, for a region
    std::uint32_t length = 0;       // announced
    std::uint32_t expectedCrc = 0;  // announced
    std::uint32_t blocks = 0;       // length in blocks
    std::uint32_t nextInOrder = 0;  // every block before it has gone on (to the flash)
    std::uint64_t received = 0;     // bytes gone on
    Crc32 crc;
    std::map<std::uint32_t, std::string> held;  // blocks received beyond nextInOrder
    // Answers held back until memory frees, by frame: the kept-blocks bits of a damaged frame
    // whose good blocks were taken (PART), or 0 for a whole frame (ACK).
    std::map<std::uint32_t, std::uint8_t> unacked;
  };

  struct Region {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
  };

  // bySyncByte: the fixture powered the module as a sync byte came, which is answered too.
  void powerUp(Millis now, bool bySyncByte);
  void leave(std::optional<std::string> version);
  void takeByte(std::uint8_t byte, int lineBaud, Millis now);
  void takeReceived(const Received& r, Millis now);
  void handleFrame(const Received& frame, Millis now);
  void handleBlock(const Received& frame);
  // A DATA frame cut where the module expects its blocks: from its sequence number on, each
  // MaxBlockData long but the payload's last; in CHECKED_DATA each followed by its check.
  struct Piece {
    std::uint32_t number = 0;
    std::string_view data;
    bool good = false;  // its check holds
  };
  std::optional<std::vector<Piece>> cutBlocks(std::string_view payload, bool checked) const;
  // Takes the good blocks of a damaged CHECKED_DATA frame; false when none was good.
  bool salvage(const Received& frame);
  // The next block needed that the answers to blocks carry (a cumulative acknowledgement).
  std::uint16_t nextNeeded() const;
  bool hasBlock(std::uint32_t n) const {
    return n < transfer_.nextInOrder || transfer_.held.count(n) > 0;
  }
  // Keeps the blocks and answers the frame in turn: at once while memory allows, else BUSY.
  void keep(std::uint32_t sequence, const std::vector<Piece>& pieces, std::uint8_t kept);
  void onHello(std::uint8_t tag, std::string_view payload);
  void onSetBaud(std::uint8_t tag, std::string_view payload, Millis now);
  void onDaBegin(std::uint8_t tag, std::string_view payload);
  void onDaEnd(std::uint8_t tag);
  void onRegionBegin(std::uint8_t tag, std::string_view payload);
  void onVerify(std::uint8_t tag, Millis now);
  void onFinish(std::uint8_t tag, Millis now);
  void finishVerify();
  // Passes held blocks in order on, and acknowledges held-back blocks while memory allows.
  void moveOn();
  bool answersSync() const {
    return stage_ == Stage::Sync || stage_ == Stage::Hello || stage_ == Stage::SecondSync;
  }
  bool takesBlocks() const { return stage_ == Stage::AgentData || stage_ == Stage::RegionData; }
  bool blockCorrupted();
  void send(std::string bytes);
  // Answers the command with `tag` and keeps the answer for a repeat.
  void answer(std::uint8_t tag, FrameType type, std::string bytes);
  void ack(std::uint8_t tag, FrameType type) { answer(tag, type, ackFrame(tag, NoSequence)); }
  void nak(std::uint8_t tag, FrameType type, NakReason reason) {
    answer(tag, type, nakFrame(tag, NoSequence, reason));
  }
  std::int64_t nowUs() const { return now_ * 1000; }

  BootSettings settings_;
  SimulatedFlash& flash_;
  FlashWriter writer_;
  Stage stage_ = Stage::Firmware;
  int uartBaud_ = BootBaud;
  FrameReceiver frames_;
  Millis now_ = 0;
  Millis lastHeardAt_ = 0;     // the last good frame, or sync byte answered
  Millis speedSwitchAt_ = 0;   // SET_BAUD applied
  bool syncAtNewSpeed_ = false;
  Millis verifyReadyAt_ = -1;  // the read-back ends; -1: still waiting for the flash
  Millis finishAt_ = 0;
  Millis nextBusyAt_ = 0;
  Transfer transfer_;
  // The last command and its answer: a repeat (same tag and type) is answered again, not applied.
  std::uint8_t lastTag_ = NoTag;
  FrameType lastType_ = FrameType::Hello;
  std::string lastAnswer_;
  std::uint32_t regionsBegun_ = 0;      // in this session
  std::optional<Region> firstRegion_;   // of this session: it carries the version text
  std::optional<std::string> finishVersion_;
  std::uint64_t blocksInSequence_ = 0;  // in this session, counted for the corrupt-block faults
  std::vector<BootEvent> events_;
  std::optional<Millis> powerCycleAt_;  // a late operator's power cycle, once sync bytes came
};

}  // namespace quenby::modsim
