// The checksums and the frame codec: check values, chaining, round trips, and a decoder that
// finds its way back after garbage, bad checks, oversize lengths and stalled frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
  std::vector<std::uint8_t> dropped;
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
    std::span<const std::uint8_t> in(stream.data() + pos, piece);
    while (!in.empty()) {
      const auto step = decoder.feed(in, now);
      in = in.subspan(step.consumed);
      if (step.event == FrameDecoder::Event::Frame) {
        const FrameView f = decoder.frame();
        out.frames.emplace_back(f.type, Bytes(f.payload.begin(), f.payload.end()));
      } else if (step.event == FrameDecoder::Event::Dropped) {
        out.dropped.push_back(decoder.droppedType());
      }
    }
    pos += piece;
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
    const Bytes stream = encodeFrame(c.type, payload);
    ASSERT_EQ(stream.size(), payload.size() + FrameOverheadBytes);
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{1000}}) {
      const Decoded d = decodeAll(stream, chunk);
      ASSERT_EQ(d.frames.size(), 1u) << int(c.type) << " chunk " << chunk;
      EXPECT_EQ(d.frames[0].first, c.type);
      EXPECT_EQ(d.frames[0].second, payload);
      EXPECT_TRUE(d.dropped.empty());
    }
  }
}

TEST(FrameCodec, DataFrameCarriesSequenceThenBlock) {
  Bytes stream;
  const Bytes block = pattern(100);
  appendDataFrame(stream, 0x1234, block);
  const Decoded d = decodeAll(stream);
  ASSERT_EQ(d.frames.size(), 1u);
  EXPECT_EQ(d.frames[0].first, frame::Data);
  Bytes expected = {0x34, 0x12};
  expected.insert(expected.end(), block.begin(), block.end());
  EXPECT_EQ(d.frames[0].second, expected);
  // Eight bytes of framing per block.
  EXPECT_EQ(stream.size(), block.size() + 8);
}

TEST(FrameCodec, ResynchronisesAfterGarbageBadChecksAndOversizeLengths) {
  const Bytes good1 = encodeFrame(frame::Ack, Bytes{1, 0});
  const Bytes good2 = encodeFrame(frame::Nak, Bytes{2, 0, 1});
  Bytes badCheck = encodeFrame(frame::Data, pattern(10));
  badCheck[6] ^= 0x40;  // a payload bit flipped on the line
  // Type Data, length 4105: one more than any frame may carry.
  const Bytes oversize = {FrameStart, frame::Data, 0x09, 0x10, 0x00, 0x00};

  struct Case {
    const char* name;
    std::vector<Bytes> pieces;
    std::size_t frames;
    std::vector<std::uint8_t> dropped;
  };
  const Case cases[] = {
      {"garbage first", {Bytes{0x00, 0x5A, 0xA5, 0xFF}, good1}, 1, {}},
      {"garbage between", {good1, Bytes{0x11, 0x22}, good2}, 2, {}},
      {"bad check then good", {badCheck, good1}, 1, {frame::Data}},
      {"oversize then good", {oversize, good2}, 1, {frame::Data}},
      {"bad check between", {good1, badCheck, good2}, 2, {frame::Data}},
  };
  for (const Case& c : cases) {
    Bytes stream;
    for (const Bytes& p : c.pieces) stream.insert(stream.end(), p.begin(), p.end());
    for (std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
      const Decoded d = decodeAll(stream, chunk);
      EXPECT_EQ(d.frames.size(), c.frames) << c.name << " chunk " << chunk;
      EXPECT_EQ(d.dropped, c.dropped) << c.name << " chunk " << chunk;
    }
  }
}

TEST(FrameCodec, StalledFrameIsDroppedAfterTheFrameLimit) {
  const Bytes frame = encodeFrame(frame::Ack, Bytes{7, 0});
  const Bytes head(frame.begin(), frame.begin() + 3);
  const Bytes good = encodeFrame(frame::Ack, Bytes{8, 0});

  FrameDecoder decoder;
  const auto start = Clock::now();
  decoder.feed(head, start);
  EXPECT_TRUE(decoder.inFrame());
  EXPECT_FALSE(decoder.expire(start + FrameLimit));
  EXPECT_TRUE(decoder.inFrame());
  EXPECT_TRUE(decoder.expire(start + FrameLimit + std::chrono::milliseconds(1)));
  EXPECT_FALSE(decoder.inFrame());

  // The next frame decodes whole; the stalled one's tail is skipped as garbage.
  Bytes rest(frame.begin() + 3, frame.end());
  ASSERT_EQ(std::count(rest.begin(), rest.end(), FrameStart), 0) << "pick another payload";
  rest.insert(rest.end(), good.begin(), good.end());
  std::span<const std::uint8_t> in(rest);
  int frames = 0;
  while (!in.empty()) {
    const auto step = decoder.feed(in, start + FrameLimit * 2);
    in = in.subspan(step.consumed);
    if (step.event == FrameDecoder::Event::Frame) {
      ++frames;
      EXPECT_EQ(decoder.frame().payload[0], 8);
    }
  }
  EXPECT_EQ(frames, 1);
}

}  // namespace
}  // namespace quenby::brom
