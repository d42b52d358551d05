// The checksums and the frame codec: check values, chaining, round trips, and a decoder that
// finds its way back after garbage, bad checks, oversize lengths and stalled frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "brom/byte_order.h"
#include "brom/crc.h"
#include "brom/frame_codec.h"
#include "brom/protocol.h"

namespace quenby::brom {
namespace {

using Clock = FrameDecoder::Clock;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes pattern(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

struct Decoded {
  std::vector<std::pair<std::uint8_t, Bytes>> frames;
  int dropped = 0;
};

// Feeds the stream in pieces of `chunk` bytes (0: all at once).
Decoded decodeAll(const Bytes& stream, std::size_t chunk = 0,
                  Clock::time_point now = Clock::now()) {
  FrameDecoder decoder;
  Decoded out;
  std::size_t pos = 0;
  while (pos < stream.size()) {
    const std::size_t piece =
        chunk == 0 ? stream.size() - pos : std::min(chunk, stream.size() - pos);
    decoder.push(std::span(stream.data() + pos, piece), now);
    for (auto e = decoder.next(now); e != FrameDecoder::Event::None; e = decoder.next(now)) {
      if (e == FrameDecoder::Event::Frame) {
        const FrameView f = decoder.frame();
        out.frames.emplace_back(f.type, Bytes(f.payload.begin(), f.payload.end()));
      } else {
        ++out.dropped;
      }
    }
    pos += piece;
  }
  // Then the line falls quiet: an unfinished frame is given up and what it held is looked at.
  const auto later = now + FrameLimit + std::chrono::milliseconds(1);
  for (auto e = decoder.next(later); e != FrameDecoder::Event::None; e = decoder.next(later)) {
    if (e == FrameDecoder::Event::Frame) {
      const FrameView f = decoder.frame();
      out.frames.emplace_back(f.type, Bytes(f.payload.begin(), f.payload.end()));
    } else {
      ++out.dropped;
    }
  }
  return out;
}

TEST(Crc, CheckValuesAndChaining) {
  const Bytes digits = bytesOf("123456789");
  EXPECT_EQ(crc16(digits), 0x29B1);
  EXPECT_EQ(crc32(digits), 0xCBF43926u);
  EXPECT_EQ(crc32({}), 0u);

  const std::span<const std::uint8_t> all(digits);
  for (std::size_t cut = 0; cut <= digits.size(); ++cut) {
    EXPECT_EQ(crc16(all.subspan(cut), crc16(all.first(cut))), 0x29B1) << cut;
    EXPECT_EQ(crc32(all.subspan(cut), crc32(all.first(cut))), 0xCBF43926u) << cut;
  }
}

TEST(FrameCodec, RoundTripsEveryPayloadSizeInAnyChunking) {
  struct Case {
    std::uint8_t type;
    std::size_t payload;
  };
  const Case cases[] = {
      {frame::Finish, 0},
      {frame::Ack, 2},
      {frame::Nak, 3},
      {frame::HelloAck, 6},
      {frame::Data, 2 + BlockBytes},
      {frame::Data, MaxFramePayload},
      // A payload full of start bytes must not confuse the decoder.
      {frame::RegionBegin, 40},
  };
  for (const Case& c : cases) {
    Bytes payload = pattern(c.payload);
    if (c.type == frame::RegionBegin) payload.assign(c.payload, FrameStart);
    const Bytes stream = encodeFrame(c.type, 9, payload);
    ASSERT_EQ(stream.size(), payload.size() + FrameOverheadBytes);
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{1000}}) {
      const Decoded d = decodeAll(stream, chunk);
      ASSERT_EQ(d.frames.size(), 1u) << int(c.type) << " chunk " << chunk;
      EXPECT_EQ(d.frames[0].first, c.type);
      EXPECT_EQ(d.frames[0].second, payload);
      EXPECT_EQ(d.dropped, 0);
    }
  }
}

TEST(FrameCodec, DataFramesCarrySequenceThenBlocksWithOrWithoutTheirChecks) {
  const Bytes blocks = pattern(BlockBytes + 100);
  const auto first = std::span(blocks).first(BlockBytes);
  const auto second = std::span(blocks).subspan(BlockBytes);
  // The block's number is part of its check: the same bytes as another block do not pass.
  EXPECT_NE(blockCheck(0x1234, first), blockCheck(0x1235, first));
  for (const bool checked : {false, true}) {
    Bytes stream;
    appendDataFrame(stream, 0x1234, blocks, checked);
    const Decoded d = decodeAll(stream);
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].first, checked ? frame::CheckedData : frame::Data);
    Bytes expected = {0x34, 0x12};
    expected.insert(expected.end(), first.begin(), first.end());
    if (checked) putU32(expected, blockCheck(0x1234, first));
    expected.insert(expected.end(), second.begin(), second.end());
    if (checked) putU32(expected, blockCheck(0x1235, second));
    EXPECT_EQ(d.frames[0].second, expected) << checked;
    // Framing: start, type, tag, length, sequence and CRC-32, and four bytes a checked block.
    EXPECT_EQ(stream.size(), blocks.size() + 11 + (checked ? 2 * 4 : 0)) << checked;
  }
}

