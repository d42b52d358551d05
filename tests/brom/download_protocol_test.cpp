// The download against a scripted module on a pseudo-terminal: the whole exchange, progress and
// report, retransmission, every way the module can fail it, Stop, a port held elsewhere, and
// two downloads at once with the same handles. The pseudo-terminal carries bytes at once, so
// the fast speeds keep these tests short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "brom/brom_library.h"
#include "brom/download_results.h"
#include "brom/host_session.h"
#include "brom/protocol.h"
#include "fakes/temp_folder.h"
#include "tests/brom/fake_module.h"

namespace quenby::brom {
namespace {

using Bytes = std::vector<std::uint8_t>;
using quenby::brom::testing::FakeModule;
using quenby::brom::testing::ModuleLog;
using quenby::brom::testing::ModuleScript;
using quenby::testing::TempFolder;

constexpr std::uint32_t Mt3329 = 3072;
constexpr std::uint32_t Mt3318 = 0x100800;
constexpr std::uint32_t Speed921600 = 1;
constexpr std::uint32_t Speed460800 = 2;
constexpr std::uint32_t Speed115200 = 4;
constexpr std::size_t AgentBytes = 10000;    // twenty blocks, the last one short: three frames
constexpr std::size_t RomBytes = 0x5000;     // forty blocks: five frames
constexpr std::size_t ConfigBytes = 0x1000;  // eight blocks: one frame
// DATA frames and blocks of a download on a clean line: eight blocks a frame.
constexpr int AllFrames = 3 + 5 + 1;
constexpr int AllBlocks = 20 + 40 + 8;
// First blocks of frames: the second and third frame, and the last one of the first region.
constexpr int SecondFrame = static_cast<int>(MaxFrameBlocks);
constexpr int ThirdFrame = 2 * SecondFrame;
constexpr int LastRomFrame = static_cast<int>(RomBytes / BlockBytes - MaxFrameBlocks);
constexpr std::size_t ImageFileBytes =
    RomBytes + ConfigBytes + 0x100;  // a tail that is not written

Bytes pattern(std::size_t size, unsigned seed) {
  Bytes b(size);
  std::uint32_t x = seed;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

// What the station's callbacks saw: the phase starts (percent -1) and the percentages.
struct Event {
  char phase;
  int percent;
  std::thread::id thread;
};

struct Recorder {
  std::vector<Event> events;
  std::vector<std::uint32_t> notices;
  char phase = '?';
  std::atomic<std::uint32_t>* stopWord = nullptr;
  bool stopInImagePhase = false;      // Stop once the first image block is acknowledged
  std::function<void()> duringAgent;  // runs once, at the first agent progress above 0

  static Recorder& of(void* user) { return *static_cast<Recorder*>(user); }
  static int agentStart(void* user) {
    of(user).phase = 'D';
    of(user).events.push_back({'D', -1, std::this_thread::get_id()});
    return 0;
  }
  static int imageStart(void* user) {
    of(user).phase = 'I';
    of(user).events.push_back({'I', -1, std::this_thread::get_id()});
    return 0;
  }
  static int progress(std::uint8_t percent, std::uint32_t sent, std::uint32_t total, void* user) {
    Recorder& r = of(user);
    if (total == DownloadNoticeTotal) {
      r.notices.push_back(sent);
      return 0;
    }
    r.events.push_back({r.phase, percent, std::this_thread::get_id()});
    if (r.phase == 'D' && percent > 0 && r.duringAgent) {
      r.duringAgent();
      r.duringAgent = nullptr;
    }
    if (r.phase == 'I' && percent > 0 && r.stopInImagePhase) r.stopWord->store(StopRequestWord);
    return 0;
  }

  // One phase's percentages, in order; false if its start did not come first.
  std::vector<int> percentages(char p) const {
    std::vector<int> out;
    for (const Event& e : events)
      if (e.phase == p && e.percent >= 0) out.push_back(e.percent);
    return out;
  }
};

struct Outcome {
  std::uint32_t result = 0;
  DownloadReport report;
  Recorder recorder;
};

class DownloadProtocol : public ::testing::Test {
 protected:
  void SetUp() override {
    agent = pattern(AgentBytes, 1);
    image = pattern(ImageFileBytes, 2);
    const std::uint32_t chips[] = {Mt3329, Mt3318};
    const Bytes agentFile = buildDaFile(chips, agent);
    folder.write("agent.da", std::string(agentFile.begin(), agentFile.end()));
    folder.write("scat.txt", "# test layout\nROM 0x00000000 0x5000\nCONFIG 0x00010000 0x1000\n");
    folder.write("image.bin", std::string(image.begin(), image.end()));

    library.createDaHandle(&da);
    library.createImageHandle(&rom);
    library.setDaChipValue(da, Mt3329);
    ASSERT_EQ(library.loadDaFile(da, (folder / "agent.da").string()), 0u);
    ASSERT_EQ(library.loadLayoutFile(rom, (folder / "scat.txt").string()), 0);
    library.setImageOption(rom, 256);
    ASSERT_EQ(library.loadImageFile(rom, 0, (folder / "image.bin").string()), 0u);
    library.enableImageEntry(rom, 0, true);
  }

  Outcome download(std::uint16_t port, std::uint32_t speedIndex = Speed921600,
                   Recorder recorder = {}) {
    Outcome out;
    out.recorder = std::move(recorder);
    std::atomic<std::uint32_t> stop{0};
    out.recorder.stopWord = &stop;
    PortRecord portRecord;
    portRecord.comPort = port;
    portRecord.baudIndex = speedIndex;
    DaRecord daRecord;
    daRecord.daHandle = da;
    daRecord.onStart = Recorder::agentStart;
    daRecord.startUser = &out.recorder;
    daRecord.onProgress = Recorder::progress;
    daRecord.progressUser = &out.recorder;
    ImageRecord imageRecord;
    imageRecord.imageHandle = rom;
    imageRecord.onStart = Recorder::imageStart;
    imageRecord.startUser = &out.recorder;
    imageRecord.onProgress = Recorder::progress;
    imageRecord.progressUser = &out.recorder;
    out.result = library.download(portRecord, daRecord, imageRecord, &stop, &out.report);
    out.recorder.stopWord = nullptr;
    return out;
  }

  Bytes imageSlice(std::size_t offset, std::size_t size) const {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset),
                 image.begin() + static_cast<std::ptrdiff_t>(offset + size));
  }

