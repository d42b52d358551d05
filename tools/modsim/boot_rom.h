// The module's boot ROM and Download Agent, without any I/O: what they make of the host's bytes
// in a firmware download, and what they answer. A sync byte at the boot speed powers the module
// up into its boot ROM (its firmware stops); the session then runs through the speed change, the
// Download Agent and the regions written into the flash, and ends in the new firmware (FINISH),
// or in the old one (ABORT, or 5 s without a byte from the host). Time is milliseconds since the
// simulator started, as for the module model.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modsim/boot_frames.h"
#include "tools/modsim/module_model.h"
#include "tools/modsim/scenario.h"
#include "tools/modsim/simulated_flash.h"

namespace quenby::modsim {

// A session that hears nothing from the host for this long is left.
inline constexpr Millis BootSilenceMs = 5000;
// A frame whose next byte does not come within this long is dropped.
inline constexpr Millis FrameGapMs = 500;
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

  // Time-outs due by `now`: an unfinished frame, a silent host.
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
    Hello,        // waiting for SET_BAUD
    SecondSync,   // at the download speed: answering sync bytes, waiting for DA_BEGIN
    AgentData,    // taking the Download Agent's blocks until DA_END
    AgentDead,    // started a Download Agent that does not run
    Agent,        // the Download Agent waits for REGION_BEGIN or FINISH
    RegionData,   // taking a region's blocks until VERIFY
  };

  // One payload going over as DATA blocks: the Download Agent's, or a region's.
  struct Transfer {
    std::uint32_t address = 0;      // in the flash, for a region
    std::uint32_t length = 0;       // announced
    std::uint32_t expectedCrc = 0;  // announced
    std::uint16_t expected = 0;     // the next block's number
    std::uint64_t received = 0;
    Crc32 crc;
  };

  struct Region {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
  };

  void powerUp(Millis now);
  void leave(std::optional<std::string> version);
  void takeByte(std::uint8_t byte, int lineBaud, Millis now);
  void handleFrame(const ReceivedFrame& frame);
  void handleBlock(const ReceivedFrame& frame);
  void acceptBlock(std::uint16_t sequence, std::string_view data);
  void onHello(std::string_view payload);
  void onSetBaud(std::string_view payload);
  void onDaBegin(std::string_view payload);
  void onDaEnd();
  void onRegionBegin(std::string_view payload);
  void onVerify();
  void onFinish();
  bool answersSync() const { return stage_ == Stage::Sync || stage_ == Stage::SecondSync; }
  bool takesBlocks() const { return stage_ == Stage::AgentData || stage_ == Stage::RegionData; }
  bool blockCorrupted();
  void send(std::string bytes);
  void ack() { send(ackFrame(NoSequence)); }
  void nak(NakReason reason) { send(nakFrame(NoSequence, reason)); }
  void nakBlock(NakReason reason);

  BootSettings settings_;
  SimulatedFlash& flash_;
  Stage stage_ = Stage::Firmware;
  int uartBaud_ = BootBaud;
  FrameReceiver frames_;
  Millis lastByteAt_ = 0;
  Transfer transfer_;
  std::uint32_t regionsBegun_ = 0;      // in this session
  std::optional<Region> firstRegion_;   // of this session: it carries the version text
  std::uint64_t blocksInSequence_ = 0;  // in this session, counted for the corrupt-block faults
  std::vector<BootEvent> events_;
  std::optional<Millis> powerCycleAt_;  // a late operator's power cycle, once sync bytes came
};

}  // namespace quenby::modsim
