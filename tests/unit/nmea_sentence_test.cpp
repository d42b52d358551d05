#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/nmea_sentence.h"

namespace quenby {
namespace {

TEST(NmeaChecksum, XorOfTheCharactersAfterTheDollar) {
  struct Case {
    std::string_view body;
    std::string sum;
  };
  const Case cases[] = {
      {"$PMTK811", "3A"},
      {"$PMTK104", "37"},
      {"$PMTK220,1000", "1F"},
      {"$", "00"},                 // nothing to sum
      {"$A", "41"},
      {"$AA", "00"},               // equal characters cancel
      {"$\x0A", "0A"},             // a single digit still gives two
      {"$\xFF", "FF"},             // upper-case, and high bytes count as unsigned
      {"PMTK811", "3A"},           // without a "$" there is nothing to skip
      {"$$", "24"},                // only the leading "$" is skipped
  };
  for (const Case& c : cases) EXPECT_EQ(nmeaChecksum(c.body), c.sum) << c.body;
}

TEST(FrameSentence, AddsDollarChecksumAndLineEnd) {
  EXPECT_EQ(frameSentence("PMTK811"), "$PMTK811*3A\r\n");
  EXPECT_EQ(frameSentence("PMTK220,1000"), "$PMTK220,1000*1F\r\n");
}

TEST(HandshakeItemFlags, OnlyTheFourHandshakeBits) {
  struct Case {
    std::uint32_t items;
    std::uint16_t flags;
  };
  const Case cases[] = {
      {0x0, 0x0},
      {0x2, 0x1},         // Firmware Version
      {0x2000, 0x1},      // NMEA Type
      {0x80000, 0x1},     // UpdateHZ
      {0x82002, 0x1},     // the whole version group is still one bit
      {0x4, 0x2},
      {0x8, 0x4},
      {0x10, 0x8},
      {0x14, 0xA},
      {0x1C, 0xE},
      {0x1 | 0x40 | 0x400 | 0x1000, 0x0},  // items the module is not told about
      {0xFFFFFFFF, 0xF},
  };
  for (const Case& c : cases)
    EXPECT_EQ(handshakeItemFlags(c.items), c.flags) << std::hex << "items 0x" << c.items;
}

TEST(StartSentence, FlagsAndSatelliteInHexWithChecksum) {
  struct Case {
    std::uint32_t items;
    std::uint8_t svId;
    std::string sentence;
  };
  const Case cases[] = {
      {0x4 | 0x10, 1, "$PMTK810,000A,01*4B\r\n"},
      {0x4 | 0x8 | 0x10, 12, "$PMTK810,000E,0C*3D\r\n"},
      {0x0, 0, "$PMTK810,0000,00*" + nmeaChecksum("$PMTK810,0000,00") + "\r\n"},
      {0xFFFFFFFF, 255, "$PMTK810,000F,FF*" + nmeaChecksum("$PMTK810,000F,FF") + "\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(startSentence(handshakeItemFlags(c.items), c.svId), c.sentence);
}

// Every sentence constant must carry the checksum of its own text and end with CR LF; the
// fixed ones must be exactly 13 characters, since they are written with a zero byte after them.
TEST(SentenceConstants, CarryTheirOwnChecksum) {
  struct Case {
    std::string_view sentence;
    bool fixed;
  };
  const Case cases[] = {
      {EndTestModeSentence, true},       {FactoryResetSentence, true},
      {ColdRestartSentence, false},      {FixInterval1000Sentence, false},
      {RmcGsvOutputSentence, false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(c.sentence.starts_with('$')) << c.sentence;
    ASSERT_TRUE(c.sentence.ends_with("\r\n")) << c.sentence;
    const std::size_t star = c.sentence.find('*');
    ASSERT_NE(star, std::string_view::npos) << c.sentence;
    EXPECT_EQ(c.sentence.substr(star + 1, 2), nmeaChecksum(c.sentence.substr(0, star)))
        << c.sentence;
    EXPECT_EQ(c.sentence.size(), star + 5) << c.sentence;  // "*XX\r\n" closes it
    if (c.fixed) {
      EXPECT_EQ(c.sentence.size(), 13u) << c.sentence;
    }
  }

  // The start-up message is matched without its "$".
  const std::size_t star = StartupMessage.find('*');
  ASSERT_NE(star, std::string_view::npos);
  EXPECT_EQ(StartupMessage.substr(star + 1),
            nmeaChecksum("$" + std::string(StartupMessage.substr(0, star))));
}

}  // namespace
}  // namespace quenby
