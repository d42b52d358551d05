#include "tools/modsim/module_model.h"

#include <gtest/gtest.h>

#include "engine/nmea_fields.h"

namespace quenby::modsim {
namespace {

using namespace std::chrono_literals;

// 2024-03-07 09:05:04.250 UTC: the first fix falls 750 ms after power-up.
const auto kPowerUp = std::chrono::system_clock::time_point(1709802304250ms);
constexpr Millis kStep = 10;

struct Sent {
  Millis at;
  std::string text;
};

// Runs a model in virtual time, logging what it sends.
class Module {
 public:
  explicit Module(ModuleScenario s = quick()) : model_(std::move(s), kPowerUp) {}

  static ModuleScenario quick() {
    ModuleScenario s;
    s.versionDelayMs = 300;
    s.ratesDelayMs = 400;
    s.intervalDelayMs = 500;
    s.acqDelayMs = 1000;
    s.bitSyncDelayMs = 500;
    s.signalDelayMs = 2000;
    s.ttffMs = 3000;
    s.resetDelayMs = 800;
    return s;
  }

  // Advances the module at every step before `end`; commands then arrive at `end`.
  void runTo(Millis end) {
    for (; now_ < end; now_ += kStep)
      for (Emission& e : model_.advance(now_)) sent_.push_back({now_, std::move(e.text)});
  }

  void command(int number, std::vector<std::string> fields = {}) {
    model_.receive(StationCommand{number, std::move(fields)}, now_);
  }

  // The times at which sentences beginning with `start` went out.
  std::vector<Millis> timesOf(std::string_view start) const {
    std::vector<Millis> times;
    for (const Sent& s : sent_)
      if (std::string_view(s.text).starts_with(start)) times.push_back(s.at);
    return times;
  }

  std::vector<std::string> textsOf(std::string_view start, Millis from = 0) const {
    std::vector<std::string> texts;
    for (const Sent& s : sent_)
      if (s.at >= from && std::string_view(s.text).starts_with(start)) texts.push_back(s.text);
    return texts;
  }

  // RMC status per fix: "A" or "V", with the fix time.
  std::vector<std::pair<Millis, std::string>> rmcStatus() const {
    std::vector<std::pair<Millis, std::string>> status;
    for (const Sent& s : sent_)
      if (s.text.starts_with("$GPRMC")) status.emplace_back(s.at, std::string(sentenceField(s.text, 2).value_or("")));
    return status;
  }

  Millis now() const { return now_; }
  ModuleModel& model() { return model_; }
  const std::vector<Sent>& sent() const { return sent_; }

