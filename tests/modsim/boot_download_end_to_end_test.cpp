// A firmware download into the real quenby-modsim over its pseudo-terminal, by a small host
// written here on the station's serial port class: sync, hello, speed change, the Download
// Agent, one region, verify, finish; then the module runs the new firmware and reports its
// version.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <random>
#include <thread>

#include "engine/nmea_sentence.h"
#include "engine/posix_serial_port.h"
#include "fakes/temp_folder.h"
#include "simulator_process.h"
#include "tools/modsim/boot_frames.h"

namespace quenby::modsim {
namespace {

using namespace std::chrono_literals;
using quenby::testing::TempFolder;
using testing::SimulatorProcess;

constexpr std::uint16_t kCom = 4;
constexpr int kDownloadBaud = 921600;
constexpr int kNmeaBaud = 38400;
constexpr std::uint32_t kChip = 3072;
constexpr int kMostSyncBytes = 250;

class Host {
 public:
  explicit Host(const std::filesystem::path& ports) : port_(ports) {}

  bool open(int baud) { return port_.open(kCom, baud); }  // and purged
  void write(std::string_view bytes) { port_.writeText(bytes); }

  // The next byte, within one read of the port.
  std::optional<std::uint8_t> byte() {
    char c;
    if (port_.read(&c, 1) != 1) return std::nullopt;
    return static_cast<std::uint8_t>(c);
  }
  // The next good frame that is not BUSY (the module at work on the flash).
  std::optional<Received> frame() {
    FrameReceiver receiver;
    while (const std::optional<std::uint8_t> b = byte()) {
      receiver.push(*b, 0);
      while (std::optional<Received> r = receiver.next(0))
        if (r->kind == Received::Kind::Frame && r->type != static_cast<std::uint8_t>(FrameType::Busy)) return r;
    }
    return std::nullopt;
  }
  // A command's ACK; or a block's, which names the block after it as the next one needed.
  bool ack(std::uint16_t sequence = NoSequence) {
    const std::optional<Received> f = frame();
    if (sequence != NoSequence)
      return f && *f == Received{Received::Kind::Frame, static_cast<std::uint8_t>(FrameType::Ack), NoTag,
                                 blockAckFrame(sequence, static_cast<std::uint16_t>(sequence + 1)).substr(FrameHeaderSize, 4)};
    return f && f->type == static_cast<std::uint8_t>(FrameType::Ack) && f->payload.size() == 2 &&
           readU16(f->payload, 0) == sequence && f->tag == tag_;
  }
  // A command with a tag of its own.
  void command(FrameType type, std::string_view payload = {}) {
    ++tag_;
    write(encodeFrame(type, tag_, payload));
  }

  // Sync bytes until the boot ROM answers; late answers are then drained.
  bool sync() {
    for (int n = 0; n < kMostSyncBytes; ++n) {
      write(std::string(1, static_cast<char>(SyncByte)));
      if (byte() == SyncAnswerByte) {
        std::this_thread::sleep_for(30ms);
        port_.purge(Purge::Receive);
        return true;
      }
    }
    return false;
  }

  // Stop-and-wait is enough here; the window is the in-process tests' matter.
  bool blocks(const std::string& payload) {
    for (std::size_t n = 0; n * MaxBlockData < payload.size(); ++n) {
      std::string block;
      appendU16(block, static_cast<std::uint16_t>(n));
      write(encodeFrame(FrameType::Data, NoTag, block + payload.substr(n * MaxBlockData, MaxBlockData)));
      if (!ack(static_cast<std::uint16_t>(n))) return false;
    }
    return true;
  }

  bool readUntil(const std::string& text, std::chrono::milliseconds limit) {
    std::string got;
    char buffer[ReadChunkMax];
    for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
      got.append(buffer, port_.read(buffer, sizeof buffer));
      if (got.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  PosixSerialPort port_;
  std::uint8_t tag_ = NoTag;
};

std::string pseudoRandom(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

std::string words(std::initializer_list<std::uint32_t> list) {
  std::string out;
  for (std::uint32_t w : list) appendU32(out, w);
  return out;
}

TEST(BootDownloadEndToEnd, ModuleRunsTheDownloadedFirmwareAndReportsItsVersion) {
  TempFolder folder;
  SimulatorProcess sim({"--ports-dir", (folder / "ports").string(), "--com", std::to_string(kCom)});
  ASSERT_EQ(sim.waitForReady(), "ready\n");
  Host host(folder / "ports");

  // The first sync byte powers the module into its boot ROM; what its firmware sent before it,
  // rubbish at this speed, is purged with the answer by opening the port again.
  ASSERT_TRUE(host.open(BootBaud));
  host.write(std::string(1, static_cast<char>(SyncByte)));
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(host.open(BootBaud));
  ASSERT_TRUE(host.sync());
  host.command(FrameType::Hello, std::string(1, static_cast<char>(ProtocolVersion)));
  const std::optional<Received> hello = host.frame();
  ASSERT_TRUE(hello && hello->type == static_cast<std::uint8_t>(FrameType::HelloAck));
  EXPECT_EQ(readU32(hello->payload, 0), kChip);

  host.command(FrameType::SetBaud, words({kDownloadBaud}));
  ASSERT_TRUE(host.ack());
  ASSERT_TRUE(host.open(kDownloadBaud));
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(host.sync());

  const std::string agent = pseudoRandom(6000, 1);
  host.command(FrameType::DaBegin, words({kChip, static_cast<std::uint32_t>(agent.size()), crc32Of(agent)}));
  ASSERT_TRUE(host.ack());
  ASSERT_TRUE(host.blocks(agent));
  host.command(FrameType::DaEnd);
  ASSERT_TRUE(host.ack());
  EXPECT_EQ(host.byte(), AgentAliveByte);
  const std::optional<Received> info = host.frame();
  ASSERT_TRUE(info && info->type == static_cast<std::uint8_t>(FrameType::FlashInfo));
  EXPECT_EQ(info->payload, std::string("\x03\x00\x00\x00\x01", 5));

  std::string image = pseudoRandom(20000, 2);
  const std::string entry = std::string("QVER:QB-core_3.0,0007,,") + '\0';
  image.replace(9000, entry.size(), entry);
  host.command(FrameType::RegionBegin, words({0x1000, static_cast<std::uint32_t>(image.size()), crc32Of(image)}) + "\x03ROM");
  ASSERT_TRUE(host.ack());
  ASSERT_TRUE(host.blocks(image));
  host.command(FrameType::Verify);
  ASSERT_TRUE(host.ack());
  host.command(FrameType::Finish);
  ASSERT_TRUE(host.ack());

  // The new firmware starts at the module's NMEA speed and reports the image's version.
  ASSERT_TRUE(host.open(kNmeaBaud));
  EXPECT_TRUE(host.readUntil("$" + std::string(StartupMessage) + "\r\n", 3s));
  host.write(frameSentence("PMTK605"));
  EXPECT_TRUE(host.readUntil(frameSentence("PMTK705,QB-core_3.0,0007,,"), 3s));
  EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace quenby::modsim