TEST(FrameCodec, ResynchronisesFromTheByteAfterAFalseStart) {
  const Bytes good1 = encodeFrame(frame::Ack, 1, Bytes{1, 0});
  const Bytes good2 = encodeFrame(frame::Nak, 2, Bytes{2, 0, 1});
  Bytes badCheck;
  appendDataFrame(badCheck, 3, pattern(10), false);
  badCheck[8] ^= 0x40;  // a payload bit flipped on the line
  // Length 4131: one more than any frame may carry.
  const Bytes oversize = {FrameStart, frame::Data, NoTag, 0x23, 0x10};
  // A stray start byte with a plausible length: the frames behind it are part of its "payload"
  // until its check fails, and are still found.
  const Bytes falseStart = {FrameStart, frame::Ack, 0x00, 0x08, 0x00};

  struct Case {
    const char* name;
    std::vector<Bytes> pieces;
    std::size_t frames;
    int dropped;
  };
  const Case cases[] = {
      {"garbage first", {Bytes{0x00, 0x5A, 0xA5, 0xFF}, good1}, 1, 0},
      {"garbage between", {good1, Bytes{0x11, 0x22}, good2}, 2, 0},
      {"bad check then good", {badCheck, good1}, 1, 1},
      {"oversize then good", {oversize, good2}, 1, 0},
      {"bad check between", {good1, badCheck, good2}, 2, 1},
      {"stray start byte before a frame", {Bytes{FrameStart}, good1, good2}, 2, 0},
      {"false start swallowing two frames", {falseStart, good1, good2}, 2, 1},
      {"frame cut short, the next one inside it", {Bytes(good2.begin(), good2.end() - 3), good1,
                                                   good2}, 2, 1},
  };
  for (const Case& c : cases) {
    Bytes stream;
    for (const Bytes& p : c.pieces) stream.insert(stream.end(), p.begin(), p.end());
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
      const Decoded d = decodeAll(stream, chunk);
      EXPECT_EQ(d.frames.size(), c.frames) << c.name << " chunk " << chunk;
      EXPECT_GE(d.dropped, c.dropped) << c.name << " chunk " << chunk;
      if (d.frames.size() == c.frames && c.frames > 0) {
        EXPECT_EQ(d.frames.back().first, c.pieces.back()[1]) << c.name;
      }
    }
  }
}

TEST(FrameCodec, HostTakesALengthNoModuleFrameHasForAFalseStartAtOnce) {
  // A stray start byte in the module's answers claims 17 bytes: the host does not wait for
  // seventeen more bytes of answers (or the line to fall quiet) to find the ACK behind it.
  const Bytes ack = encodeFrame(frame::Ack, NoTag, Bytes{5, 0});
  Bytes stream = {FrameStart, frame::Ack, NoTag, MaxAnswerPayload + 1, 0};
  stream.insert(stream.end(), ack.begin(), ack.end());
  FrameDecoder decoder(MaxAnswerPayload);
  const auto now = Clock::now();
  decoder.push(stream, now);
  ASSERT_EQ(decoder.next(now), FrameDecoder::Event::Frame);
  EXPECT_EQ(decoder.frame().payload[0], 5);
}

