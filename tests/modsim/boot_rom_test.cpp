#include "tools/modsim/boot_rom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace quenby::modsim {
namespace {

constexpr std::uint32_t kStationChip = 3072;
constexpr int kDownloadBaud = 921600;
constexpr std::size_t kWindow = 32;
constexpr int kMostSends = 8;
constexpr std::size_t kSequenceBytes = 2;
constexpr const char* kNewVersion = "QB-core_2.1,0042,,";

std::string bytes(std::initializer_list<std::uint8_t> list) { return std::string(list.begin(), list.end()); }

std::string words(std::initializer_list<std::uint32_t> list) {
  std::string out;
  for (std::uint32_t w : list) appendU32(out, w);
  return out;
}

std::string block(std::uint16_t sequence, std::string_view data) {
  std::string out;
  appendU16(out, sequence);
  return out.append(data);
}

// A CHECKED_DATA payload: the sequence number, then the data cut into blocks, each with its check.
std::string checkedBlocks(std::uint16_t sequence, std::string_view data) {
  std::string out;
  appendU16(out, sequence);
  for (std::size_t at = 0; at < data.size(); at += MaxBlockData, ++sequence) {
    const std::string_view piece = data.substr(at, MaxBlockData);
    out.append(piece);
    appendU32(out, blockCheck(sequence, piece));
  }
  return out;
}

std::string pseudoRandom(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen() & 0xFF);
  return out;
}

struct ImageRegion {
  std::uint32_t address;
  std::string bytes;
};

// Two regions; the first carries the version text in its middle.
std::vector<ImageRegion> testImage() {
  std::string rom = pseudoRandom(10000, 7);
  const std::string entry = std::string("QVER:") + kNewVersion + '\0';
  rom.replace(5000, entry.size(), entry);
  return {{0x0, rom}, {0x100000, pseudoRandom(5000, 8)}};
}

const std::string kAgent = pseudoRandom(9000, 3);  // nine blocks

// The DATA frame of one block of a payload.
std::string dataFrame(const std::string& payload, std::size_t n) {
  return encodeFrame(FrameType::Data, NoTag,
                     block(static_cast<std::uint16_t>(n), std::string_view(payload).substr(n * MaxBlockData, MaxBlockData)));
}

BootSettings with(const std::function<void(BootSettings&)>& change) {
  BootSettings s;
  change(s);
  return s;
}

// The boot ROM on a line in virtual time: what the host sends arrives at once, and the answers
// are collected as they come.
class Line {
 public:
  explicit Line(const BootSettings& settings = {})
      : flash_(static_cast<std::uint32_t>(settings.flashSize)), rom_(settings, flash_) {}

  // Returns the bytes that reached the firmware.
  std::string send(std::string_view data) {
    const std::string forFirmware(rom_.receive(data, hostBaud, now_));
    collect();
    return forFirmware;
  }
  // A command with a new tag (DATA has none).
  void sendFrame(FrameType type, std::string_view payload = {}) {
    if (type != FrameType::Data) lastTag = static_cast<std::uint8_t>(lastTag % 255 + 1);
    send(encodeFrame(type, type == FrameType::Data ? NoTag : lastTag, payload));
  }
  // The last command again, with its tag.
  void repeatFrame(FrameType type, std::string_view payload = {}) { send(encodeFrame(type, lastTag, payload)); }
  void wait(Millis ms) {
    for (const Millis end = now_ + ms; now_ < end; now_ += 10) {
      rom_.advance(now_);
      collect();
    }
  }
  // Sync and HELLO at the boot speed.
  void hello() {
    hostBaud = BootBaud;
    send(bytes({SyncByte}));
    sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
    answer();
  }
  std::string answer() { return std::exchange(answer_, {}); }

  BootRom& rom() { return rom_; }
  Millis now() const { return now_; }
  SimulatedFlash& flash() { return flash_; }
  const std::vector<BootEvent>& events() const { return events_; }

  int hostBaud = BootBaud;
  std::uint8_t lastTag = NoTag;

 private:
  void collect() {
    for (BootEvent& e : rom_.takeEvents()) {
      if (e.kind == BootEvent::Kind::Send) answer_ += e.bytes;
      events_.push_back(std::move(e));
    }
  }

  SimulatedFlash flash_;
  BootRom rom_;
  Millis now_ = 0;
  std::string answer_;
  std::vector<BootEvent> events_;
};

// Through the speed change (to the boot speed) up to DA_BEGIN's ACK: the Download Agent's blocks
// are coming.
void beginAgent(Line& line) {
  line.hello();
  line.sendFrame(FrameType::SetBaud, words({BootBaud}));
  line.send(bytes({SyncByte}));
  line.sendFrame(FrameType::DaBegin, words({kStationChip, static_cast<std::uint32_t>(kAgent.size()), crc32Of(kAgent)}));
  line.answer();
}

// ... and the Download Agent started: it waits for REGION_BEGIN or FINISH.
void startAgent(Line& line) {
  beginAgent(line);
  for (std::size_t n = 0; n * MaxBlockData < kAgent.size(); ++n) line.send(dataFrame(kAgent, n));
  line.sendFrame(FrameType::DaEnd);
  line.answer();
}

