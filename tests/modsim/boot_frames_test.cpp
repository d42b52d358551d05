#include "tools/modsim/boot_frames.h"

#include <gtest/gtest.h>

namespace quenby::modsim {
namespace {

TEST(BootFrames, ChecksGiveTheStandardCheckValues) {
  // The check value of a CRC is its result over "123456789".
  EXPECT_EQ(crc32Of("123456789"), 0xCBF43926u);
  EXPECT_EQ(crc32Of(""), 0u);
  Crc32 pieces;
  pieces.update("1234");
  pieces.update("56789");
  EXPECT_EQ(pieces.value(), 0xCBF43926u);
}

TEST(BootFrames, AnswersAreFramedLittleEndianWithTheirCheck) {
  const std::string nak = nakFrame(0x42, 0x1234, NakReason::ChipRejected);
  EXPECT_EQ(nak.substr(0, 8), std::string("\xC3\x91\x42\x03\x00\x34\x12\x03", 8));
  EXPECT_EQ(readU32(nak, 8), crc32Of(nak.substr(1, 7)));
  EXPECT_EQ(readU32(std::string("\x00\x08\x10\x00", 4), 0), 0x100800u);
}

// Everything the bytes make, the line falling quiet at the end.
std::vector<Received> receiveAll(const std::string& bytes) {
  FrameReceiver receiver;
  std::vector<Received> out;
  const auto take = [&](std::int64_t now) {
    while (auto r = receiver.next(now))
      if (r->kind != Received::Kind::Loose) out.push_back(std::move(*r));
  };
  for (char c : bytes) {
    receiver.push(static_cast<std::uint8_t>(c), 0);
    take(0);
  }
  take(FrameGapMs);
  return out;
}

TEST(BootFrames, ReceiverCutsBytesIntoFramesAndRescansAfterAFalseStart) {
  const std::string hello = encodeFrame(FrameType::Hello, 7, std::string(1, '\x02'));
  const std::string finish = encodeFrame(FrameType::Finish, 8, "");
  const std::string full = encodeFrame(FrameType::Data, NoTag, std::string(MaxFramePayload, '\xC3'));
  std::string broken = hello;
  broken[5] = '\x03';  // payload changed, check kept
  const Received helloFrame{Received::Kind::Frame, 0x01, 7, "\x02", 0};
  const Received finishFrame{Received::Kind::Frame, 0x07, 8, "", 0};
  const Received damaged{Received::Kind::Damaged, 0x01, NoTag, "", 0};
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Received> frames;
  };
  const Case cases[] = {
      {"one frame", hello, {helloFrame}},
      {"two frames back to back", hello + finish, {helloFrame, finishFrame}},
      {"bytes before a frame are skipped", "\xA5junk\x00" + hello, {helloFrame}},
      {"largest payload, full of start bytes", full,
       {{Received::Kind::Frame, 0x10, NoTag, std::string(MaxFramePayload, '\xC3'), 0}}},
      {"bad check, then the frame behind it", broken + finish, {damaged, finishFrame}},
      {"length too long: a false start", std::string("\xC3\x10\x00\x03\x10", 5) + hello, {helloFrame}},
      // A stray start byte takes the frames behind it for its own; they are found once it fails.
      {"stray start byte", "\xC3" + hello + finish, {helloFrame, finishFrame}},
      {"frame cut short, the next inside it", hello.substr(0, 7) + finish + hello,
       {{Received::Kind::Damaged, 0x01, NoTag, "", 0}, finishFrame, helloFrame}},
      {"unfinished frame", hello.substr(0, 5), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(receiveAll(c.bytes), c.frames) << c.name;
}

}  // namespace
}  // namespace quenby::modsim
