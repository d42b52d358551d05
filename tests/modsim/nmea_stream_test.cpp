#include "tools/modsim/nmea_stream.h"

#include <gtest/gtest.h>

#include "engine/nmea_fields.h"

namespace quenby::modsim {
namespace {

// NMEA's longest sentence, "$" to LF.
constexpr std::size_t kNmeaMaxLength = 82;

FixEpoch epochAt(bool fixed, int satellites) {
  FixEpoch e;
  e.utc = {2024, 3, 7, 9, 5, 4, 0};
  e.fixed = fixed;
  e.latitude = 51.4779;
  e.longitude = -0.0015;
  e.altitude = 45.0;
  e.satellites = skyAt(satellites, 40, 0);
  return e;
}

// A framed sentence as the station sees it: "$", checksum it accepts, CR LF, not too long.
void expectWellFramed(const std::string& s) {
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s.substr(s.size() - 2), "\r\n") << s;
  EXPECT_EQ(s.front(), '$') << s;
  EXPECT_TRUE(sentenceChecksumOk(s.substr(0, s.size() - 2))) << s;
  EXPECT_LE(s.size(), kNmeaMaxLength) << s;
}

TEST(NmeaSentences, EveryKindIsWellFramedWithAndWithoutFix) {
  for (bool fixed : {true, false}) {
    const FixEpoch e = epochAt(fixed, MaxSatellitesInView);
    for (const std::string& s : {ggaSentence(e), gllSentence(e), gsaSentence(e), rmcSentence(e), vtgSentence(e),
                                 zdaSentence(e)})
      expectWellFramed(s);
  }
}

TEST(NmeaSentences, RmcStatusAndPositionFollowTheFix) {
  const std::string fixed = rmcSentence(epochAt(true, 8));
  EXPECT_EQ(fixed, "$GPRMC,090504.000,A,5128.6740,N,00000.0900,W,0.00,0.00,070324,,,A*" +
                       fixed.substr(fixed.size() - 4));
  const std::string noFix = rmcSentence(epochAt(false, 8));
  EXPECT_EQ(sentenceField(noFix, 2), "V");
  EXPECT_EQ(sentenceField(noFix, 3), std::nullopt);  // no position without a fix
  EXPECT_EQ(sentenceField(noFix, 9), "070324");
}

TEST(NmeaSentences, CoordinatesAreDegreesAndMinutesRoundedWithoutSixtyMinutes) {
  struct Case {
    double latitude;
    double longitude;
    std::string gll;  // the position fields of GLL
  };
  const Case cases[] = {
      {51.4779, -0.0015, "5128.6740,N,00000.0900,W"},
      {-33.8688, 151.2093, "3352.1280,S,15112.5580,E"},
      {10.999999999, -179.99999999, "1100.0000,N,18000.0000,W"},  // 59.99999.. minutes round up
      {0.0, 0.0, "0000.0000,N,00000.0000,E"},
  };
  for (const Case& c : cases) {
    FixEpoch e = epochAt(true, 4);
    e.latitude = c.latitude;
    e.longitude = c.longitude;
    const std::string gll = gllSentence(e);
    EXPECT_EQ(gll.substr(7, c.gll.size()), c.gll) << gll;
  }
}

TEST(GsvCycle, NumberingAndSatellitesInViewForZeroToSixteen) {
  for (int count = 0; count <= MaxSatellitesInView; ++count) {
    const std::vector<SatelliteView> sky = skyAt(count, 40, 3);
    const std::vector<std::string> cycle = gsvCycle(sky);
    const std::size_t messages = count == 0 ? 1 : static_cast<std::size_t>((count + 3) / 4);
    ASSERT_EQ(cycle.size(), messages) << count << " satellites";

    std::vector<int> listed;
    for (std::size_t m = 0; m < cycle.size(); ++m) {
      const std::string& s = cycle[m];
      expectWellFramed(s);
      EXPECT_EQ(sentenceFieldNumber(s, 1), static_cast<int>(messages)) << s;
      EXPECT_EQ(sentenceFieldNumber(s, 2), static_cast<int>(m + 1)) << s;
      EXPECT_EQ(sentenceFieldNumber(s, 3), count) << s;
      // Four fields per satellite after the three of the header, none left empty at the end.
      const std::size_t commas = static_cast<std::size_t>(std::count(s.begin(), s.end(), ','));
      const std::size_t here = std::min<std::size_t>(4, static_cast<std::size_t>(count) - m * 4);
      EXPECT_EQ(commas, count == 0 ? 3 : 3 + 4 * here) << s;
      for (std::size_t k = 0; count > 0 && k < here; ++k) {
        listed.push_back(sentenceFieldNumber(s, static_cast<int>(4 + 4 * k)));
        EXPECT_EQ(sentenceFieldNumber(s, static_cast<int>(7 + 4 * k)), *sky[m * 4 + k].snr) << s;
      }
    }
    std::vector<int> ids;
    for (const SatelliteView& v : sky) ids.push_back(v.id);
    EXPECT_EQ(listed, ids) << count << " satellites";
  }
}

TEST(GsvCycle, UntrackedSatelliteHasAnEmptySignalField) {
  const std::vector<std::string> cycle = gsvCycle({{29, 38, 293, std::nullopt}});
  ASSERT_EQ(cycle.size(), 1u);
  EXPECT_EQ(cycle[0].substr(0, cycle[0].find('*')), "$GPGSV,1,1,01,29,38,293,");
}

TEST(GsvCycle, MoreThanSixteenSatellitesAreCut) {
  std::vector<SatelliteView> sky = skyAt(MaxSatellitesInView, 40, 0);
  sky.push_back({99, 10, 10, 30});
  const std::vector<std::string> cycle = gsvCycle(sky);
  ASSERT_EQ(cycle.size(), MaxGsvMessages);
  EXPECT_EQ(sentenceFieldNumber(cycle[0], 3), MaxSatellitesInView);
  EXPECT_EQ(cycle.back().find(",99,"), std::string::npos);
}

TEST(ChosenSatellite, AddedReplacedOrUpdated) {
  const std::vector<SatelliteView> four = skyAt(4, 40, 0);
  const auto added = withChosenSatellite(four, 29, 42);
  ASSERT_EQ(added.size(), 5u);
  EXPECT_EQ(added.back().id, 29);
  EXPECT_EQ(added.back().snr, 42);

  const auto updated = withChosenSatellite(four, four[1].id, std::nullopt);
  ASSERT_EQ(updated.size(), 4u);
  EXPECT_EQ(updated[1].snr, std::nullopt);

  const auto full = withChosenSatellite(skyAt(MaxSatellitesInView, 40, 0), 29, 42);
  ASSERT_EQ(full.size(), static_cast<std::size_t>(MaxSatellitesInView));
  EXPECT_EQ(full.back().id, 29);
}

std::vector<std::string> kindsOf(const std::vector<std::string>& sentences) {
  std::vector<std::string> kinds;
  for (const std::string& s : sentences) kinds.push_back(s.substr(3, 3));
  return kinds;
}

TEST(EpochSentences, OutputOrderAndRates) {
  const FixEpoch e = epochAt(true, 5);  // two GSV messages
  using Kinds = std::vector<std::string>;
  struct Case {
    OutputRates rates;
    std::uint64_t fix;
    Kinds kinds;
  };
  const OutputRates builtIn = ModuleScenario().outputRates;
  OutputRates rmcGsv{};
  rmcGsv[RateRmc] = 1;
  rmcGsv[RateGsv] = 1;
  OutputRates everyKind{};
  for (OutputRateIndex i : {RateGll, RateRmc, RateVtg, RateGga, RateGsa, RateGsv, RateZda}) everyKind[i] = 1;
  OutputRates gsvEveryThird = rmcGsv;
  gsvEveryThird[RateGsv] = 3;
  const Case cases[] = {
      {builtIn, 0, {"GGA", "GLL", "GSA", "GSV", "GSV", "RMC", "VTG"}},
      {rmcGsv, 7, {"GSV", "GSV", "RMC"}},
      {everyKind, 1, {"GGA", "GLL", "GSA", "GSV", "GSV", "RMC", "VTG", "ZDA"}},
      {gsvEveryThird, 3, {"GSV", "GSV", "RMC"}},
      {gsvEveryThird, 4, {"RMC"}},
      {OutputRates{}, 0, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(kindsOf(epochSentences(e, c.rates, c.fix)), c.kinds) << "fix " << c.fix;
}

}  // namespace
}  // namespace quenby::modsim
