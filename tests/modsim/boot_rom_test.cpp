#include "tools/modsim/boot_rom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace quenby::modsim {
namespace {

constexpr std::uint32_t kStationChip = 3072;
constexpr int kDownloadBaud = 921600;
constexpr std::size_t kWindow = 8;
constexpr int kMostSends = 4;
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

const std::string kAgent = pseudoRandom(9000, 3);  // three blocks

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
  void sendFrame(FrameType type, std::string_view payload = {}) { send(encodeFrame(type, payload)); }
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
  SimulatedFlash& flash() { return flash_; }
  const std::vector<BootEvent>& events() const { return events_; }

  int hostBaud = BootBaud;

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

// The answer cut into single bytes (outside frames) and frames, in order.
struct Token {
  std::optional<std::uint8_t> single;
  ReceivedFrame frame;
};

std::vector<Token> parse(std::string_view bytes) {
  std::vector<Token> tokens;
  FrameReceiver receiver;
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (!receiver.inFrame() && b != FrameStartByte)
      tokens.push_back({b, {}});
    else if (auto frame = receiver.feed(b))
      tokens.push_back({std::nullopt, std::move(*frame)});
  }
  return tokens;
}

bool isFrame(const Token& t, FrameType type) {
  return !t.single && t.frame.intact && t.frame.type == static_cast<std::uint8_t>(type);
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
// each region and its verify, finish. Blocks go back-N with a window of eight, as the station
// counts: a NAK sends it back to the block named; the NAKs for the blocks that were in flight
// behind that one are no new failures; the fourth failure of a block ends the download.
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
    if (answer.size() != 1 || !isFrame(answer[0], FrameType::FlashInfo)) return fail("flash-info", answer);
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

  // Exactly one frame of this type; an ACK for a command carries no sequence.
  bool reply(const std::string& step, FrameType type) {
    const std::vector<Token> answer = parse(line_.answer());
    const bool ok = answer.size() == 1 && isFrame(answer[0], type) &&
                    (type != FrameType::Ack || answer[0].frame.payload == "\xFF\xFF");
    return ok || failed(step, answer);
  }

  bool blocks(const std::string& step, const std::string& payload) {
    const std::size_t count = (payload.size() + MaxBlockData - 1) / MaxBlockData;
    std::vector<int> failures(count, 0);
    std::size_t acknowledged = 0, next = 0, staleNaks = 0;
    while (acknowledged < count) {
      for (; next < count && next < acknowledged + kWindow; ++next)
        line_.sendFrame(FrameType::Data, block(static_cast<std::uint16_t>(next), payload.substr(next * MaxBlockData, MaxBlockData)));
      const std::vector<Token> answer = parse(line_.answer());
      if (answer.empty()) return failed(step, answer);
      for (const Token& t : answer) {
        // Every answer names the first block not yet acknowledged.
        if (t.single || t.frame.payload.size() < 2 || readU16(t.frame.payload, 0) != acknowledged)
          return failed(step, {t});
        if (isFrame(t, FrameType::Ack)) {
          ++acknowledged;
          continue;
        }
        const bool retry = isFrame(t, FrameType::Nak) && t.frame.payload.size() == 3 &&
                           (t.frame.payload[2] == 1 || t.frame.payload[2] == 2);
        if (!retry) return failed(step, {t});
        if (staleNaks > 0) {
          --staleNaks;
          continue;
        }
        if (++failures[acknowledged] == kMostSends) return failed(step, {t});
        staleNaks = next - acknowledged - 1;
        next = acknowledged;
      }
      if (staleNaks > 0) return failed(step, {});  // blocks left unanswered
    }
    return true;
  }

  Line& line_;
  Outcome outcome_;
};

