// A scripted module on a pseudo-terminal for the download protocol tests: the boot ROM and
// the Download Agent's side, in a thread of its own, linked as COM<n> into a ports folder. The
// script says where it misbehaves; the log says what the host sent.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quenby::brom::testing {

struct ModuleScript {
  bool answerSync = true;
  std::uint8_t syncAnswer = 0x5A;
  std::uint32_t chipValue = 3072;
  std::uint16_t bootRomVersion = 0x0102;
  bool refuseSpeed = false;
  // DATA blocks taken as damaged (answered NAK, bad check) this many times; -1 for none.
  int damagedAgentBlock = -1;
  int damagedImageBlock = -1;  // in the first region
  int damageTimes = 0;
  // A DATA block of the first region that is lost on the line once (no answer at all); -1: none.
  int lostImageBlock = -1;
  // A DATA frame of the first region (by its first block) whose second block arrives damaged
  // once: the others are kept and answered PART; -1: none.
  int partImageFrame = -1;
  std::optional<std::uint8_t> aliveByte = 0xD5;
  std::uint32_t flashDevice = 3;
  std::uint8_t flashIdentified = 1;
  int verifyMismatchRegion = -1;
  // The first answers to this command are lost on the line (0: none), this many of them.
  std::uint8_t loseFirstAnswerTo = 0;
  int answersLost = 1;
  // The answer (ACK or PART) to a DATA frame of the first region (by its first block) is lost on
  // the line once; -1: none.
  int lostAnswerImageFrame = -1;
  // The answer to a DATA frame of the first region (by its first block) is held back, as while
  // the flash is behind: BUSY at once, the ACK once the line has been quiet for a moment, the
  // answers to later frames behind it; -1: none.
  int heldAnswerImageFrame = -1;
  // Answers to blocks leave out the next block needed, as a module of the older kind does.
  bool omitNextNeeded = false;
  // After SET_BAUD's ACK the module hears no sync byte at the new speed, goes back and forgets
  // SET_BAUD, once.
  bool missSecondSync = false;
};

struct ModuleLog {
  std::vector<std::uint8_t> frameTypes;  // every good frame, in order
  std::uint32_t baud = 0;                // SET_BAUD's rate
  std::uint32_t chipValue = 0;           // DA_BEGIN's chip value
  std::vector<std::uint8_t> agent;       // the Download Agent written
  struct Region {
    std::string name;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Region> regions;
  int dataFrames = 0;  // DATA frames received, repeats included
  int dataBlocks = 0;  // the blocks in them
  int repeats = 0;     // commands received again with the same tag
  bool aborted = false;
  bool finished = false;
};

class FakeModule {
 public:
  FakeModule(const std::filesystem::path& portsDir, std::uint16_t port, ModuleScript script);
  ~FakeModule();
  FakeModule(const FakeModule&) = delete;
  FakeModule& operator=(const FakeModule&) = delete;

  bool ok() const { return ok_; }
  const std::string& slavePath() const { return slave_; }
  // Ends the module once the line has been quiet for a moment, and returns what it saw.
  ModuleLog finish();

 private:
  void run();

  ModuleScript script_;
  int master_ = -1;
  int slaveHold_ = -1;  // keeps the terminal open between the host's opens
  std::string slave_;
  std::filesystem::path link_;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  ModuleLog log_;
  std::thread thread_;
};

}  // namespace quenby::brom::testing