std::string regionBegin(const std::string& region) {
  return words({0, static_cast<std::uint32_t>(region.size()), crc32Of(region)}) + "\x03ROM";
}

// The answer cut into single bytes (outside frames) and frames, in order.
struct Token {
  std::optional<std::uint8_t> single;
  Received frame;
};

std::vector<Token> parse(std::string_view bytes) {
  std::vector<Token> tokens;
  FrameReceiver receiver;
  const auto take = [&](Millis now) {
    while (std::optional<Received> r = receiver.next(now)) {
      if (r->kind == Received::Kind::Loose)
        tokens.push_back({r->byte, {}});
      else
        tokens.push_back({std::nullopt, std::move(*r)});
    }
  };
  for (char c : bytes) {
    receiver.push(static_cast<std::uint8_t>(c), 0);
    take(0);
  }
  take(FrameGapMs);
  return tokens;
}

bool isFrame(const Token& t, FrameType type) {
  return !t.single && t.frame.kind == Received::Kind::Frame && t.frame.type == static_cast<std::uint8_t>(type);
}

std::string describe(const std::vector<Token>& tokens) {
  if (tokens.empty()) return "silence";
  const Token& t = tokens.front();
  if (t.single) return "byte " + std::to_string(*t.single);
  if (isFrame(t, FrameType::Nak) && t.frame.payload.size() == 3)
    return "NAK " + std::to_string(static_cast<std::uint8_t>(t.frame.payload[2]));
  return "frame " + std::to_string(t.frame.type);
}

// Where a download stopped and what the module answered there (both empty when it finished),
// and what FLASH_INFO reported.
struct Outcome {
  std::string step;
  std::string answer;
  std::uint32_t flashDevice = 0;
  int identified = -1;
};

// The station's side, reduced to the protocol: sync, hello, speed change, the Download Agent,
// each region and its verify, finish. Blocks go with selective repeat in a window of 32: a block
// NAKed (bad check) goes again, its eighth failure ends the download; BUSY waits.
class Host {
 public:
  explicit Host(Line& line) : line_(line) {}

  Outcome download(const std::string& agent, const std::vector<ImageRegion>& image) {
    line_.hostBaud = BootBaud;
    if (!single("sync", SyncAnswerByte)) return outcome_;
    line_.sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
    if (!reply("hello", FrameType::HelloAck)) return outcome_;
    line_.sendFrame(FrameType::SetBaud, words({kDownloadBaud}));
    if (!reply("set-baud", FrameType::Ack)) return outcome_;
    line_.hostBaud = kDownloadBaud;
    if (!single("second-sync", SyncAnswerByte)) return outcome_;
    line_.sendFrame(FrameType::DaBegin, words({kStationChip, static_cast<std::uint32_t>(agent.size()), crc32Of(agent)}));
    if (!reply("da-begin", FrameType::Ack) || !blocks("da-data", agent)) return outcome_;
    line_.sendFrame(FrameType::DaEnd);
    std::vector<Token> answer = parse(line_.answer());
    if (answer.empty() || !isFrame(answer[0], FrameType::Ack)) return fail("da-end", answer);
    // The Download Agent's alive byte and FLASH_INFO follow the ACK.
    answer.erase(answer.begin());
    if (answer.empty() || answer[0].single != AgentAliveByte) return fail("alive", answer);
    answer.erase(answer.begin());
    if (answer.size() != 1 || !isFrame(answer[0], FrameType::FlashInfo) || answer[0].frame.tag != line_.lastTag)
      return fail("flash-info", answer);
    outcome_.flashDevice = readU32(answer[0].frame.payload, 0);
    outcome_.identified = answer[0].frame.payload.at(4);

    for (const ImageRegion& r : image) {
      line_.sendFrame(FrameType::RegionBegin,
                      words({r.address, static_cast<std::uint32_t>(r.bytes.size()), crc32Of(r.bytes)}) + "\x03ROM");
      if (!reply("region-begin", FrameType::Ack) || !blocks("region-data", r.bytes)) return outcome_;
      line_.sendFrame(FrameType::Verify);
      if (!reply("verify", FrameType::Ack)) return outcome_;
    }
    line_.sendFrame(FrameType::Finish);
    reply("finish", FrameType::Ack);
    return outcome_;
  }

  int busyAnswers = 0;

 private:
  Outcome& fail(const std::string& step, const std::vector<Token>& tokens) {
    outcome_.step = step;
    outcome_.answer = describe(tokens);
    return outcome_;
  }
  bool failed(const std::string& step, const std::vector<Token>& tokens) {
    fail(step, tokens);
    return false;
  }

  bool single(const std::string& step, std::uint8_t expected) {
    line_.send(bytes({SyncByte}));
    const std::vector<Token> answer = parse(line_.answer());
    return (answer.size() == 1 && answer[0].single == expected) || failed(step, answer);
  }