  void expectWholeDownload(const ModuleLog& log) const {
    EXPECT_EQ(log.agent, agent);
    ASSERT_EQ(log.regions.size(), 2u);
    EXPECT_EQ(log.regions[0].name, "ROM");
    EXPECT_EQ(log.regions[0].address, 0u);
    EXPECT_EQ(log.regions[0].bytes, imageSlice(0, RomBytes));
    EXPECT_EQ(log.regions[1].name, "CONFIG");
    EXPECT_EQ(log.regions[1].address, 0x10000u);
    EXPECT_EQ(log.regions[1].bytes, imageSlice(RomBytes, ConfigBytes));
    EXPECT_TRUE(log.finished);
    EXPECT_FALSE(log.aborted);
  }

  // A download from a module that follows the script, which must succeed and write everything;
  // returns what the module saw.
  ModuleLog downloadWhole(std::uint16_t port, const ModuleScript& script, Outcome* outcome = nullptr) {
    FakeModule module(ports, port, script);
    EXPECT_TRUE(module.ok());
    if (!module.ok()) return {};
    Outcome out = download(port);
    const ModuleLog log = module.finish();
    EXPECT_EQ(out.result, result::Success);
    expectWholeDownload(log);
    if (outcome) *outcome = std::move(out);
    return log;
  }

