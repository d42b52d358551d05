#include "tools/modsim/fault_shaper.h"

#include <gtest/gtest.h>

#include "engine/nmea_fields.h"
#include "engine/nmea_sentence.h"
#include "tools/modsim/factory_tests.h"

namespace quenby::modsim {
namespace {

const std::string kGsv = frameSentence("GPGSV,1,1,01,29,38,293,48");  // checksum 4C: a letter in it
const std::string kRmc = frameSentence("GPRMC,090504.000,A,5128.6740,N,00000.0900,W,0.00,0.00,070324,,,A");

std::string joined(const std::vector<Piece>& pieces) {
  std::string all;
  for (const Piece& p : pieces) all += p.bytes;
  return all;
}

bool accepted(const std::string& framed) {
  return framed.ends_with("\r\n") && sentenceChecksumOk(framed.substr(0, framed.size() - 2));
}

TEST(FaultShaper, NoFaultsWriteTheSentenceAsItIs) {
  FaultShaper shaper({}, 1);
  EXPECT_EQ(shaper.shape({kGsv}), (std::vector<Piece>{{kGsv, 0}}));
  EXPECT_EQ(shaper.shape({startupMessage(), true}), (std::vector<Piece>{{startupMessage(), 0}}));
}

TEST(FaultShaper, EveryNthSentenceOfTheChosenKindGetsAWrongChecksum) {
  struct Case {
    int every;
    std::string only;
    std::vector<bool> accepted;  // for GSV, RMC, GSV, RMC, GSV, RMC
  };
  const Case cases[] = {
      {1, "", {false, false, false, false, false, false}},
      {3, "", {true, true, false, true, true, false}},
      {2, "GPGSV", {true, true, false, true, true, true}},  // only GSV counted
      {1, "PMTK", {true, true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    FaultSettings f;
    f.badChecksumEvery = c.every;
    f.only = c.only;
    FaultShaper shaper(f, 1);
    std::vector<bool> seen;
    for (int i = 0; i < 6; ++i) seen.push_back(accepted(joined(shaper.shape({i % 2 == 0 ? kGsv : kRmc}))));
    EXPECT_EQ(seen, c.accepted) << "every " << c.every << " only '" << c.only << "'";
  }
}

TEST(FaultShaper, LowercaseChecksumIsRejectedByTheStationOnlyWhenItHasLetters) {
  FaultSettings f;
  f.lowercaseChecksums = true;
  FaultShaper shaper(f, 1);
  const std::string gsv = joined(shaper.shape({kGsv}));
  EXPECT_EQ(gsv, "$GPGSV,1,1,01,29,38,293,48*4c\r\n");
  EXPECT_FALSE(accepted(gsv));
  const std::string startup = joined(shaper.shape({startupMessage(), true}));
  EXPECT_EQ(startup, "$PMTK010,001*2e\r\n");
  EXPECT_EQ(withLowercaseChecksum("$PMTK813*38\r\n"), "$PMTK813*38\r\n");  // digits only: unchanged
}

TEST(FaultShaper, SplitPointsCutTheSentenceIntoPausedWrites) {
  struct Case {
    std::vector<int> splitAt;
    std::vector<std::string> pieces;
  };
  const std::string s = "$PMTK813*38\r\n";
  const Case cases[] = {
      {{7}, {"$PMTK81", "3*38\r\n"}},
      {{9, 3}, {"$PM", "TK813*", "38\r\n"}},  // in any order
      {{3, 3}, {"$PM", "TK813*38\r\n"}},         // the same point once
      {{1, 13}, {"$", "PMTK813*38\r\n"}},       // a point at the end cuts nothing
      {{40}, {"$PMTK813*38\r\n"}},                // beyond the sentence
  };
  for (const Case& c : cases) {
    FaultSettings f;
    f.splitAt = c.splitAt;
    f.splitPauseMs = 350;
    FaultShaper shaper(f, 1);
    const std::vector<Piece> pieces = shaper.shape({s});
    ASSERT_EQ(pieces.size(), c.pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i].bytes, c.pieces[i]);
      EXPECT_EQ(pieces[i].pauseAfterMs, i + 1 < pieces.size() ? 350 : 0);
    }
  }
}

TEST(FaultShaper, StartupMessageHasItsOwnSplitPoint) {
  FaultSettings f;
  f.startupSplitAt = 9;
  f.only = "GPRMC";  // other faults elsewhere do not matter
  FaultShaper shaper(f, 1);
  const std::vector<Piece> pieces = shaper.shape({startupMessage(), true});
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].bytes, "$PMTK010,");
  EXPECT_EQ(pieces[1].bytes, "001*2E\r\n");
  EXPECT_EQ(shaper.shape({kRmc}).size(), 1u);
}

TEST(FaultShaper, NoiseZeroBytesAndOverlongLinesSitBetweenSentences) {
  FaultSettings f;
  f.garbageEvery = 2;
  f.garbageLength = 40;
  f.zeroEvery = 3;
  f.overlongEvery = 4;
  f.overlongLength = 5000;
  FaultShaper shaper(f, 7);
  for (int n = 1; n <= 12; ++n) {
    const std::string all = joined(shaper.shape({kRmc}));
    // The sentence itself always comes through whole, with its zero byte after the line end.
    const std::size_t at = all.find(kRmc);
    ASSERT_NE(at, std::string::npos) << "sentence " << n;
    EXPECT_EQ(all.substr(at + kRmc.size()), n % 3 == 0 ? std::string(1, '\0') : std::string()) << n;
    const std::string before = all.substr(0, at);
    std::size_t expected = 0;
    if (n % 4 == 0) expected += 5000 + 2;
    if (n % 2 == 0) expected += 40 + 2;
    EXPECT_EQ(before.size(), expected) << "sentence " << n;
    // Nothing before the sentence can be taken for a sentence start, and each noise line ends.
    EXPECT_EQ(before.find('$'), std::string::npos);
    EXPECT_EQ(before.find('\0'), std::string::npos);
    if (!before.empty()) {
      EXPECT_TRUE(before.ends_with("\r\n"));
    }
  }
}

TEST(LineNoise, GarbleHasNoSentenceStartAndFollowsTheSpeedRatio) {
  struct Case {
    int stationBaud;
    int moduleBaud;
    std::size_t expected;  // bytes out for 3000 in
  };
  const Case cases[] = {
      {38400, 38400, 3000},
      {115200, 38400, 9000},
      {9600, 38400, 750},
      {4800, 115200, 125},
  };
  const std::string nmea = [] {
    std::string s;
    while (s.size() < 3000) s += kRmc;
    return s.substr(0, 3000);
  }();
  for (const Case& c : cases) {
    NoiseSource noise(3);
    std::string out;
    // In pieces, to check that fractions of a byte carry over.
    for (std::size_t at = 0; at < nmea.size(); at += 7)
      out += noise.garble(std::string_view(nmea).substr(at, 7), c.stationBaud, c.moduleBaud);
    EXPECT_NEAR(static_cast<double>(out.size()), static_cast<double>(c.expected), 1.0) << c.stationBaud;
    EXPECT_EQ(out.find('$'), std::string::npos);
  }
}

}  // namespace
}  // namespace quenby::modsim