  // Exactly one frame of this type with the command's tag, after any BUSY; an ACK for a command
  // carries no sequence.
  bool reply(const std::string& step, FrameType type) {
    std::vector<Token> answer = parse(line_.answer());
    for (Millis waited = 0; waited < kLongestWaitMs; waited += kStepMs) {
      std::erase_if(answer, [&](const Token& t) {
        const bool busy = isFrame(t, FrameType::Busy) && t.frame.tag == line_.lastTag;
        busyAnswers += busy ? 1 : 0;
        return busy;
      });
      if (!answer.empty()) break;
      line_.wait(kStepMs);
      answer = parse(line_.answer());
    }
    const bool ok = answer.size() == 1 && isFrame(answer[0], type) && answer[0].frame.tag == line_.lastTag &&
                    (type != FrameType::Ack || answer[0].frame.payload == "\xFF\xFF");
    return ok || failed(step, answer);
  }

  bool blocks(const std::string& step, const std::string& payload) {
    const std::size_t count = (payload.size() + MaxBlockData - 1) / MaxBlockData;
    std::vector<int> failures(count, 0);
    std::vector<bool> acked(count, false);
    std::set<std::size_t> again;
    std::size_t base = 0, next = 0;
    Millis quiet = 0;
    const auto send = [&](std::size_t n) {
      line_.sendFrame(FrameType::Data, block(static_cast<std::uint16_t>(n), payload.substr(n * MaxBlockData, MaxBlockData)));
    };
    while (base < count) {
      for (std::size_t n : std::exchange(again, {})) send(n);
      for (; next < count && next < base + kWindow; ++next) send(next);
      std::vector<Token> answer = parse(line_.answer());
      if (answer.empty()) {
        // Blocks held back while the flash catches up are acknowledged in time.
        if ((quiet += kStepMs) > kLongestWaitMs) return failed(step, answer);
        line_.wait(kStepMs);
        continue;
      }
      quiet = 0;
      for (const Token& t : answer) {
        if (t.single || t.frame.tag != NoTag || t.frame.payload.size() < 2) return failed(step, {t});
        const std::size_t n = readU16(t.frame.payload, 0);
        if (isFrame(t, FrameType::Busy)) continue;
        if (isFrame(t, FrameType::Ack) && n < count) {
          acked[n] = true;
          continue;
        }
        const bool retry = isFrame(t, FrameType::Nak) && t.frame.payload.size() == 3 && t.frame.payload[2] == 1;
        if (!retry || n >= count) return failed(step, {t});
        if (++failures[n] == kMostSends) return failed(step, {t});
        again.insert(n);
      }
      while (base < count && acked[base]) ++base;
    }
    return true;
  }

  static constexpr Millis kStepMs = 10;
  static constexpr Millis kLongestWaitMs = 20000;

  Line& line_;
  Outcome outcome_;
};

TEST(BootRom, DownloadsIntoTheFlashAndStartsTheNewFirmware) {
  Line line;
  const std::vector<ImageRegion> image = testImage();
  const Outcome outcome = Host(line).download(kAgent, image);
  EXPECT_EQ(outcome.step + outcome.answer, "");
  line.wait(FinishLingerMs + 10);  // FINISH is answered again while the Download Agent lingers
  for (const ImageRegion& r : image)
    EXPECT_EQ(line.flash().read(r.address, static_cast<std::uint32_t>(r.bytes.size())), r.bytes) << r.address;
  EXPECT_EQ(line.flash().read(10000, 16), std::string(16, '\xFF'));  // nothing past the region
  EXPECT_FALSE(line.rom().active());

  // Power-up at the boot speed; the download speed once SET_BAUD's ACK is out; FINISH's ACK,
  // then the new firmware.
  const std::vector<BootEvent>& e = line.events();
  ASSERT_GE(e.size(), 5u);
  EXPECT_EQ(e[0], BootEvent::powerUp());
  EXPECT_EQ(e[1], BootEvent::switchSpeed(BootBaud));
  const auto toDownloadSpeed = std::find(e.begin(), e.end(), BootEvent::switchSpeed(kDownloadBaud));
  ASSERT_NE(toDownloadSpeed, e.end());
  EXPECT_EQ((toDownloadSpeed - 1)->bytes, ackFrame(2, NoSequence));
  const auto finishAck = std::find(e.begin(), e.end(), BootEvent::send(ackFrame(line.lastTag, NoSequence)));
  ASSERT_NE(finishAck, e.end());
  EXPECT_EQ(*(finishAck + 1), BootEvent::startFirmware(kNewVersion));
  EXPECT_EQ(e.back(), BootEvent::startFirmware(kNewVersion));
  EXPECT_EQ(std::count_if(e.begin(), e.end(), [](const BootEvent& x) { return x.kind != BootEvent::Kind::Send; }), 4);
}

