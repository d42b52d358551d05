#include "tools/modsim/boot_frames.h"

#include <gtest/gtest.h>

namespace quenby::modsim {
namespace {

TEST(BootFrames, ChecksGiveTheStandardCheckValues) {
  // The check value of each CRC is its result over "123456789".
  EXPECT_EQ(frameCheck("123456789"), 0x29B1);
  EXPECT_EQ(frameCheck(""), 0xFFFF);
  EXPECT_EQ(crc32Of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc32Of(""), 0u);
  Crc32 pieces;
  pieces.update("1234");
  pieces.update("56789");
  EXPECT_EQ(pieces.value(), 0xCBF43926u);
}

TEST(BootFrames, AnswersAreFramedLittleEndianWithTheirCheck) {
  const std::string nak = nakFrame(0x1234, NakReason::ChipRejected);
  EXPECT_EQ(nak.substr(0, 7), std::string("\xC3\x91\x03\x00\x34\x12\x03", 7));
  EXPECT_EQ(readU16(nak, 7), frameCheck(nak.substr(1, 6)));
  EXPECT_EQ(readU32(std::string("\x00\x08\x10\x00", 4), 0), 0x100800u);
}

std::vector<ReceivedFrame> receiveAll(const std::string& bytes) {
  FrameReceiver receiver;
  std::vector<ReceivedFrame> frames;
  for (char c : bytes)
    if (auto f = receiver.feed(static_cast<std::uint8_t>(c))) frames.push_back(std::move(*f));
  return frames;
}

TEST(BootFrames, ReceiverCutsBytesIntoFrames) {
  const std::string hello = encodeFrame(FrameType::Hello, std::string(1, '\x01'));
  const std::string finish = encodeFrame(FrameType::Finish, "");
  const std::string full = encodeFrame(FrameType::Data, std::string(MaxFramePayload, '\xA5'));
  std::string broken = hello;
  broken[4] = '\x02';  // payload changed, check kept
  const ReceivedFrame helloFrame{0x01, "\x01", true};
  const ReceivedFrame finishFrame{0x07, "", true};
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<ReceivedFrame> frames;
  };
  const Case cases[] = {
      {"one frame", hello, {helloFrame}},
      {"two frames back to back", hello + finish, {helloFrame, finishFrame}},
      {"bytes before a frame are skipped", "\xA5junk\x00" + hello, {helloFrame}},
      {"largest payload", full, {{0x10, std::string(MaxFramePayload, '\xA5'), true}}},
      {"bad check", broken + finish, {{0x01, "\x02", false}, finishFrame}},
      {"length too long: given up after the length field",
       std::string("\xC3\x10\x09\x10", 4) + "xx" + hello,
       {{0x10, "", false}, helloFrame}},
      {"unfinished frame", hello.substr(0, 5), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(receiveAll(c.bytes), c.frames) << c.name;
}

}  // namespace
}  // namespace quenby::modsim