 private:
  ModuleModel model_;
  Millis now_ = 0;
  std::vector<Sent> sent_;
};

TEST(ModuleModel, AnnouncesItselfThenFixesOnWholeSecondsWithEveryDefaultSentence) {
  Module m;
  m.runTo(3000);
  ASSERT_FALSE(m.sent().empty());
  EXPECT_EQ(m.sent().front().text, "$PMTK010,001*2E\r\n");
  EXPECT_EQ(m.sent().front().at, 0);
  EXPECT_EQ(m.timesOf("$GPGGA"), (std::vector<Millis>{750, 1750, 2750}));
  EXPECT_EQ(m.textsOf("$GPGGA").front().substr(0, 18), "$GPGGA,090505.000,");
  for (std::string_view kind : {"$GPGLL", "$GPGSA", "$GPRMC", "$GPVTG"}) EXPECT_EQ(m.timesOf(kind).size(), 3u) << kind;
  EXPECT_TRUE(m.timesOf("$GPZDA").empty());  // off in the module's own output rates
  for (const auto& [at, status] : m.rmcStatus()) EXPECT_EQ(status, "A") << at;
  for (const Sent& s : m.sent()) EXPECT_TRUE(sentenceChecksumOk(s.text.substr(0, s.text.size() - 2))) << s.text;
}

TEST(ModuleModel, StartSentenceBringsTheRequestedRepliesOnTime) {
  Module m;
  m.runTo(100);
  m.command(EndTestCommand);
  m.command(StartTestCommand, {"000F", "1D"});
  m.runTo(5000);
  struct Expect {
    std::string reply;
    Millis at;
  };
  const Expect expected[] = {
      {"$PMTK705,M-core_1.8,0000,,*", 400},
      {"$PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0*", 500},
      {"$PMTK500,1000,0,0,0,0*", 600},
      {"$PMTK813*", 1100},
      {"$PMTK814*", 1600},                              // bit sync counts after acquisition
      {"$PMTK815,29,2,95,12345,123,4250,60*", 3600},    // signal quality after bit sync
  };
  for (const Expect& e : expected) EXPECT_EQ(m.timesOf(e.reply), std::vector<Millis>{e.at}) << e.reply;
  EXPECT_TRUE(m.timesOf("$PMTK592").empty());  // no address configured
}

TEST(ModuleModel, ChosenSatelliteShowsInGsvWithItsLevelOnceAcquired) {
  Module m;
  m.command(StartTestCommand, {"0002", "1D"});
  m.runTo(2900);
  // Fixes at 750 (not yet acquired: no level), 1750 and 2750 (acquired at 1000).
  std::vector<std::string> entries;
  for (const std::string& gsv : m.textsOf("$GPGSV")) {
    const std::size_t at = gsv.find(",29,");
    if (at != std::string::npos) entries.push_back(gsv.substr(at, gsv.find_first_of(",*", at + 11) - at));
  }
  EXPECT_EQ(entries, (std::vector<std::string>{",29,38,293,", ",29,38,293,43", ",29,38,293,43"}));
}

TEST(ModuleModel, EndOfTestModeCancelsWhatIsStillDue) {
  Module m;
  m.command(StartTestCommand, {"000E", "01"});
  m.runTo(900);
  m.command(EndTestCommand);
  m.runTo(5000);
  EXPECT_TRUE(m.textsOf("$PMTK8").empty());
}

TEST(ModuleModel, ANewStartSentenceStartsTheTestsAgain) {
  Module m;
  m.command(StartTestCommand, {"0002", "01"});
  m.runTo(500);
  m.command(StartTestCommand, {"0002", "01"});
  m.runTo(3000);
  EXPECT_EQ(m.timesOf("$PMTK813"), std::vector<Millis>{1500});
}

TEST(ModuleModel, ColdRestartLosesTheFixUntilTtffAndTakesTheStationsOutputSettings) {
  Module m;
  m.runTo(1000);
  m.command(ColdRestartCommand);
  m.runTo(2010);
  m.command(SetFixIntervalCommand, {"1000"});
  m.runTo(2110);
  m.command(SetOutputRatesCommand, {"0", "1", "0", "0", "0", "1", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
  m.runTo(7000);

  // Quiet for the restart, then the start-up message.
  EXPECT_EQ(m.timesOf("$PMTK010"), (std::vector<Millis>{0, 1000 + ColdRestartQuietMs}));
  EXPECT_EQ(m.textsOf("$PMTK001"), (std::vector<std::string>{"$PMTK001,220,3*30\r\n", "$PMTK001,314,3*36\r\n"}));
  // After the output command only RMC and GSV.
  for (const Sent& s : m.sent()) {
    if (s.at <= 2110) continue;
    EXPECT_TRUE(s.text.starts_with("$GPRMC") || s.text.starts_with("$GPGSV")) << s.text;
  }
  // No fix before 3 s after the restart command (fixes at 1750, 2750, 3750), a fix from then on;
  // without a fix GSV lists no satellites.
  std::size_t fixes = 0;
  for (const auto& [at, status] : m.rmcStatus()) {
    if (at <= 1000) continue;
    ++fixes;
    EXPECT_EQ(status, at < 4000 ? "V" : "A") << at;
  }
  EXPECT_EQ(fixes, 6u);
  for (const Sent& s : m.sent()) {
    if (!s.text.starts_with("$GPGSV") || s.at <= 1000 || s.at >= 4000) continue;
    EXPECT_EQ(s.text, "$GPGSV,1,1,00*79\r\n");
  }
}

TEST(ModuleModel, FixIntervalCommandChangesTheRateFromTheNextFix) {
  Module m;
  m.runTo(800);  // fix at 750
  m.command(SetFixIntervalCommand, {"200"});
  m.runTo(2400);
  EXPECT_EQ(m.timesOf("$GPGGA"), (std::vector<Millis>{750, 1750, 1950, 2150, 2350}));
  m.command(QueryFixIntervalCommand);
  m.runTo(2410);
  EXPECT_EQ(m.textsOf("$PMTK500"), std::vector<std::string>{"$PMTK500,200,0,0,0,0*29\r\n"});
}

TEST(ModuleModel, BadSettingsAreRefusedAndKeepTheOldOnes) {
  struct Case {
    int number;
    std::vector<std::string> fields;
  };
  const Case cases[] = {
      {SetFixIntervalCommand, {"50"}},
      {SetFixIntervalCommand, {"20000"}},
      {SetFixIntervalCommand, {"1e3"}},
      {SetFixIntervalCommand, {}},
      {SetOutputRatesCommand, {"0", "1"}},
      {SetOutputRatesCommand, {"0", "1", "0", "0", "0", "1", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "6"}},
      {SetOutputRatesCommand, {"0", "1", "0", "0", "0", "1", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "x"}},
  };
  for (const Case& c : cases) {
    Module m;
    m.runTo(10);
    m.command(c.number, c.fields);
    m.runTo(20);
    EXPECT_EQ(m.textsOf("$PMTK001"), std::vector<std::string>{acknowledgement(c.number, 0)}) << c.number;
    EXPECT_EQ(m.model().fixIntervalMs(), 1000);
    EXPECT_EQ(m.model().outputRates(), ModuleScenario().outputRates);
  }
}

TEST(ModuleModel, FactoryResetIsQuietThenAnnouncesAndRestoresTheModulesSettings) {
  for (bool reply : {true, false}) {
    ModuleScenario s = Module::quick();
    s.resetReply = reply;
    Module m(s);
    m.runTo(100);
    m.command(SetFixIntervalCommand, {"200"});
    m.command(SetOutputRatesCommand, {"0", "1", "0", "0", "0", "1", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
    m.command(StartTestCommand, {"0001", "01"});
    m.runTo(1000);
    m.command(FactoryResetCommand);
    m.runTo(1500);
    m.command(QueryVersionCommand);  // a module in reset takes no commands
    m.runTo(4000);

    for (const Sent& sent : m.sent()) EXPECT_FALSE(sent.at > 1000 && sent.at < 1800) << sent.text << " at " << sent.at;
    EXPECT_EQ(m.timesOf("$PMTK010"), reply ? (std::vector<Millis>{0, 1800}) : (std::vector<Millis>{0})) << reply;
    EXPECT_EQ(m.timesOf("$PMTK705"), std::vector<Millis>{400});  // the query in the reset went unheard
    EXPECT_EQ(m.model().fixIntervalMs(), 1000);
    EXPECT_EQ(m.model().outputRates(), ModuleScenario().outputRates);
    EXPECT_EQ(m.timesOf("$GPGGA").back(), 3750);
  }
}

TEST(ModuleModel, QueriesAreAnsweredAtOnce) {
  Module m;
  m.runTo(100);
  m.command(QueryVersionCommand);
  m.command(QueryOutputRatesCommand);
  m.runTo(110);
  EXPECT_EQ(m.timesOf("$PMTK705,M-core_1.8,0000,,*"), std::vector<Millis>{100});
  EXPECT_EQ(m.timesOf("$PMTK514,1,1,1,1,1,1,"), std::vector<Millis>{100});
}

TEST(ModuleModel, SilentModuleSendsNothingAtAll) {
  ModuleScenario s = Module::quick();
  s.silent = true;
  Module m(s);
  m.command(StartTestCommand, {"000F", "01"});
  m.runTo(5000);
  EXPECT_TRUE(m.sent().empty());
}

TEST(ModuleModel, VanishingCountsFromTheFirstStartSentence) {
  ModuleScenario s = Module::quick();
  Module never(s);
  never.command(StartTestCommand, {"0001", "01"});
  EXPECT_EQ(never.model().vanishAt(), std::nullopt);

  s.vanishAfterMs = 1500;
  Module m(s);
  m.runTo(200);
  EXPECT_EQ(m.model().vanishAt(), std::nullopt);
  m.command(StartTestCommand, {"0001", "01"});  // at 200
  m.runTo(500);
  m.command(StartTestCommand, {"0001", "01"});
  EXPECT_EQ(m.model().vanishAt(), 1700);
}

TEST(ModuleModel, AStalledModuleSkipsTheFixesItMissed) {
  ModuleModel model(Module::quick(), kPowerUp);
  model.advance(0);
  std::size_t gga = 0;
  for (const Emission& e : model.advance(10'000))
    if (e.text.starts_with("$GPGGA")) ++gga;
  EXPECT_EQ(gga, 1u);
  EXPECT_GT(model.nextDue(), 10'000);
  EXPECT_LE(model.nextDue(), 11'000);
}

TEST(ModuleModel, BootRomStopsTheFirmwareUntilTheNewOneStartsAsAtPowerUp) {
  struct Case {
    const char* name;
    std::optional<std::string> downloaded;
    std::string reported;
  };
  const Case cases[] = {
      {"downloaded firmware with a version", "QB-core_2.0,0001,,", "$PMTK705,QB-core_2.0,0001,,*"},
      {"no version in the flash", std::nullopt, "$PMTK705,M-core_1.8,0000,,*"},
  };
  for (const Case& c : cases) {
    Module m;
    m.runTo(1000);
    m.command(SetFixIntervalCommand, {"200"});
    m.command(StartTestCommand, {"0001", "01"});
    m.model().enterBootRom();
    const std::size_t before = m.sent().size();
    m.command(QueryVersionCommand);  // no firmware runs to hear it
    m.runTo(4000);
    EXPECT_EQ(m.sent().size(), before) << c.name;
    EXPECT_TRUE(m.model().inBootRom()) << c.name;

    m.model().startFirmware(m.now(), c.downloaded);
    m.runTo(4100);
    m.command(QueryVersionCommand);  // still starting: not heard
    m.runTo(4300);
    m.command(QueryVersionCommand);
    m.runTo(6000);
    EXPECT_EQ(m.timesOf("$PMTK010,001*2E"), (std::vector<Millis>{0, 4200})) << c.name;
    const std::vector<std::string> versions = m.textsOf("$PMTK705", 4000);
    ASSERT_EQ(versions.size(), 1u) << c.name;
    EXPECT_TRUE(versions[0].starts_with(c.reported)) << versions[0];
    EXPECT_FALSE(m.model().inTestMode()) << c.name;
    EXPECT_EQ(m.model().fixIntervalMs(), 1000) << c.name;  // the new firmware's own settings
    EXPECT_EQ(m.timesOf("$GPGGA").back(), 5750) << c.name;
  }
}

}  // namespace
}  // namespace quenby::modsim