TEST(BootRom, EachFaultEndsTheDownloadWhereTheHostExpectsIt) {
  struct Case {
    const char* name;
    BootSettings settings;
    std::string step;  // empty: the download finishes
    std::string answer;
  };
  const Case cases[] = {
      {"no fault", {}, "", ""},
      {"boot ROM never answers", with([](auto& s) { s.answer = false; }), "sync", "silence"},
      {"wrong sync character", with([](auto& s) { s.syncAnswer = 0x55; }), "sync", "byte 85"},
      {"every speed refused", with([](auto& s) { s.refuseAllSpeeds = true; }), "set-baud", "NAK 4"},
      {"this speed refused", with([](auto& s) { s.refusedSpeeds = {230400, kDownloadBaud}; }), "set-baud", "NAK 4"},
      {"another speed refused", with([](auto& s) { s.refusedSpeeds = {460800}; }), "", ""},
      {"seven bad blocks are resent", with([](auto& s) { s.corruptFirstBlocks = kMostSends - 1; }), "", ""},
      {"eight bad blocks end it", with([](auto& s) { s.corruptFirstBlocks = kMostSends; }), "da-data", "NAK 1"},
      {"every second block bad", with([](auto& s) { s.corruptEvery = 2; }), "", ""},
      {"every block bad", with([](auto& s) { s.corruptEvery = 1; }), "da-data", "NAK 1"},
      {"chip value rejected", with([](auto& s) { s.chipValue = 0x100800; }), "da-begin", "NAK 3"},
      {"agent never starts", with([](auto& s) { s.agentAlive = false; }), "alive", "silence"},
      {"wrong alive byte", with([](auto& s) { s.aliveByte = 0x55; }), "alive", "byte 85"},
      {"flash write error", with([](auto& s) { s.flashWriteError = true; }), "region-data", "NAK 5"},
      {"verify mismatch", with([](auto& s) { s.flashVerifyError = true; }), "verify", "NAK 6"},
      {"second region outside the flash", with([](auto& s) { s.flashSize = 0x100000; }), "region-begin", "NAK 7"},
      {"flash not identified",
       with([](auto& s) {
         s.flashIdentified = false;
         s.flashDevice = 5;
       }),
       "", ""},
  };
  for (const Case& c : cases) {
    Line line(c.settings);
    const Outcome outcome = Host(line).download(kAgent, testImage());
    line.wait(FinishLingerMs + 10);
    EXPECT_EQ(outcome.step, c.step) << c.name;
    EXPECT_EQ(outcome.answer, c.answer) << c.name;
    if (outcome.identified >= 0) {
      EXPECT_EQ(outcome.flashDevice, static_cast<std::uint32_t>(c.settings.flashDevice)) << c.name;
      EXPECT_EQ(outcome.identified, c.settings.flashIdentified ? 1 : 0) << c.name;
    }
    // Only FINISH starts the firmware; after a failure the session waits for the host to give up.
    EXPECT_EQ(line.rom().active(), !c.step.empty()) << c.name;
  }
}

TEST(BootRom, SessionEndsInTheOldFirmwareOnAbortOrSilence) {
  const std::function<void(Line&)> ends[] = {
      [](Line& l) { l.sendFrame(FrameType::Abort); },
      [](Line& l) { l.wait(BootSilenceMs + 10); },
  };
  for (const auto& end : ends) {
    Line line;
    line.hello();
    line.wait(BootSilenceMs - 100);
    EXPECT_TRUE(line.rom().active());  // not yet five seconds
    end(line);
    EXPECT_FALSE(line.rom().active());
    EXPECT_EQ(line.answer(), "");  // ABORT has no answer
    EXPECT_EQ(line.events().back(), BootEvent::startFirmware(std::nullopt));
    EXPECT_EQ(line.send("$PMTK605*31\r\n"), "$PMTK605*31\r\n");  // the firmware hears the station again
  }
}

TEST(BootRom, SyncByteAtTheBootSpeedPowersTheModuleUpOnlyWhileItsFirmwareRuns) {
  Line line;
  line.hostBaud = 38400;  // at another speed 0xA5 is just a byte for the firmware
  EXPECT_EQ(line.send("$PMTK605*31\r\n\xA5"), "$PMTK605*31\r\n\xA5");
  EXPECT_FALSE(line.rom().active());
  line.hostBaud = BootBaud;  // the bytes before the sync byte still reach the firmware
  EXPECT_EQ(line.send("$PMTK605*31\r\n\xA5\xA5"), "$PMTK605*31\r\n");
  EXPECT_EQ(line.answer(), "\x5A\x5A");  // a late sync byte is answered too

  // In a session at the download speed a sync byte at the boot speed restarts nothing: the
  // host missed SET_BAUD's ACK. With no sync byte at the new speed the module goes back to the
  // boot speed, where the host's SET_BAUD (same tag) is taken anew.
  line.sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
  line.sendFrame(FrameType::SetBaud, words({kDownloadBaud}));
  const std::string setBaudAck = line.answer().substr(0);
  const std::size_t before = line.events().size();
  line.send(bytes({SyncByte}));
  EXPECT_EQ(line.answer(), "");
  line.wait(SpeedFallbackMs + 20);
  ASSERT_EQ(line.events().size(), before + 1);
  EXPECT_EQ(line.events()[before], BootEvent::switchSpeed(BootBaud));
  line.repeatFrame(FrameType::SetBaud, words({kDownloadBaud}));
  EXPECT_EQ(line.answer(), ackFrame(line.lastTag, NoSequence));
  EXPECT_EQ(line.events().back(), BootEvent::switchSpeed(kDownloadBaud));
  EXPECT_TRUE(line.rom().active());
}

