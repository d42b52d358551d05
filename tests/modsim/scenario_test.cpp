#include "tools/modsim/scenario.h"

#include <gtest/gtest.h>

#include <map>

#include "fakes/temp_folder.h"

namespace quenby::modsim {
namespace {

using Values = std::map<std::string, std::string>;

class MapSource final : public ScenarioSource {
 public:
  explicit MapSource(Values values) : values_(std::move(values)) {}
  std::optional<std::string> lookup(const std::string& key) const override {
    const auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }

 private:
  Values values_;
};

LoadedScenario loadFrom(Values values) { return loadScenario(MapSource(std::move(values))); }

TEST(ScenarioFile, PortSectionOverridesDefaultWhichOverridesBuiltIn) {
  quenby::testing::TempFolder folder;
  folder.write("scenario.ini",
               "[default]\r\n"
               "acq_delay = 700\r\n"
               "baud=115200\r\n"
               "version=X_2.0,0001,,\r\n"
               "\r\n"
               "[com3]\r\n"  // section names match whatever their case
               "ACQ_DELAY=50\r\n"
               "bt_mac=0a1b2c3d4e5f\r\n");
  const auto path = folder / "scenario.ini";

  const ModuleScenario port3 = loadScenario(IniScenarioSource(path, 3)).scenario;
  const ModuleScenario port5 = loadScenario(IniScenarioSource(path, 5)).scenario;
  const ModuleScenario builtIn;

  EXPECT_EQ(port3.acqDelayMs, 50);
  EXPECT_EQ(port5.acqDelayMs, 700);
  EXPECT_EQ(port3.baud, 115200);
  EXPECT_EQ(port3.version, "X_2.0,0001,,");
  EXPECT_EQ(port3.btMac, "0a1b2c3d4e5f");
  EXPECT_EQ(port5.btMac, "");
  EXPECT_EQ(port5.signalDelayMs, builtIn.signalDelayMs);
  EXPECT_EQ(port5.faults, builtIn.faults);
}

TEST(ScenarioFile, MissingFileGivesTheBuiltInModule) {
  const LoadedScenario loaded = loadScenario(IniScenarioSource("/nonexistent/scenario.ini", 1));
  EXPECT_EQ(loaded.scenario, ModuleScenario());
  EXPECT_TRUE(loaded.problems.empty());
}

TEST(ScenarioValues, UsableValuesAreTaken) {
  const LoadedScenario loaded = loadFrom(Values{
      {"pace", "OFF"},
      {"fix_interval", "200"},
      {"output_rates", "0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0"},
      {"satellites", "16"},
      {"ttff", "2.5"},
      {"phase", "0.85"},
      {"tcxo_offset", "-41"},
      {"vanish_after", "1.25"},
      {"split_at", "7, 20"},
      {"fault_only", "$PMTK705"},
      {"reset_reply", "no"},
  });
  const ModuleScenario& s = loaded.scenario;
  EXPECT_TRUE(loaded.problems.empty());
  EXPECT_FALSE(s.pace);
  EXPECT_EQ(s.fixIntervalMs, 200);
  EXPECT_EQ(s.outputRates, (OutputRates{0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(s.satellites, 16);
  EXPECT_EQ(s.ttffMs, 2500);
  EXPECT_DOUBLE_EQ(s.phase, 0.85);
  EXPECT_DOUBLE_EQ(s.tcxoOffset, -41.0);
  EXPECT_EQ(s.vanishAfterMs, 1250);
  EXPECT_EQ(s.faults.splitAt, (std::vector<int>{7, 20}));
  EXPECT_EQ(s.faults.only, "PMTK705");  // matched against the name after "$"
  EXPECT_FALSE(s.resetReply);
}

TEST(ScenarioValues, VanishAfterZeroMeansAtOnceAndOffMeansNever) {
  EXPECT_EQ(loadFrom(Values{{"vanish_after", "0"}}).scenario.vanishAfterMs, 0);
  EXPECT_EQ(loadFrom(Values{{"vanish_after", "off"}}).scenario.vanishAfterMs, std::nullopt);
  EXPECT_EQ(loadFrom(Values{{"vanish_after", ""}}).scenario.vanishAfterMs, std::nullopt);
}

TEST(ScenarioValues, UnusableValuesKeepTheBuiltInAndAreReported) {
  struct Case {
    std::string key;
    std::string value;
  };
  const Case cases[] = {
      {"baud", "fast"},
      {"baud", "0"},
      {"fix_interval", "50"},            // faster than any module fixes
      {"satellites", "17"},              // more than four GSV messages hold
      {"output_rates", "1,1,1"},         // too few
      {"output_rates", "1,1,1,1,1,9,0,0,0,0,0,0,0,0,0,0,0,0,0"},
      {"pace", "maybe"},
      {"ttff", "-1"},
      {"phase", "0.9x"},
      {"phase", "nan"},
      {"version", "A*B"},                // would end the sentence early
      {"version", std::string(MaxVersionText + 1, 'v')},
      {"bt_mac", "0A1B2C3D4E5"},         // 11 digits
      {"bt_mac", "0A1B2C3D4E5G"},
      {"split_at", "7,,9"},
      {"split_at", "1,2,3,4,5,6,7,8,9"},  // more points than a sentence is cut at
      {"vanish_after", "soon"},
      {"garbage_length", "0"},
      {"overlong_length", "1000000"},
      {"fault_only", "GP*"},
      {"chip_value", "-1"},
      {"boot_sync_byte", "0x100"},
      {"boot_baud_refuse", "fast"},
      {"boot_baud_refuse", "9600,,4800"},
      {"da_alive_byte", "D5"},           // hexadecimal needs its 0x
      {"flash_size", "1024"},            // smaller than any flash
      {"flash_size", "0x20000000"},      // 512 MiB
      {"flash_identified", "maybe"},
      {"boot_ber", "0.5"},               // no frame would ever get through
      {"boot_ber", "-1e-6"},
      {"flash_page_program_ms", "20000"},
      {"flash_read_kib_per_s", "0"},
  };
  for (const Case& c : cases) {
    const LoadedScenario loaded = loadFrom(Values{{c.key, c.value}});
    EXPECT_EQ(loaded.scenario, ModuleScenario()) << c.key << "=" << c.value;
    ASSERT_EQ(loaded.problems.size(), 1u) << c.key << "=" << c.value;
    EXPECT_EQ(loaded.problems[0].rfind(c.key + "=", 0), 0u) << loaded.problems[0];
  }
}

TEST(ScenarioValues, DownloadKeysTakeSwitchesBytesAndSpeedLists) {
  const BootSettings s = loadFrom(Values{
                                      {"chip_value", "0x100800"},
                                      {"boot_answer", "off"},
                                      {"boot_sync_byte", "0x55"},
                                      {"boot_baud_refuse", "921600, 460800"},
                                      {"boot_corrupt_blocks", "3"},
                                      {"boot_corrupt_every", "1"},
                                      {"da_alive", "no"},
                                      {"da_alive_byte", "0x5A"},
                                      {"flash_device", "5"},
                                      {"flash_identified", "off"},
                                      {"flash_size", "0x200000"},
                                      {"flash_write_error", "on"},
                                      {"flash_verify_error", "yes"},
                                      {"boot_ber", "1e-5"},
                                      {"boot_stray_rate", "0.0001"},
                                      {"boot_seed", "77"},
                                      {"power_cycle_after", "2.5"},
                                      {"flash_timing", "off"},
                                      {"flash_sector_erase_ms", "45"},
                                      {"flash_block_erase_ms", "120.5"},
                                      {"flash_page_program_ms", "0.8"},
                                      {"flash_read_kib_per_s", "8192"},
                                  })
                             .scenario.boot;
  BootSettings expected;
  expected.chipValue = 0x100800;
  expected.answer = false;
  expected.syncAnswer = 0x55;
  expected.refusedSpeeds = {921600, 460800};
  expected.corruptFirstBlocks = 3;
  expected.corruptEvery = 1;
  expected.agentAlive = false;
  expected.aliveByte = 0x5A;
  expected.flashDevice = 5;
  expected.flashIdentified = false;
  expected.flashSize = 0x200000;
  expected.flashWriteError = true;
  expected.flashVerifyError = true;
  expected.bitErrorRate = 1e-5;
  expected.strayRate = 0.0001;
  expected.lineSeed = 77;
  expected.powerCycleAfterMs = 2500;
  expected.flashTiming = false;
  expected.sectorEraseMs = 45;
  expected.blockEraseMs = 120.5;
  expected.pageProgramMs = 0.8;
  expected.readKibPerSecond = 8192;
  EXPECT_EQ(s, expected);

  EXPECT_TRUE(loadFrom(Values{{"boot_baud_refuse", "on"}}).scenario.boot.refuseAllSpeeds);
  const BootSettings none = loadFrom(Values{{"boot_baud_refuse", "off"}}).scenario.boot;
  EXPECT_FALSE(none.refuseAllSpeeds);
  EXPECT_TRUE(none.refusedSpeeds.empty());
}

}  // namespace
}  // namespace quenby::modsim