  TempFolder folder;
  std::filesystem::path ports = folder.path() / "ports";
  BromLibrary library{ports};
  DaHandle da = nullptr;
  DlHandle rom = nullptr;
  Bytes agent;
  Bytes image;
};

std::vector<int> withoutDuplicatesAscending(std::vector<int> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

TEST_F(DownloadProtocol, GoodDownloadWritesEverythingAndReportsProgressAndFlash) {
  // Above the boot speed blocks carry their own checks from the start; at it, only from a loss.
  struct Case {
    std::uint32_t speedIndex;
    std::uint32_t baud;
    std::uint8_t dataFrame;
  };
  for (const Case& c : {Case{Speed921600, 921600, frame::CheckedData},
                        Case{Speed460800, 460800, frame::CheckedData},
                        Case{Speed115200, 115200, frame::Data}}) {
    SCOPED_TRACE(c.baud);
    FakeModule module(ports, 3, ModuleScript{});
    ASSERT_TRUE(module.ok());
    const Outcome out = download(3, c.speedIndex);
    const ModuleLog log = module.finish();

    EXPECT_EQ(out.result, result::Success);
    expectWholeDownload(log);
    EXPECT_EQ(log.baud, c.baud);
    EXPECT_EQ(log.chipValue, Mt3329);

    // Commands in protocol order; blocks in between, all in frames of the speed's kind.
    std::vector<std::uint8_t> commands;
    for (auto t : log.frameTypes)
      if (t != c.dataFrame) commands.push_back(t);
    EXPECT_EQ(commands,
              (std::vector<std::uint8_t>{frame::Hello, frame::SetBaud, frame::DaBegin, frame::DaEnd,
                                         frame::RegionBegin, frame::Verify, frame::RegionBegin,
                                         frame::Verify, frame::Finish}));
    EXPECT_EQ(log.dataFrames, AllFrames);
    EXPECT_EQ(log.repeats, 0);

    EXPECT_EQ(out.report.words[report_word::ModuleChip], Mt3329);
    EXPECT_EQ(out.report.flashDevice(), 3u);
    EXPECT_TRUE(out.report.flashIdentified());
    EXPECT_EQ(out.report.words[report_word::BootRomVersion], 0x0102u);
    EXPECT_EQ(out.report.words[report_word::RegionsWritten], 2u);
    EXPECT_EQ(out.report.words[report_word::ImageBytesWritten], RomBytes + ConfigBytes);
    EXPECT_EQ(library.flashDeviceName(out.report.flashDevice()), "QF25L016 (16 Mbit SPI NOR)");

    // Red phase start, 0 .. 100; then blue phase start, 0 .. 100; all on this thread.
    const auto& events = out.recorder.events;
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events.front().phase, 'D');
    EXPECT_EQ(events.front().percent, -1);
    const auto imageStart =
        std::find_if(events.begin(), events.end(), [](const Event& e) { return e.phase == 'I'; });
    ASSERT_NE(imageStart, events.end());
    EXPECT_EQ(imageStart->percent, -1);
    for (char phase : {'D', 'I'}) {
      const auto p = out.recorder.percentages(phase);
      ASSERT_FALSE(p.empty());
      EXPECT_EQ(p.front(), 0) << phase;
      EXPECT_EQ(p.back(), 100) << phase;
      EXPECT_EQ(p, withoutDuplicatesAscending(p)) << phase << ": each percentage once, rising";
    }
    for (const Event& e : events) EXPECT_EQ(e.thread, std::this_thread::get_id());
  }
}

TEST_F(DownloadProtocol, DamagedBlocksAreSentAgainUpToTheirLastChance) {
  struct Case {
    const char* name;
    int agentBlock;
    int imageBlock;
    int times;
    int lostBlock;
    std::uint32_t result;
    int partFrame = -1;  // a frame of the first region whose second block arrives damaged
  };
  const Case cases[] = {
      {"agent block damaged once", SecondFrame, -1, 1, -1, result::Success},
      // The module keeps the good blocks of the damaged frame: only the bad one goes again.
      {"one block of a frame damaged", -1, -1, 0, -1, result::Success, SecondFrame},
      {"agent block damaged up to its last chance", 0, -1, MaxBlockFailures - 1, -1,
       result::Success},
      {"image block damaged up to its last chance", -1, SecondFrame, MaxBlockFailures - 1, -1,
       result::Success},
      {"agent block damaged every time", SecondFrame, -1, MaxBlockFailures, -1,
       result::AgentDownloadFailed},
      {"image block damaged every time", -1, LastRomFrame, MaxBlockFailures, -1,
       result::DownloadFailed},
      // The ACK of a later frame shows it lost; the last one lost is only noticed by the silence.
      {"image block lost", -1, -1, 0, SecondFrame, result::Success},
      {"last image block lost", -1, -1, 0, LastRomFrame, result::Success},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleScript script;
    script.damagedAgentBlock = c.agentBlock;
    script.damagedImageBlock = c.imageBlock;
    script.damageTimes = c.times;
    script.lostImageBlock = c.lostBlock;
    script.partImageFrame = c.partFrame;
    FakeModule module(ports, 1, script);
    ASSERT_TRUE(module.ok());
    // At the boot speed, where DATA frames go until a block is lost.
    const Outcome out = download(1, Speed115200);
    const ModuleLog log = module.finish();
    EXPECT_EQ(out.result, c.result);
    if (c.result == result::Success) {
      expectWholeDownload(log);
      EXPECT_GT(log.dataFrames, AllFrames) << "the damaged block went again";
      if (c.partFrame >= 0) {
        EXPECT_EQ(log.dataBlocks, AllBlocks + 1);
      }
      EXPECT_EQ(log.frameTypes.back(), frame::Finish);
      EXPECT_EQ(*std::prev(std::find(log.frameTypes.begin(), log.frameTypes.end(), frame::Finish), 2),
                frame::CheckedData)
          << "after a loss the last blocks carry checks of their own";
    } else {
      EXPECT_FALSE(log.finished);
    }
  }
}

TEST_F(DownloadProtocol, ModuleFailuresGiveTheirResults) {
  struct Case {
    const char* name;
    void (*script)(ModuleScript&);
    std::uint32_t result;
  };
  const Case cases[] = {
      {"answers sync with another byte", [](ModuleScript& s) { s.syncAnswer = 0x33; },
       result::UnknownBootRom},
      {"refuses the speed", [](ModuleScript& s) { s.refuseSpeed = true; },
       result::SpeedChangeFailed},
      {"rejects the chip value", [](ModuleScript& s) { s.chipValue = Mt3318; },
       result::ChipRejected},
      {"agent does not start", [](ModuleScript& s) { s.aliveByte.reset(); }, result::AgentSilent},
      {"agent says another alive byte", [](ModuleScript& s) { s.aliveByte = 0x55; },
       result::AgentWrongAlive},
      {"second region reads back wrong", [](ModuleScript& s) { s.verifyMismatchRegion = 1; },
       result::ReadbackFailed},
      {"no boot ROM answers", [](ModuleScript& s) { s.answerSync = false; }, result::BootRomSilent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleScript script;
    c.script(script);
    FakeModule module(ports, 2, script);
    ASSERT_TRUE(module.ok());
    const Outcome out = download(2);
    const ModuleLog log = module.finish();
    EXPECT_EQ(out.result, c.result);
    EXPECT_FALSE(log.finished);
  }
}

TEST_F(DownloadProtocol, UnidentifiedFlashIsStillWritten) {
  ModuleScript script;
  script.flashDevice = 0;
  script.flashIdentified = 0;
  FakeModule module(ports, 5, script);
  ASSERT_TRUE(module.ok());
  const Outcome out = download(5);
  EXPECT_EQ(out.result, result::Success);
  EXPECT_FALSE(out.report.flashIdentified());
  expectWholeDownload(module.finish());
}

TEST_F(DownloadProtocol, LostAnswersAreAskedForAgainAndNothingIsAppliedTwice) {
  struct Case {
    std::uint8_t command;
    int lost;     // answers lost on the line
    int repeats;  // times the module saw the command again (never for SET_BAUD: the host looks
                  // at the new speed first, where the module answers the sync)
  };
  const Case cases[] = {{frame::Hello, 1, 1},
                        // Both sendings of a sync lost: after a new sync HELLO keeps its tag.
                        {frame::Hello, 2, 2},
                        {frame::SetBaud, 1, 0},
                        {frame::DaBegin, 1, 1},
                        {frame::DaEnd, 1, 1},
                        {frame::RegionBegin, 1, 1},
                        {frame::Verify, 1, 1},
                        {frame::Finish, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.command));
    ModuleScript script;
    script.loseFirstAnswerTo = c.command;
    script.answersLost = c.lost;
    Outcome out;
    EXPECT_EQ(downloadWhole(4, script, &out).repeats, c.repeats);
    EXPECT_TRUE(out.recorder.notices.empty());
  }
}

TEST_F(DownloadProtocol, ModuleThatWentBackToTheBootSpeedIsAskedToChangeAgain) {
  // SET_BAUD's ACK came, but the module heard no sync byte at the new speed and went back.
  ModuleScript script;
  script.missSecondSync = true;
  const ModuleLog log = downloadWhole(9, script);
  EXPECT_EQ(std::count(log.frameTypes.begin(), log.frameTypes.end(), frame::SetBaud), 2);
  EXPECT_EQ(log.repeats, 0) << "the module had forgotten it: taken as new";
}

TEST_F(DownloadProtocol, LostAnswerToBlocksCostsNothingOnceALaterOneNamesTheNextBlockNeeded) {
  // The answer to the first region's second frame is lost; what the module answers next shows
  // that it has those blocks.
  struct Case {
    const char* name;
    bool omitNextNeeded;
    int damagedFrame;  // the next frame arrives damaged: NAK 1 naming its first block
    int partFrame;     // the next frame arrives with its second block damaged: PART
    int blocksRead;    // by the module, repeats included
    bool held = false;  // the answer is not lost but held back (BUSY), as when the flash is behind
  };
  const Case cases[] = {
      {"the next frame's ACK", false, -1, -1, AllBlocks},
      {"the next frame damaged", false, ThirdFrame, -1, AllBlocks},
      {"the next frame in part", false, -1, ThirdFrame, AllBlocks + 1},
      // A module that leaves the next block needed out: the whole frame goes again.
      {"answers without the next block needed", true, -1, -1, AllBlocks + SecondFrame},
      // The NAK 1 names the held frame's first block, which the BUSY has shown to have arrived.
      {"held back, then the next frame damaged", false, ThirdFrame, -1, AllBlocks, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleScript script;
    (c.held ? script.heldAnswerImageFrame : script.lostAnswerImageFrame) = SecondFrame;
    script.omitNextNeeded = c.omitNextNeeded;
    script.damagedImageBlock = c.damagedFrame;
    script.damageTimes = 1;
    script.partImageFrame = c.partFrame;
    EXPECT_EQ(downloadWhole(10, script).dataBlocks, c.blocksRead);
  }
}

TEST_F(DownloadProtocol, SilentBootRomIsToldOnceBeforeThePowerUpWindowEnds) {
  ModuleScript script;
  script.answerSync = false;
  FakeModule module(ports, 5, script);
  ASSERT_TRUE(module.ok());
  const auto started = std::chrono::steady_clock::now();
  const Outcome out = download(5);
  module.finish();
  EXPECT_EQ(out.result, result::BootRomSilent);
  EXPECT_GE(std::chrono::steady_clock::now() - started, SyncLimit);
  EXPECT_EQ(out.recorder.notices, std::vector<std::uint32_t>{PowerUpWindowEnding});
}

TEST_F(DownloadProtocol, StopMidDownloadSendsAbort) {
  FakeModule module(ports, 6, ModuleScript{});
  ASSERT_TRUE(module.ok());
  Recorder recorder;
  recorder.stopInImagePhase = true;
  const Outcome out = download(6, Speed921600, std::move(recorder));
  const ModuleLog log = module.finish();

  EXPECT_EQ(out.result, result::DownloadFailed);
  EXPECT_TRUE(log.aborted);
  ASSERT_FALSE(log.frameTypes.empty());
  EXPECT_EQ(log.frameTypes.back(), frame::Abort);
  EXPECT_EQ(std::count(log.frameTypes.begin(), log.frameTypes.end(), frame::Abort), 1)
      << "ABORT is never answered, so never sent again";
  EXPECT_FALSE(log.finished);
  EXPECT_NE(out.recorder.percentages('I').back(), 100);
}

TEST_F(DownloadProtocol, PortHeldElsewhereCannotBeOpened) {
  FakeModule module(ports, 7, ModuleScript{});
  ASSERT_TRUE(module.ok());
  const int holder = ::open(module.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(download(7).result, result::CannotOpenPort);
  ::close(holder);
  // Released, the same port downloads; and the download gave the port up again.
  EXPECT_EQ(download(7).result, result::Success);
  const int after = ::open(module.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(after, 0);
  EXPECT_EQ(::flock(after, LOCK_EX | LOCK_NB), 0);
  ::close(after);
}

TEST_F(DownloadProtocol, LoadsDuringADownloadDoNotChangeIt) {
  FakeModule module(ports, 8, ModuleScript{});
  ASSERT_TRUE(module.ok());
  Recorder recorder;
  recorder.duringAgent = [this] {
    library.unloadImageEntry(rom, 0);
    library.loadDaFile(da, (folder / "missing.da").string());
    library.setDaChipValue(da, Mt3318);
  };
  const Outcome out = download(8, Speed921600, std::move(recorder));
  const ModuleLog log = module.finish();
  EXPECT_EQ(out.result, result::Success);
  expectWholeDownload(log);
  EXPECT_EQ(log.chipValue, Mt3329);
  // The next download sees what the handles hold now.
  EXPECT_EQ(download(8).result, result::DaHandleError);
}

TEST_F(DownloadProtocol, TwoPortsDownloadAtOnceWithTheSameHandles) {
  FakeModule first(ports, 11, ModuleScript{});
  FakeModule second(ports, 12, ModuleScript{});
  ASSERT_TRUE(first.ok());
  ASSERT_TRUE(second.ok());
  Outcome a, b;
  std::thread::id threadA, threadB;
  std::thread ta([&] {
    threadA = std::this_thread::get_id();
    a = download(11);
  });
  std::thread tb([&] {
    threadB = std::this_thread::get_id();
    b = download(12, Speed460800);
  });
  ta.join();
  tb.join();
  EXPECT_EQ(a.result, result::Success);
  EXPECT_EQ(b.result, result::Success);
  expectWholeDownload(first.finish());
  expectWholeDownload(second.finish());
  for (const Event& e : a.recorder.events) EXPECT_EQ(e.thread, threadA);
  for (const Event& e : b.recorder.events) EXPECT_EQ(e.thread, threadB);
}

}  // namespace
}  // namespace quenby::brom