TEST(BootRom, ModulePoweredLateKeepsItsFirmwareRunningUntilThen) {
  Line line(with([](auto& s) { s.powerCycleAfterMs = 2000; }));
  EXPECT_EQ(line.send("\xA5"), "\xA5");  // the firmware, still running, hears it
  line.wait(1990);
  EXPECT_FALSE(line.rom().active());
  EXPECT_EQ(line.send("\xA5"), "\xA5");
  line.wait(20);
  EXPECT_TRUE(line.rom().active());
  line.send("\xA5");
  EXPECT_EQ(line.answer(), "\x5A");
  EXPECT_EQ(Host(line).download(kAgent, testImage()).step, "");
}

TEST(BootRom, GarbageAndBrokenFramesBeforeAFrameAreSkipped) {
  std::string brokenCheck = encodeFrame(FrameType::Hello, 1, bytes({ProtocolVersion}));
  brokenCheck.back() ^= 0x01;
  const std::string helloAck = encodeFrame(FrameType::HelloAck, 1, std::string("\x00\x0C\x00\x00\x00\x01", 6));
  struct Case {
    std::string garbage;
    std::string answer;
  };
  const Case cases[] = {
      {"$GPGGA,noise\r\n", helloAck},
      {std::string("\0\0\xFF\xFF", 4), helloAck},
      // A frame that failed its check is answered: its type and tag cannot be trusted.
      {brokenCheck, nakFrame(NoTag, NoSequence, NakReason::BadCheck) + helloAck},
      {bytes({FrameStartByte, 0x01, 0xFF, 0x03, 0x10}), helloAck},  // longer than any frame
  };
  for (const Case& c : cases) {
    Line line;
    line.send(bytes({SyncByte}));
    line.answer();
    line.send(c.garbage + encodeFrame(FrameType::Hello, 1, bytes({ProtocolVersion})));
    // HELLO_ACK: chip value 3072, boot ROM version 1.0
    EXPECT_EQ(line.answer(), c.answer) << c.garbage;
  }
}

TEST(BootRom, FrameCutOffByAPauseIsDroppedAndTheNextOneFound) {
  Line line;
  line.send(bytes({SyncByte}));
  line.answer();
  const std::string hello = encodeFrame(FrameType::Hello, 1, bytes({ProtocolVersion}));
  line.send(hello.substr(0, 3));
  line.wait(FrameGapMs + 10);
  line.send(hello.substr(3) + hello);
  line.wait(FrameGapMs + 10);
  const std::vector<Token> answer = parse(line.answer());
  EXPECT_EQ(std::count_if(answer.begin(), answer.end(), [](const Token& t) { return isFrame(t, FrameType::HelloAck); }), 1);
}

TEST(BootRom, FramesThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    std::string frame;
    std::string answer;
  };
  const std::string notExpected = nakFrame(5, NoSequence, NakReason::NotExpected);
  const Case beforeHello[] = {
      {"block before the Download Agent", encodeFrame(FrameType::Data, NoTag, block(0, "x")),
       nakFrame(NoTag, NoSequence, NakReason::NotExpected)},
      {"finish before hello", encodeFrame(FrameType::Finish, 5, {}), notExpected},
      {"a module's frame", encodeFrame(FrameType::Ack, 5, "\xFF\xFF"), notExpected},
      {"unknown type", encodeFrame(static_cast<FrameType>(0x55), 5, {}), notExpected},
      {"hello of another version", encodeFrame(FrameType::Hello, 5, bytes({1})),
       nakFrame(5, NoSequence, NakReason::VersionUnknown)},
      {"hello too long", encodeFrame(FrameType::Hello, 5, bytes({2, 0})), nakFrame(5, NoSequence, NakReason::BadCheck)},
  };
  for (const Case& c : beforeHello) {
    Line line;
    line.send(bytes({SyncByte}));
    line.answer();
    line.send(c.frame);
    EXPECT_EQ(line.answer(), c.answer) << c.name;
  }

  // Blocks of a Download Agent of two blocks: out of order they wait for the one before, a
  // block had already is answered again, one that cannot be read names the block next in order.
  Line line;
  line.hello();
  line.sendFrame(FrameType::SetBaud, words({BootBaud}));
  line.sendFrame(FrameType::DaBegin, words({kStationChip, 2 * MaxBlockData, 0}));
  line.answer();
  std::string brokenCheck = encodeFrame(FrameType::Data, NoTag, block(0, "x"));
  brokenCheck.back() ^= 0x01;
  const std::string full(MaxBlockData, 'x');
  // Both blocks in one frame, the second's data damaged on the line: the first is taken, and
  // the frame is passed over whole (the start byte inside it is not looked at).
  std::string second = full;
  second.replace(100, 5, bytes({FrameStartByte, 0x01, NoTag, 0, 0}));
  std::string secondDamaged = encodeFrame(FrameType::CheckedData, NoTag, checkedBlocks(0, full + second));
  secondDamaged[FrameHeaderSize + 2 + MaxBlockData + BlockCheckSize + 7] ^= 0x10;
  const Case blocks[] = {
      {"bad check", brokenCheck, nakFrame(NoTag, 0, NakReason::BadCheck)},
      {"no data", encodeFrame(FrameType::Data, NoTag, block(0, "")), nakFrame(NoTag, 0, NakReason::BadCheck)},
      {"a block and a bit", encodeFrame(FrameType::Data, NoTag, block(0, full + "x")), nakFrame(NoTag, 0, NakReason::NotExpected)},
      {"short block that is not the last", encodeFrame(FrameType::Data, NoTag, block(0, "x")), nakFrame(NoTag, 0, NakReason::NotExpected)},
      // Answers to blocks end with the next block needed.
      {"damaged frame with a good block", secondDamaged, partFrame(0, 0x01, 1)},
      {"the same again: a good block had already is named too", secondDamaged, partFrame(0, 0x01, 1)},
      {"the damaged block again", encodeFrame(FrameType::Data, NoTag, block(1, full)), blockAckFrame(1, 2)},
      {"the one before", encodeFrame(FrameType::Data, NoTag, block(0, full)), blockAckFrame(0, 2)},
      {"out of order", encodeFrame(FrameType::Data, NoTag, block(1, full)), blockAckFrame(1, 2)},
      {"the one before", encodeFrame(FrameType::Data, NoTag, block(0, full)), blockAckFrame(0, 2)},
      {"again", encodeFrame(FrameType::Data, NoTag, block(1, full)), blockAckFrame(1, 2)},
      {"both in one frame, had already", encodeFrame(FrameType::Data, NoTag, block(0, full + full)), blockAckFrame(0, 2)},
      // Every block is in, but DA_END has not come: the payload is still coming.
      {"damaged frame after the last block", brokenCheck, nakFrame(NoTag, 2, NakReason::BadCheck)},
      {"past the announced length", encodeFrame(FrameType::Data, NoTag, block(2, "x")), nakFrame(NoTag, 2, NakReason::NotExpected)},
  };
  for (const Case& c : blocks) {
    line.send(c.frame);
    EXPECT_EQ(line.answer(), c.answer) << c.name;
  }
}

