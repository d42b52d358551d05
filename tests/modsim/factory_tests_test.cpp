#include "tools/modsim/factory_tests.h"

#include <gtest/gtest.h>

#include "engine/nmea_fields.h"

namespace quenby::modsim {
namespace {

std::string withoutChecksum(const std::string& framed) { return framed.substr(0, framed.find('*')); }

bool checksumAccepted(const std::string& framed) {
  return framed.ends_with("\r\n") && sentenceChecksumOk(framed.substr(0, framed.size() - 2));
}

TEST(SignalQualityReply, FieldsAreScaledAndRoundedIntegers) {
  struct Case {
    SignalMeasurement m;
    std::string body;
  };
  const Case cases[] = {
      {{29, 2, 0.95, 12.345, 0.123, 42.5, 0.6}, "$PMTK815,29,2,95,12345,123,4250,60"},
      // The station's limits, exactly: the replies it must pass.
      {{1, 1, 0.85, 40.92, 0.8184, 40.0, 1.0}, "$PMTK815,1,1,85,40920,818,4000,100"},
      {{12, 10, 0.5, -41.0, -0.0005, 39.994, 0.005}, "$PMTK815,12,10,50,-41000,-1,3999,1"},  // halves away from zero
      {{255, 1, 0, 0, 0, 0, 0}, "$PMTK815,255,1,0,0,0,0,0"},
  };
  for (const Case& c : cases) {
    const std::string reply = signalQualityReply(c.m);
    EXPECT_EQ(withoutChecksum(reply), c.body);
    EXPECT_TRUE(checksumAccepted(reply)) << reply;
  }
}

TEST(FactoryReplies, ExactTextsWithAcceptedChecksums) {
  OutputRates rmcGsv{};
  rmcGsv[RateRmc] = 1;
  rmcGsv[RateGsv] = 1;
  struct Case {
    std::string reply;
    std::string expected;
  };
  const Case cases[] = {
      {versionReply("M-core_1.8,0000,,"), "$PMTK705,M-core_1.8,0000,,*33\r\n"},
      {outputRatesReply(ModuleScenario().outputRates), "$PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*2E\r\n"},
      {outputRatesReply(rmcGsv), "$PMTK514,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0*2E\r\n"},
      {fixIntervalReply(1000), "$PMTK500,1000,0,0,0,0*1A\r\n"},
      {fixIntervalReply(200), "$PMTK500,200,0,0,0,0*29\r\n"},
      {bluetoothMacReply("0A1B2C3D4E5F"), "$PMTK592,0A1B2C3D4E5F*16\r\n"},
      {acquiredReply(), "$PMTK813*38\r\n"},
      {bitSyncedReply(), "$PMTK814*3F\r\n"},
      {acknowledgement(220, 3), "$PMTK001,220,3*30\r\n"},
      {startupMessage(), "$PMTK010,001*2E\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.reply, c.expected);
    EXPECT_TRUE(checksumAccepted(c.reply)) << c.reply;
  }
}

TEST(TestModePlan, RepliesAndTimesPerFlags) {
  ModuleScenario s;
  s.versionDelayMs = 30;
  s.ratesDelayMs = 40;
  s.intervalDelayMs = 50;
  s.acqDelayMs = 1000;
  s.bitSyncDelayMs = 300;
  s.signalDelayMs = 2000;
  using R = TestReply;
  struct Case {
    std::uint16_t flags;
    std::vector<PlannedReply> plan;
  };
  const Case cases[] = {
      {0x0, {}},
      {0x1, {{30, R::Version}, {40, R::OutputRates}, {50, R::FixInterval}}},
      {0x2, {{1000, R::Acquired}}},
      {0x4, {{300, R::BitSynced}}},                        // bit sync alone counts from the start
      {0x6, {{1000, R::Acquired}, {1300, R::BitSynced}}},  // bit sync counts after acquisition
      {0xA, {{1000, R::Acquired}, {3000, R::SignalQuality}}},
      {0xF,
       {{30, R::Version}, {40, R::OutputRates}, {50, R::FixInterval}, {1000, R::Acquired}, {1300, R::BitSynced},
        {3300, R::SignalQuality}}},
      {0xFFF0, {}},  // bits the module does not know
  };
  for (const Case& c : cases) EXPECT_EQ(testModePlan(c.flags, s), c.plan) << "flags " << c.flags;
}

TEST(TestModePlan, AddressReplyComesWhenConfiguredWhateverTheFlags) {
  ModuleScenario s;
  s.btMac = "0A1B2C3D4E5F";
  s.btDelayMs = 10;
  s.versionDelayMs = 20;
  const std::vector<PlannedReply> plan = testModePlan(0x1, s);
  ASSERT_FALSE(plan.empty());
  EXPECT_EQ(plan.front(), (PlannedReply{10, TestReply::BluetoothMac}));
  EXPECT_EQ(testModePlan(0x0, s), (std::vector<PlannedReply>{{10, TestReply::BluetoothMac}}));
}

}  // namespace
}  // namespace quenby::modsim