TEST(FrameCodec, CatchesTheTwoBitErrorThatACrc16MissesInA4KiBFrame) {
  // CRC-16/CCITT repeats after 32767 bits: two flipped bits that far apart leave it unchanged,
  // and a frame of 4 KiB of data is longer than that.
  Bytes message = pattern(4101);
  Bytes damaged = message;
  damaged[0] ^= 0x80;     // the first bit on the line ...
  damaged[4095] ^= 0x01;  // ... and the one 32767 bits later
  EXPECT_EQ(crc16(damaged), crc16(message));
  EXPECT_NE(crc32(damaged), crc32(message));

  // The frame check catches two flipped bits anywhere in a frame.
  Bytes frame;
  appendDataFrame(frame, 0, pattern(MaxFrameBlocks * BlockBytes), false);
  for (std::size_t distance : {std::size_t{1}, std::size_t{8 * 512 + 3}, frame.size() * 8 - 41}) {
    Bytes bad = frame;
    const std::size_t a = 8, b = a + distance;
    bad[a / 8] ^= static_cast<std::uint8_t>(0x80 >> (a % 8));
    bad[b / 8] ^= static_cast<std::uint8_t>(0x80 >> (b % 8));
    const Decoded d = decodeAll(bad);
    EXPECT_TRUE(d.frames.empty()) << distance;
  }
}

TEST(FrameCodec, StalledFrameIsDroppedAfterTheFrameLimit) {
  const Bytes frame = encodeFrame(frame::Ack, 1, Bytes{7, 0});
  const Bytes head(frame.begin(), frame.begin() + 3);
  const Bytes good = encodeFrame(frame::Ack, 2, Bytes{8, 0});

  FrameDecoder decoder;
  const auto start = Clock::now();
  decoder.push(head, start);
  EXPECT_EQ(decoder.next(start + FrameLimit), FrameDecoder::Event::None);
  EXPECT_TRUE(decoder.inFrame());
  EXPECT_EQ(decoder.next(start + FrameLimit + std::chrono::milliseconds(1)),
            FrameDecoder::Event::None);
  EXPECT_FALSE(decoder.inFrame());

  // The next frame decodes whole; the stalled one's tail is skipped as garbage.
  Bytes rest(frame.begin() + 3, frame.end());
  ASSERT_EQ(std::count(rest.begin(), rest.end(), FrameStart), 0) << "pick another payload";
  rest.insert(rest.end(), good.begin(), good.end());
  decoder.push(rest, start + FrameLimit * 2);
  ASSERT_EQ(decoder.next(start + FrameLimit * 2), FrameDecoder::Event::Frame);
  EXPECT_EQ(decoder.frame().payload[0], 8);
  EXPECT_EQ(decoder.frame().tag, 2);
  EXPECT_EQ(decoder.next(start + FrameLimit * 2), FrameDecoder::Event::None);
}

TEST(FrameCodec, AFrameCutShortEndsAtTheSilenceBehindIt) {
  // A long frame's first bytes, then (after the sender threw away the rest and waited) a whole
  // short frame: the receiver never looked in between, yet the cut frame must not swallow it.
  const Bytes cut = encodeFrame(frame::Data, 1, Bytes(600, 0x11));
  const Bytes abort = encodeFrame(frame::Abort, 2, {});
  FrameDecoder decoder;
  const auto start = Clock::now();
  decoder.push(std::span(cut).first(200), start);
  decoder.push(abort, start + FrameLimit + std::chrono::milliseconds(100));
  ASSERT_EQ(decoder.next(start + FrameLimit + std::chrono::milliseconds(100)),
            FrameDecoder::Event::Frame);
  EXPECT_EQ(decoder.frame().type, frame::Abort);
  EXPECT_EQ(decoder.frame().tag, 2);
}

}  // namespace
}  // namespace quenby::brom