TEST(BootRom, RepeatedCommandIsAnsweredAgainAndAppliedOnce) {
  Line line;
  line.hostBaud = BootBaud;
  line.send(bytes({SyncByte}));
  line.sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
  const std::string helloAck = line.answer().substr(1);
  // HELLO_ACK was lost: after a new sync the same HELLO (same tag) gets the same answer.
  line.send(bytes({SyncByte}));
  EXPECT_EQ(line.answer(), bytes({SyncAnswerByte}));
  line.repeatFrame(FrameType::Hello, bytes({ProtocolVersion}));
  EXPECT_EQ(line.answer(), helloAck);
  line.sendFrame(FrameType::SetBaud, words({kDownloadBaud}));
  line.hostBaud = kDownloadBaud;
  line.send(bytes({SyncByte}));
  const std::string begin = words({kStationChip, static_cast<std::uint32_t>(kAgent.size()), crc32Of(kAgent)});
  line.sendFrame(FrameType::DaBegin, begin);
  line.answer();
  const auto sendBlock = [&](std::size_t n) {
    line.sendFrame(FrameType::Data, block(static_cast<std::uint16_t>(n), kAgent.substr(n * MaxBlockData, MaxBlockData)));
  };
  for (std::size_t n = 0; n < 5; ++n) sendBlock(n);
  line.answer();
  // DA_BEGIN's ACK was lost: the same ACK again, and the blocks taken so far are kept.
  line.repeatFrame(FrameType::DaBegin, begin);
  EXPECT_EQ(line.answer(), ackFrame(line.lastTag, NoSequence));
  for (std::size_t n = 5; n * MaxBlockData < kAgent.size(); ++n) sendBlock(n);
  line.answer();
  line.sendFrame(FrameType::DaEnd);
  const std::string started = line.answer();
  ASSERT_FALSE(parse(started).empty());
  EXPECT_TRUE(isFrame(parse(started)[0], FrameType::Ack)) << "the payload's check matched";
  // DA_END asked again: ACK, alive byte and FLASH_INFO again; the Download Agent runs once.
  line.repeatFrame(FrameType::DaEnd);
  EXPECT_EQ(line.answer(), started);
  line.sendFrame(FrameType::RegionBegin, words({0, 4, crc32Of("abcd")}) + "\x03ROM");
  EXPECT_EQ(line.answer(), ackFrame(line.lastTag, NoSequence));
}

TEST(BootRom, VerifyWaitsForTheFlashWhileTheModuleSaysBusy) {
  // Four 64 KiB blocks to erase and 1024 pages to program: about 0.6 s and 0.7 s.
  const std::vector<ImageRegion> image = {{0x0, pseudoRandom(4 * FlashBlockSize, 9)}};
  for (const bool timing : {true, false}) {
    Line line(with([&](auto& s) { s.flashTiming = timing; }));
    Host host(line);
    EXPECT_EQ(host.download(kAgent, image).step, "") << timing;
    EXPECT_EQ(line.flash().read(0, static_cast<std::uint32_t>(image[0].bytes.size())), image[0].bytes);
    if (timing) {
      EXPECT_GT(host.busyAnswers, 0);
      EXPECT_GE(line.now(), 4 * 150 + 1024 * 7 / 10);
    } else {
      EXPECT_EQ(host.busyAnswers, 0);
      EXPECT_LT(line.now(), 100);
    }
  }
}