TEST(BootRom, DownloadsIntoTheFlashAndStartsTheNewFirmware) {
  Line line;
  const std::vector<ImageRegion> image = testImage();
  const Outcome outcome = Host(line).download(kAgent, image);
  EXPECT_EQ(outcome.step + outcome.answer, "");
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
  EXPECT_EQ((toDownloadSpeed - 1)->bytes, ackFrame(NoSequence));
  EXPECT_EQ(e[e.size() - 2], BootEvent::send(ackFrame(NoSequence)));
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
      {"three bad blocks are resent", with([](auto& s) { s.corruptFirstBlocks = 3; }), "", ""},
      {"four bad blocks end it", with([](auto& s) { s.corruptFirstBlocks = 4; }), "da-data", "NAK 1"},
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

TEST(BootRom, SyncByteAtTheBootSpeedPowersTheModuleUpWhateverItWasDoing) {
  Line line;
  line.hostBaud = 38400;  // at another speed 0xA5 is just a byte for the firmware
  EXPECT_EQ(line.send("$PMTK605*31\r\n\xA5"), "$PMTK605*31\r\n\xA5");
  EXPECT_FALSE(line.rom().active());
  line.hostBaud = BootBaud;  // the bytes before the sync byte still reach the firmware
  EXPECT_EQ(line.send("$PMTK605*31\r\n\xA5\xA5"), "$PMTK605*31\r\n");
  EXPECT_EQ(line.answer(), "\x5A\x5A");  // a late sync byte is answered too

  // In a session at the download speed, the host at the boot speed is heard only as a restart.
  line.sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
  line.sendFrame(FrameType::SetBaud, words({kDownloadBaud}));
  line.answer();
  line.sendFrame(FrameType::Hello, bytes({ProtocolVersion}));
  EXPECT_EQ(line.answer(), "");
  const std::size_t before = line.events().size();
  line.send(bytes({SyncByte}));
  EXPECT_EQ(line.answer(), "\x5A");
  EXPECT_EQ(line.events()[before], BootEvent::powerUp());
  EXPECT_EQ(line.events()[before + 1], BootEvent::switchSpeed(BootBaud));
}

TEST(BootRom, GarbageAndBrokenFramesBeforeAFrameAreSkipped) {
  std::string brokenCheck = encodeFrame(FrameType::Hello, bytes({ProtocolVersion}));
  brokenCheck.back() ^= 0x01;
  const std::string garbage[] = {
      "$GPGGA,noise\r\n",
      std::string("\0\0\xFF\xFF", 4),
      brokenCheck,
      bytes({FrameStartByte, 0x01, 0xFF, 0xFF, 0x00, 0x11}),  // a length beyond the largest frame
  };
  for (const std::string& g : garbage) {
    Line line;
    line.send(bytes({SyncByte}));
    line.answer();
    line.send(g + encodeFrame(FrameType::Hello, bytes({ProtocolVersion})));
    // HELLO_ACK: chip value 3072, boot ROM version 1.0
    EXPECT_EQ(line.answer(), encodeFrame(FrameType::HelloAck, std::string("\x00\x0C\x00\x00\x00\x01", 6))) << g;
  }
}

TEST(BootRom, FrameCutOffByAPauseIsDropped) {
  Line line;
  line.send(bytes({SyncByte}));
  line.answer();
  const std::string hello = encodeFrame(FrameType::Hello, bytes({ProtocolVersion}));
  line.send(hello.substr(0, 3));
  line.wait(FrameGapMs + 10);
  line.send(hello.substr(3));
  EXPECT_EQ(line.answer(), "");
  line.send(hello);
  EXPECT_EQ(parse(line.answer()).size(), 1u);
}

TEST(BootRom, FramesThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    std::string frame;
    std::string answer;
  };
  const std::string notExpected = nakFrame(NoSequence, NakReason::NotExpected);
  const Case beforeHello[] = {
      {"block before the Download Agent", encodeFrame(FrameType::Data, block(0, "x")), notExpected},
      {"finish before hello", encodeFrame(FrameType::Finish, {}), notExpected},
      {"a module's frame", encodeFrame(FrameType::Ack, "\xFF\xFF"), notExpected},
      {"unknown type", encodeFrame(static_cast<FrameType>(0x55), {}), notExpected},
      {"hello of another version", encodeFrame(FrameType::Hello, bytes({2})), notExpected},
      {"hello too long", encodeFrame(FrameType::Hello, bytes({1, 0})), nakFrame(NoSequence, NakReason::BadCheck)},
  };
  for (const Case& c : beforeHello) {
    Line line;
    line.send(bytes({SyncByte}));
    line.answer();
    line.send(c.frame);
    EXPECT_EQ(line.answer(), c.answer) << c.name;
  }

  // Blocks of a Download Agent of two blocks; each bad one names the block expected.
  Line line;
  line.hello();
  line.sendFrame(FrameType::SetBaud, words({BootBaud}));
  line.sendFrame(FrameType::DaBegin, words({kStationChip, 2 * MaxBlockData, 0}));
  line.answer();
  std::string brokenCheck = encodeFrame(FrameType::Data, block(0, "x"));
  brokenCheck.back() ^= 0x01;
  const std::string full(MaxBlockData, 'x');
  const Case blocks[] = {
      {"bad check", brokenCheck, nakFrame(0, NakReason::BadCheck)},
      {"no data", encodeFrame(FrameType::Data, block(0, "")), nakFrame(0, NakReason::BadCheck)},
      {"more than a block", encodeFrame(FrameType::Data, block(0, full + "x")), nakFrame(0, NakReason::BadCheck)},
      {"out of sequence", encodeFrame(FrameType::Data, block(1, full)), nakFrame(0, NakReason::OutOfSequence)},
      {"expected", encodeFrame(FrameType::Data, block(0, full)), ackFrame(0)},
      {"next", encodeFrame(FrameType::Data, block(1, full)), ackFrame(1)},
      {"past the announced length", encodeFrame(FrameType::Data, block(2, "x")), nakFrame(2, NakReason::NotExpected)},
  };
  for (const Case& c : blocks) {
    line.send(c.frame);
    EXPECT_EQ(line.answer(), c.answer) << c.name;
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
    if (round % 5 == 0) noise += encodeFrame(static_cast<FrameType>(gen() % 0x20), noise.substr(0, gen() % 40));
    line.send(noise);
    line.wait(gen() % 3 == 0 ? 600 : 10);
  }
  line.wait(BootSilenceMs + 10);
  line.answer();
  const Outcome outcome = Host(line).download(kAgent, testImage());
  EXPECT_EQ(outcome.step + outcome.answer, "");
}

}  // namespace
}  // namespace quenby::modsim