TEST(BootRom, RandomBytesNeverUpsetIt) {
  // Random bytes full of start bytes and frames of every type, at the speeds a host may use; the
  // module must survive them and still take a good download afterwards.
  std::mt19937 gen(11);
  Line line;
  const int speeds[] = {BootBaud, kDownloadBaud, 38400, -1};
  for (int round = 0; round < 400; ++round) {
    line.hostBaud = speeds[gen() % 4];
    std::string noise(gen() % 600, '\0');
    for (char& c : noise) c = static_cast<char>((gen() & 0x300) == 0 ? FrameStartByte : gen() & 0xFF);
    if (round % 5 == 0)
      noise += encodeFrame(static_cast<FrameType>(gen() % 0x20), static_cast<std::uint8_t>(gen()), noise.substr(0, gen() % 40));
    line.send(noise);
    line.wait(gen() % 3 == 0 ? 600 : 10);
  }
  line.wait(BootSilenceMs + 10);
  line.answer();
  const Outcome outcome = Host(line).download(kAgent, testImage());
  EXPECT_EQ(outcome.step + outcome.answer, "");
}

TEST(BootRom, AnswersToBlocksNameTheNextBlockNeeded) {
  // A region of 200 blocks; the flash takes no time, so no answer is held back.
  Line line(with([](auto& s) { s.flashTiming = false; }));
  startAgent(line);
  const std::string region = pseudoRandom(200 * MaxBlockData, 12);
  line.sendFrame(FrameType::RegionBegin, regionBegin(region));
  line.answer();
  const auto frame = [&](std::uint16_t first, std::size_t count) {
    return encodeFrame(FrameType::CheckedData, NoTag, checkedBlocks(first, region.substr(first * MaxBlockData, count * MaxBlockData)));
  };
  std::string badBlock = checkedBlocks(9, region.substr(9 * MaxBlockData, MaxBlockData));
  badBlock[kSequenceBytes + 7] ^= 0x01;  // the frame's check is good, the block's own is not
  std::string damaged = frame(9, 1);
  damaged[FrameHeaderSize + 7] ^= 0x01;  // and this frame's own check fails too
  std::string rest;
  for (std::uint16_t n = 9; n < 200; n += MaxFrameBlocks) rest += frame(n, std::min<std::size_t>(MaxFrameBlocks, 200 - n));
  struct Step {
    const char* name;
    std::string frames;
    std::optional<std::string> answer;  // none: not looked at
  };
  const Step steps[] = {
      {"blocks behind a gap are kept", frame(1, 8), blockAckFrame(1, 0)},
      {"a frame too far ahead: its own number", frame(150, 1), nakFrame(NoTag, 150, NakReason::OutOfSequence)},
      {"a block failing its own check", encodeFrame(FrameType::CheckedData, NoTag, badBlock), nakFrame(NoTag, 0, NakReason::BadCheck)},
      {"the gap filled", frame(0, 1), blockAckFrame(0, 9)},
      {"a damaged frame", damaged, nakFrame(NoTag, 9, NakReason::BadCheck)},
      {"every other block", rest, std::nullopt},
      {"a damaged frame once every block is in", damaged, nakFrame(NoTag, 200, NakReason::BadCheck)},
      {"VERIFY", encodeFrame(FrameType::Verify, 50, {}), ackFrame(50, NoSequence)},
      {"a damaged frame outside a payload", damaged, nakFrame(NoTag, NoSequence, NakReason::BadCheck)},
      {"a block outside a payload", frame(0, 1), nakFrame(NoTag, NoSequence, NakReason::NotExpected)},
  };
  for (const Step& step : steps) {
    line.send(step.frames);
    const std::string answer = line.answer();
    if (step.answer) {
      EXPECT_EQ(answer, *step.answer) << step.name;
    }
  }
}

TEST(BootRom, NextBlockNeededNeverPassesAnAnswerHeldBack) {
  // Programming is slower than the line: beyond 64 KiB waiting for the flash, answers wait.
  Line line(with([](auto& s) { s.pageProgramMs = 100; }));
  startAgent(line);
  const std::string region = pseudoRandom(160 * MaxBlockData, 14);
  line.sendFrame(FrameType::RegionBegin, regionBegin(region));
  line.answer();
  const auto frame = [&](std::uint16_t first) {
    return encodeFrame(FrameType::CheckedData, NoTag, checkedBlocks(first, region.substr(first * MaxBlockData, MaxFrameBlocks * MaxBlockData)));
  };
  const std::uint16_t memoryBlocks = AgentMemoryBytes / MaxBlockData;
  std::string acks;
  for (std::uint16_t n = 0; n < memoryBlocks; n += MaxFrameBlocks) {
    line.send(frame(n));
    acks += blockAckFrame(n, static_cast<std::uint16_t>(n + MaxFrameBlocks));
  }
  EXPECT_EQ(line.answer(), acks);
  line.send(frame(memoryBlocks));
  EXPECT_EQ(line.answer(), busyFrame(NoTag, memoryBlocks));
  // The blocks of the held frame are in order, but their answer is not out: not named as had.
  std::string damaged = dataFrame(region, memoryBlocks + MaxFrameBlocks);
  damaged[FrameHeaderSize + 7] ^= 0x01;
  line.send(damaged);
  EXPECT_EQ(line.answer(), nakFrame(NoTag, memoryBlocks, NakReason::BadCheck));
  // Once the flash has made room the held answer goes, naming the blocks after it.
  std::string later;
  for (int waited = 0; waited < 5000 && later.find(blockAckFrame(memoryBlocks, memoryBlocks + MaxFrameBlocks)) == std::string::npos;
       waited += 10) {
    line.wait(10);
    later += line.answer();
  }
  EXPECT_NE(later.find(blockAckFrame(memoryBlocks, memoryBlocks + MaxFrameBlocks)), std::string::npos);
}

TEST(BootRom, LongFlashWorkKeepsTheSessionAndBusyRunsFromTheCommandsArrival) {
  // Programming 2 KiB takes 8 s: longer than the idle limit, with no frame from the host.
  Line line(with([](auto& s) { s.pageProgramMs = 1000; }));
  startAgent(line);
  const std::string region = pseudoRandom(4 * MaxBlockData, 13);
  line.sendFrame(FrameType::RegionBegin, regionBegin(region));
  for (std::size_t n = 0; n < 4; ++n) line.send(dataFrame(region, n));
  line.answer();
  line.sendFrame(FrameType::Verify);
  const Millis asked = line.now();
  line.wait(BusyIntervalMs + 10);
  EXPECT_EQ(line.answer(), busyFrame(line.lastTag, NoSequence)) << "the first BUSY within 100 ms of VERIFY";
  std::string answer;
  while (answer.find(ackFrame(line.lastTag, NoSequence)) == std::string::npos && line.now() - asked < 20000) {
    line.wait(100);
    answer += line.answer();
  }
  EXPECT_NE(answer.find(ackFrame(line.lastTag, NoSequence)), std::string::npos);
  EXPECT_GT(line.now() - asked, BootSilenceMs);
  EXPECT_TRUE(line.rom().active());
  // The idle time runs from VERIFY's answer.
  line.wait(BootSilenceMs - 200);
  EXPECT_TRUE(line.rom().active());
  line.wait(300);
  EXPECT_FALSE(line.rom().active());
}

TEST(BootRom, EachStateTakesItsOwnCommandsAndRefusesTheOthersForGood) {
  const FrameType commands[] = {FrameType::Hello,       FrameType::SetBaud, FrameType::DaBegin, FrameType::DaEnd,
                                FrameType::RegionBegin, FrameType::Verify,  FrameType::Finish};
  const std::string agentBegin = words({kStationChip, static_cast<std::uint32_t>(kAgent.size()), crc32Of(kAgent)});
  const std::string region = pseudoRandom(4 * MaxBlockData, 15);
  struct Case {
    const char* state;
    std::function<void(Line&)> reach;
    std::set<FrameType> taken;  // every other command is answered NAK 8
    FrameType next;             // one of them, with its payload, and what it is answered
    std::string payload;
    std::string answer;
  };
  const Case cases[] = {
      {"boot ROM", [](Line& l) { l.send(bytes({SyncByte})); }, {FrameType::Hello}, FrameType::Hello,
       bytes({ProtocolVersion}), "frame 129"},
      {"after HELLO", [](Line& l) { l.hello(); }, {FrameType::SetBaud}, FrameType::SetBaud, words({BootBaud}), "frame 144"},
      {"at the new speed",
       [](Line& l) {
         l.hello();
         l.sendFrame(FrameType::SetBaud, words({BootBaud}));
         l.send(bytes({SyncByte}));
       },
       {FrameType::DaBegin}, FrameType::DaBegin, agentBegin, "frame 144"},
      // DA_END and VERIFY with blocks missing: the payload does not match its check.
      {"Download Agent coming", beginAgent, {FrameType::DaEnd}, FrameType::DaEnd, "", "NAK 6"},
      {"Download Agent running", startAgent, {FrameType::RegionBegin, FrameType::Finish}, FrameType::RegionBegin,
       regionBegin(region), "frame 144"},
      {"region coming",
       [&](Line& l) {
         startAgent(l);
         l.sendFrame(FrameType::RegionBegin, regionBegin(region));
       },
       {FrameType::Verify}, FrameType::Verify, "", "NAK 6"},
  };
  for (const Case& c : cases) {
    Line line(with([](auto& s) { s.flashTiming = false; }));
    c.reach(line);
    line.answer();
    for (FrameType command : commands) {
      if (c.taken.count(command)) continue;
      line.sendFrame(command);
      const std::string refused = line.answer();
      EXPECT_EQ(refused, nakFrame(line.lastTag, NoSequence, NakReason::NotExpected)) << c.state << " " << int(command);
      // A refused command counts as taken: its repeat gets the same answer, and nothing changes.
      line.repeatFrame(command);
      EXPECT_EQ(line.answer(), refused) << c.state << " " << int(command);
    }
    line.sendFrame(c.next, c.payload);
    const std::vector<Token> answer = parse(line.answer());
    EXPECT_EQ(describe(answer), c.answer) << c.state;
    if (!answer.empty()) {
      EXPECT_EQ(answer[0].frame.tag, line.lastTag) << c.state;
    }
  }
}

}  // namespace
}  // namespace quenby::modsim
