#include "settings/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "settings/ini_file.h"

namespace quenby {
namespace {

namespace fs = std::filesystem;

// What a first start without a settings file works with, written out field by field.
TestSettings defaultSettings() {
  TestSettings s;
  s.baudrateNmea = 38400;
  s.baudrateUpdate = 4;
  s.enableTest = 1;
  s.flashDownloadDaPath = "";
  s.flashDownloadRomPath = "";
  s.flashDownloadFailCode = "Download";
  s.updateHz = 1.0f;
  s.hzTimeout = 5;
  s.versionMtk = "M-core_1.8";
  s.versionCustomer = "0000";
  s.versionProductModel = "";
  s.versionSdkVer = "";
  s.versionTimeout = 5;
  s.versionFailCode = "Version";
  s.versionSeries = 3329;
  s.svId = 29;
  s.acqTimeTimeout = 10;
  s.acqTimeFailCode = "Acq";
  s.bitSyncTimeout = 5;
  s.bitSyncFailCode = "BitSync";
  s.signalPhaseRatio = 0.85f;
  s.signalPhaseFailCode = "Phase";
  s.signalTcxoOffset = 40.92f;
  s.signalTcxoDrift = 0.8184f;
  s.signalTcxoFailCode = "TCXO";
  s.signalCnrThreshold = 40.0f;
  s.signalCnrDev = 1.0f;
  s.signalCnrFailCode = "CNR";
  s.signalTimeout = 20;
  s.coldStartTimeout = 90;
  s.coldStartFailCode = "CTTFF";
  s.resetTimeout = 5;
  s.resetFailCode = "Reset";
  s.nmeaFreqGll = 1;
  s.nmeaFreqRmc = 1;
  s.nmeaFreqVtg = 1;
  s.nmeaFreqGsa = 1;
  s.nmeaFreqGsv = 1;
  s.nmeaFreqGga = 1;
  s.nmeaFreqZda = 0;
  s.nmeaFreqMchn = 0;
  s.nmeaTimeout = 5;
  s.nmeaFailCode = "NMEA";
  s.btMac = {0, 0, 0, 0, 0, 0};
  s.btMacE = {0, 0, 0, 0, 0, 0};
  s.btFailCode = "BT_Mac";
  s.btTimeout = 5;
  return s;
}

// Every field away from its default, with reals that need all their digits.
TestSettings unusualSettings() {
  TestSettings s;
  s.baudrateNmea = 115200;
  s.baudrateUpdate = 10;
  s.enableTest = 0x83457;
  s.flashDownloadDaPath = "/opt/da/MTK_AllInOne_DA.bin";
  s.flashDownloadRomPath = "/opt/rom/AXN 1.8.bin";
  s.flashDownloadFailCode = "DL-E";
  s.updateHz = 0.1f;
  s.hzTimeout = 3;
  s.versionMtk = "M-core_2.0";
  s.versionCustomer = "1234";
  s.versionProductModel = "QZ-100";
  s.versionSdkVer = "sdk 7";
  s.versionTimeout = 6;
  s.versionFailCode = "Ver";
  s.versionSeries = 3318;
  s.svId = 32;
  s.acqTimeTimeout = 11;
  s.acqTimeFailCode = "AcqE";
  s.bitSyncTimeout = 7;
  s.bitSyncFailCode = "BS";
  s.signalPhaseRatio = 0.85f;
  s.signalPhaseFailCode = "Ph";
  s.signalTcxoOffset = 12345.678f;
  s.signalTcxoDrift = 1e-7f;
  s.signalTcxoFailCode = "Tc";
  s.signalCnrThreshold = 0.1f;
  s.signalCnrDev = 98.7654f;
  s.signalCnrFailCode = "Cn";
  s.signalTimeout = 21;
  s.coldStartTimeout = 91;
  s.coldStartFailCode = "CS";
  s.resetTimeout = 8;
  s.resetFailCode = "Rs";
  s.nmeaFreqGll = 2;
  s.nmeaFreqRmc = 3;
  s.nmeaFreqVtg = 4;
  s.nmeaFreqGsa = 5;
  s.nmeaFreqGsv = 6;
  s.nmeaFreqGga = 7;
  s.nmeaFreqZda = 8;
  s.nmeaFreqMchn = 10;
  s.nmeaTimeout = 9;
  s.nmeaFailCode = "Nm";
  s.btMac = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  s.btMacE = {0xFF, 0xFE, 0x10, 0x01, 0xA0, 0x0B};
  s.btFailCode = "BT";
  s.btTimeout = 12;
  s.updateHzFailCode = "Hz!";
  return s;
}

// The whole file that a save of the defaults writes into a new file (no Extra section).
const std::string kDefaultFile =
    "[System]\n"
    "ComSelect=1,\n"
    "Baudrate_NMEA=38400\n"
    "Baudrate_Update=4\n"
    "Enable_Test=1\n"
    "[Basic]\n"
    "FlashDownload_DA_Path=\n"
    "FlashDownload_ROM_Path=\n"
    "FlashDownload_FailCode=Download\n"
    "Update_Hz=1\n"
    "Hz_Timeout=5\n"
    "Version_MTK=M-core_1.8\n"
    "Version_Customer=0000\n"
    "Version_Product_Model=\n"
    "Version_SDKver=\n"
    "Version_Timeout=5\n"
    "Version_FailCode=Version\n"
    "Version_Series=3329\n"
    "SVid=29\n"
    "AcqTime_Timeout=10\n"
    "AcqTime_FailCode=Acq\n"
    "BitSync_Timeout=5\n"
    "BitSync_FailCode=BitSync\n"
    "Signal_Phase_Ratio=0.850000023841858\n"
    "Signal_Phase_FailCode=Phase\n"
    "Signal_TCXO_Offset=40.9199981689453\n"
    "Signal_TCXO_Drift=0.818400025367737\n"
    "Signal_TCXO_FailCode=TCXO\n"
    "Signal_CNR_Threshold=40\n"
    "Signal_CNR_Dev=1\n"
    "Signal_CNR_FailCode=CNR\n"
    "Signal_Timeout=20\n"
    "ColdStart_Timeout=90\n"
    "ColdStart_FailCode=CTTFF\n"
    "Reset_Timeout=5\n"
    "Reset_FailCode=Reset\n"
    "NMEA_Freq_GLL=1\n"
    "NMEA_Freq_RMC=1\n"
    "NMEA_Freq_VTG=1\n"
    "NMEA_Freq_GSA=1\n"
    "NMEA_Freq_GSV=1\n"
    "NMEA_Freq_GGA=1\n"
    "NMEA_Freq_ZDA=0\n"
    "NMEA_Freq_MCHN=0\n"
    "NMEA_Timeout=5\n"
    "NMEA_FailCode=NMEA\n";

std::vector<std::uint16_t> portsOf(const RunState& state) {
  return std::vector<std::uint16_t>(state.chosenPorts.begin(), state.chosenPorts.end());
}

void choosePorts(RunState& state, std::initializer_list<std::uint16_t> ports) {
  state.chosenPorts.clear();
  for (auto port : ports) state.chosenPorts.push(port);
}

// Records every effect of a load, with the record as it stood at that moment.
class RecordingEffects : public SettingsLoadEffects {
 public:
  explicit RecordingEffects(const TestSettings* watched = nullptr) : watched_(watched) {}

  void showNmeaBaudrate(std::int32_t baud) override { note("nmea " + std::to_string(baud)); }
  void showUpdateBaudrate(std::int32_t index) override { note("update " + std::to_string(index)); }
  void showSeries(std::int32_t series) override { note("series " + std::to_string(series)); }
  std::uint32_t loadDownloadAgent(const std::string& path, std::uint32_t chip) override {
    note("loadDA " + path + " " + std::to_string(chip));
    return daResult;
  }
  std::uint32_t loadRom(const std::string& path) override {
    note("loadROM " + path);
    return romResult;
  }
  void showDownloadAgentPath(const std::string& path) override { note("showDA " + path); }
  void showRomPath(const std::string& path) override { note("showROM " + path); }
  void notice(const std::string& text) override { notices.push_back(text); }

  std::uint32_t daResult = 0;
  std::uint32_t romResult = 0;
  std::vector<std::string> calls;
  std::vector<TestSettings> seen;  // the record at each call
  std::vector<std::string> notices;

 private:
  void note(std::string call) {
    calls.push_back(std::move(call));
    seen.push_back(watched_ ? *watched_ : TestSettings{});
  }
  const TestSettings* watched_;
};

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quenby-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    file_ = folder_ / "Torvane.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void put(const std::string& content) const {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string content() const {
    std::ifstream in(file_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Loads file_ into a record that starts from `start`.
  TestSettings loaded(const TestSettings& start = TestSettings{}, RunState* state = nullptr) const {
    TestSettings settings = start;
    RunState ownState;
    RecordingEffects effects;
    loadSettings(file_, settings, state ? *state : ownState, effects);
    return settings;
  }

  fs::path folder_;
  fs::path file_;
};

TEST_F(SettingsFileTest, FirstStartWithoutFileGivesTheDefaults) {
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);

  EXPECT_EQ(settings, defaultSettings());
  EXPECT_EQ(settings.updateHzFailCode, TestSettings{}.updateHzFailCode);  // not in the file
  EXPECT_EQ(portsOf(state), std::vector<std::uint16_t>{1});
  EXPECT_FALSE(state.daLoaded);
  EXPECT_FALSE(state.romLoaded);
  EXPECT_EQ(effects.calls, (std::vector<std::string>{"nmea 38400", "update 4", "series 3329"}));
  EXPECT_FALSE(fs::exists(file_));  // a load never creates the file
}

TEST_F(SettingsFileTest, SaveOfTheDefaultsWritesTheSampleFile) {
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);
  saveSettings(file_, settings, state);
  EXPECT_EQ(content(), kDefaultFile);
}

TEST_F(SettingsFileTest, LineKeysAreWrittenOnlyOnceTheFileUsesThem) {
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  put("[Line]\nSerial_Entry=1\n");
  loadSettings(file_, settings, state, effects);
  EXPECT_EQ(settings.serialEntry, 1);
  EXPECT_EQ(settings.socketEntry, 0);
  // A profile's 0 replaces the 1 the file had; the key the file never had stays out of it.
  settings.serialEntry = 0;
  saveSettings(file_, settings, state);
  const std::string text = content();
  EXPECT_NE(text.find("[Line]\nSerial_Entry=0\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Socket_Entry"), std::string::npos) << text;
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecordBitExact) {
  const TestSettings saved = unusualSettings();
  RunState state;
  state.offeredItems |= item::BluetoothMac;  // so that the Extra section is written too
  choosePorts(state, {3, 5, 65535, 1});
  saveSettings(file_, saved, state);

  const std::string text = content();
  EXPECT_NE(text.find("\nSignal_Phase_Ratio=0.850000023841858\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nComSelect=3,5,65535,1,\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nSVid=32\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nSignal_TCXO_Offset=12345.677734375\n"), std::string::npos) << text;
  const std::string extra =
      "NMEA_FailCode=Nm\n[Extra]\nBT_Mac=001A7DDA7113\nBT_Timeout=12\nBT_FailCode=BT\nBT_MacE=FFFE1001A00B\n";
  ASSERT_GE(text.size(), extra.size());
  EXPECT_EQ(text.substr(text.size() - extra.size()), extra);

  TestSettings back;
  RunState backState;
  RecordingEffects effects;
  loadSettings(file_, back, backState, effects);
  TestSettings expected = saved;
  expected.updateHzFailCode = TestSettings{}.updateHzFailCode;  // neither written nor read
  EXPECT_EQ(back, expected);
  for (auto field : {&TestSettings::updateHz, &TestSettings::signalPhaseRatio, &TestSettings::signalTcxoOffset,
                     &TestSettings::signalTcxoDrift, &TestSettings::signalCnrThreshold, &TestSettings::signalCnrDev})
    EXPECT_EQ(std::bit_cast<std::uint32_t>(back.*field), std::bit_cast<std::uint32_t>(saved.*field));
  EXPECT_EQ(portsOf(backState), (std::vector<std::uint16_t>{3, 5, 65535, 1}));
}

TEST_F(SettingsFileTest, ExtraSectionIsWrittenOnlyWhenBluetoothIsOffered) {
  struct Case {
    std::uint32_t offered;
    bool extraWritten;
  };
  for (const Case c : {Case{item::OfferedItems, false}, Case{item::OfferedItems | item::BluetoothMac, true}}) {
    fs::remove(file_);
    RunState state;
    state.offeredItems = c.offered;
    saveSettings(file_, unusualSettings(), state);
    EXPECT_EQ(content().find("[Extra]") != std::string::npos, c.extraWritten) << std::hex << c.offered;
    EXPECT_EQ(content().find("BT_") != std::string::npos, c.extraWritten) << std::hex << c.offered;
  }
}

TEST_F(SettingsFileTest, ComSelectTakesEachPortOnceAndNamesWhatItLeavesOut) {
  std::string seventeen;
  for (int port = 1; port <= 17; ++port) seventeen += std::to_string(port) + ",";
  const std::string cut97 = std::string(97, '0') + "12,34,";
  const std::string cut98 = std::string(98, '0') + "12,34,";
  const std::string notPort = " (not a port number from 1 to 65535)";
  struct Case {
    std::optional<std::string> value;  // nullopt: no ComSelect key
    std::vector<std::uint16_t> ports;
    std::string leftOut;  // what the one notice names after "ComSelect=<value>: left out "
  };
  const Case cases[] = {
      {std::nullopt, {1}, ""},
      {"", {}, ""},
      {"3,,5", {3, 5}, ""},
      {"3,5,", {3, 5}, ""},
      {",,,", {}, ""},
      {" 7 , 8", {7, 8}, ""},
      {"3, ,5", {3, 5}, ""},
      {"007,65535", {7, 65535}, ""},
      {"3,x", {3}, "x" + notPort},
      {"3;5,", {}, "3;5" + notPort},
      {"0,65536,65537,-5,+4,4x, ,2", {2}, "0, 65536, 65537, -5, +4, 4x" + notPort},
      {"5,3,5,5,3", {5, 3}, "5, 5, 3 (named before)"},
      {"x,2,2", {2}, "x" + notPort + "; 2 (named before)"},
      {seventeen, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, "17 (more than 16 ports)"},
      {"16,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1,1", {16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1},
       "1 (named before)"},
      // Only 99 characters are read: a 99-character piece is whole, the next one beyond the cut
      // is named ...
      {cut97, {12}, ",34, (beyond the first 99 characters)"},
      // ... and a piece that crosses the cut loses its last digit (what is cut off is named).
      {cut98, {1}, "2,34, (beyond the first 99 characters)"},
      {std::string(99, ',') + "  ", {}, ""},
  };
  for (const Case& c : cases) {
    const std::string shown = c.value ? *c.value : "(missing)";
    put(c.value ? "[System]\nComSelect=" + *c.value + "\n" : "[System]\n");
    TestSettings settings;
    RunState state;
    choosePorts(state, {9, 9, 9});  // the load empties the list first
    RecordingEffects effects;
    loadSettings(file_, settings, state, effects);
    EXPECT_EQ(portsOf(state), c.ports) << shown;
    const std::vector<std::string> told =
        c.leftOut.empty() ? std::vector<std::string>{}
                          : std::vector<std::string>{"ComSelect=" + *c.value + ": left out " + c.leftOut};
    EXPECT_EQ(effects.notices, told) << shown;
  }
}

TEST_F(SettingsFileTest, ComSelectIsWrittenAsPortsWithCommas) {
  struct Case {
    std::initializer_list<std::uint16_t> ports;
    std::string line;
  };
  for (const Case& c : {Case{{}, "ComSelect=\n"}, Case{{3, 5}, "ComSelect=3,5,\n"},
                        Case{{16, 1, 0}, "ComSelect=16,1,0,\n"}}) {
    fs::remove(file_);
    RunState state;
    choosePorts(state, c.ports);
    saveSettings(file_, defaultSettings(), state);
    EXPECT_EQ(content().substr(0, 9 + c.line.size()), "[System]\n" + c.line);
  }
}

TEST_F(SettingsFileTest, ValuesFallBackToTheirDefaultsWhenTheyDoNotConvert) {
  struct Case {
    const char* file;
    std::function<void(TestSettings&)> change;  // from the defaults
  };
  const Case cases[] = {
      {"[System]\nBaudrate_NMEA=0x9600\n", [](TestSettings& s) { s.baudrateNmea = 38400; }},
      {"[System]\nBaudrate_NMEA=$2580\n", [](TestSettings& s) { s.baudrateNmea = 9600; }},
      {"[System]\nBaudrate_NMEA=x12C0\n", [](TestSettings& s) { s.baudrateNmea = 4800; }},
      {"[System]\nBaudrate_NMEA=  +19200\n", [](TestSettings& s) { s.baudrateNmea = 19200; }},
      // Numbers out of their ranges give the defaults too (the notices are tested below).
      {"[System]\nBaudrate_NMEA=x4B0\n", [](TestSettings&) {}},
      {"[System]\nBaudrate_NMEA=  -12\n", [](TestSettings&) {}},
      {"[System]\nBaudrate_NMEA=99999999999\n", [](TestSettings&) {}},
      {"[System]\nBaudrate_NMEA=\n", [](TestSettings&) {}},
      {"[System]\nBaudrate_NMEA=9600 baud\n", [](TestSettings&) {}},
      {"[System]\nEnable_Test=0x401\n", [](TestSettings& s) { s.enableTest = 0x401; }},
      {"[Basic]\nHz_Timeout=abc\n", [](TestSettings& s) { s.hzTimeout = 5; }},
      {"[Basic]\nHz_Timeout=7\n", [](TestSettings& s) { s.hzTimeout = 7; }},
      {"[Basic]\nVersion_Series=3318\n", [](TestSettings& s) { s.versionSeries = 3318; }},
      {"[Basic]\nSVid=300\n", [](TestSettings&) {}},
      {"[Basic]\nSVid=-1\n", [](TestSettings&) {}},
      {"[Basic]\nSVid=0x20\n", [](TestSettings& s) { s.svId = 32; }},
      {"[Basic]\nSVid=abc\n", [](TestSettings&) {}},
      {"[basic]\n  svid = 7 \n", [](TestSettings& s) { s.svId = 7; }},
      {"[Basic]\nUpdate_Hz=2.5\n", [](TestSettings& s) { s.updateHz = 2.5f; }},
      {"[Basic]\nUpdate_Hz=\n", [](TestSettings&) {}},
      {"[Basic]\nUpdate_Hz=1,5\n", [](TestSettings&) {}},
      {"[Basic]\nSignal_Phase_Ratio=x\n", [](TestSettings&) {}},
      {"[Basic]\nSignal_CNR_Dev=-0.25\n", [](TestSettings&) {}},
      {"[Basic]\nSignal_CNR_Dev=0.25\n", [](TestSettings& s) { s.signalCnrDev = 0.25f; }},
      {"[Basic]\nVersion_Customer=\n", [](TestSettings& s) { s.versionCustomer = ""; }},
      {"[Basic]\nVersion_MTK=\"  M-core_1.9  \"\n", [](TestSettings& s) { s.versionMtk = "  M-core_1.9  "; }},
      {"[Basic]\nNMEA_FailCode=N,E;A\n", [](TestSettings& s) { s.nmeaFailCode = "N,E;A"; }},
      {"[Extra]\nBT_Mac=00112233445\n", [](TestSettings&) {}},
      {"[Extra]\nBT_Mac=0011223344556\n", [](TestSettings&) {}},
      {"[Extra]\nBT_Mac=\n", [](TestSettings&) {}},
      {"[Extra]\nBT_Mac=A1b2C3d4E5f6\n",
       [](TestSettings& s) { s.btMac = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}; }},
      {"[Extra]\nBT_MacE=FFFFFFFFFFFE\nBT_Timeout=30\nBT_FailCode=\n",
       [](TestSettings& s) {
         s.btMacE = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
         s.btTimeout = 30;
         s.btFailCode = "";
       }},
      // Keys in the wrong section are not found.
      {"[Basic]\nBaudrate_NMEA=9600\n[System]\nSVid=1\n", [](TestSettings&) {}},
  };
  for (const Case& c : cases) {
    put(c.file);
    TestSettings expected = defaultSettings();
    c.change(expected);
    EXPECT_EQ(loaded(), expected) << c.file;
  }
}

TEST_F(SettingsFileTest, BadMacPairStopsTheLoadThere) {
  // The record before the load: the keys after the failing pair must keep these values.
  TestSettings before = unusualSettings();
  struct Case {
    const char* extra;
    const char* message;
    std::function<void(TestSettings&)> change;  // applied to the defaults: what the load reached
  };
  const Case cases[] = {
      {"BT_Mac=0011223344GG\nBT_MacE=AABBCCDDEEFF\nBT_FailCode=X\nBT_Timeout=1\n",
       "'0xGG' is not a valid integer value",
       [&](TestSettings& s) {
         s.btMac = {0x00, 0x11, 0x22, 0x33, 0x44, before.btMac[5]};
         s.btMacE = before.btMacE;
         s.btFailCode = before.btFailCode;
         s.btTimeout = before.btTimeout;
       }},
      {"BT_Mac=Z01122334455\n", "'0xZ0' is not a valid integer value",
       [&](TestSettings& s) {
         s.btMac = before.btMac;
         s.btMacE = before.btMacE;
         s.btFailCode = before.btFailCode;
         s.btTimeout = before.btTimeout;
       }},
      {"BT_Mac=0011 2334455\n", "'0x 2' is not a valid integer value",
       [&](TestSettings& s) {
         s.btMac = {0x00, 0x11, before.btMac[2], before.btMac[3], before.btMac[4], before.btMac[5]};
         s.btMacE = before.btMacE;
         s.btFailCode = before.btFailCode;
         s.btTimeout = before.btTimeout;
       }},
      {"BT_Mac=010203040506\nBT_MacE=0A0B0C-D0E0F\nBT_FailCode=X\n", "'0x-D' is not a valid integer value",
       [&](TestSettings& s) {
         s.btMac = {1, 2, 3, 4, 5, 6};
         s.btMacE = {0x0A, 0x0B, 0x0C, before.btMacE[3], before.btMacE[4], before.btMacE[5]};
         s.btFailCode = before.btFailCode;
         s.btTimeout = before.btTimeout;
       }},
  };
  for (const Case& c : cases) {
    put(std::string("[Extra]\n") + c.extra);
    TestSettings settings = before;
    RunState state;
    RecordingEffects effects;
    try {
      loadSettings(file_, settings, state, effects);
      ADD_FAILURE() << c.extra << ": no error";
    } catch (const SettingsError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
    TestSettings expected = defaultSettings();
    expected.flashDownloadDaPath = before.flashDownloadDaPath;  // empty paths leave these
    expected.flashDownloadRomPath = before.flashDownloadRomPath;
    expected.updateHzFailCode = before.updateHzFailCode;
    c.change(expected);
    EXPECT_EQ(settings, expected) << c.extra;
  }
}

TEST_F(SettingsFileTest, ProfileWithSomeKeysSetsEveryOtherToItsDefault) {
  RunState state;
  choosePorts(state, {4, 6});
  const TestSettings before = unusualSettings();
  put("[System]\nBaudrate_NMEA=9600\n[Basic]\nVersion_SDKver=v9\n");
  const TestSettings settings = loaded(before, &state);

  TestSettings expected = defaultSettings();
  expected.baudrateNmea = 9600;
  expected.versionSdkVer = "v9";
  // Empty Download Agent and ROM paths keep the earlier files (they are saved again).
  expected.flashDownloadDaPath = before.flashDownloadDaPath;
  expected.flashDownloadRomPath = before.flashDownloadRomPath;
  expected.updateHzFailCode = before.updateHzFailCode;
  EXPECT_EQ(settings, expected);
  EXPECT_EQ(portsOf(state), std::vector<std::uint16_t>{1});
}

TEST_F(SettingsFileTest, SaveKeepsUnknownKeysCommentsAndOtherSections) {
  put("; Quenby settings\n"
      "[System]\n"
      "ComSelect=3,5,\n"
      "Operator=Anna\n"
      "\n"
      "[Basic]\n"
      "# tuned for line 2\n"
      "SVid=12\n"
      "Custom_Key = keep me\n"
      "[Extra]\n"
      "BT_Mac=001122334455\n"
      "Local=1\n");
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);
  saveSettings(file_, settings, state);

  const std::string text = content();
  const std::string start =
      "; Quenby settings\n[System]\nComSelect=3,5,\nOperator=Anna\nBaudrate_NMEA=38400\n"
      "Baudrate_Update=4\nEnable_Test=1\n\n[Basic]\n# tuned for line 2\nSVid=12\n"
      "Custom_Key = keep me\nFlashDownload_DA_Path=\nFlashDownload_ROM_Path=\n";
  const std::string end = "NMEA_FailCode=NMEA\n[Extra]\nBT_Mac=001122334455\nLocal=1\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(text.find("SVid="), text.rfind("SVid="));  // replaced, not added again

  // Saving what was just saved changes nothing.
  saveSettings(file_, settings, state);
  EXPECT_EQ(content(), text);
}

TEST_F(SettingsFileTest, CrLfFileStaysCrLf) {
  put("[System]\r\nComSelect=2,\r\n[Basic]\r\nSVid=1\r\n");
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);
  saveSettings(file_, settings, state);

  const std::string text = content();
  const std::string start = "[System]\r\nComSelect=2,\r\nBaudrate_NMEA=38400\r\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  std::size_t lineEnds = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    ++lineEnds;
    EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
  }
  EXPECT_EQ(lineEnds, 46u);  // two headers and 44 keys
  TestSettings expected = defaultSettings();
  expected.svId = 1;
  EXPECT_EQ(loaded(), expected);
}

TEST_F(SettingsFileTest, RefusedSaveRaisesUnableToWrite) {
  struct Case {
    const char* name;
    fs::path path;
    bool readOnlyFile;
  };
  const Case cases[] = {
      {"read-only file", file_, true},
      {"missing folder", folder_ / "gone" / "profile.ini", false},
  };
  for (const Case& c : cases) {
    if (c.readOnlyFile) {
      put("[System]\nComSelect=7,\n");
      ASSERT_EQ(::chmod(c.path.c_str(), 0444), 0);
    }
    RunState state;
    try {
      saveSettings(c.path, defaultSettings(), state);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const SettingsError& error) {
      EXPECT_EQ(std::string(error.what()), "Unable to write to " + c.path.string()) << c.name;
    }
    if (c.readOnlyFile) {
      EXPECT_EQ(content(), "[System]\nComSelect=7,\n");
    }
  }
}

// A save that the system refuses part-way (here: the file-size limit, as on a full disk) keeps the
// keys written before the refused one, and the file is never left half-written. Runs in a child
// process so that the limit does not touch the test runner.
TEST_F(SettingsFileTest, SaveRefusedPartWayKeepsTheKeysBeforeIt) {
  const std::string firstThree = "[System]\nComSelect=1,\nBaudrate_NMEA=38400\nBaudrate_Update=4\n";
  ASSERT_EQ(firstThree.size(), 60u);  // Enable_Test=1 would make 74 bytes
  const std::string path = file_.string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    RunState state;
    choosePorts(state, {1});
    int code = 2;  // no error
    try {
      saveSettings(path, defaultSettings(), state);
    } catch (const SettingsError& error) {
      code = std::string(error.what()) == "Unable to write to " + path ? 0 : 1;
    } catch (...) {
      code = 3;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong message, 2: no error, 3: other error";
  EXPECT_EQ(content(), firstThree);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator{}), 1);
}

TEST_F(SettingsFileTest, LoadHandsPathsToTheLibraryInStepOrder) {
  put("[System]\nBaudrate_NMEA=4800\nBaudrate_Update=9\nEnable_Test=3\n"
      "[Basic]\nFlashDownload_DA_Path=/da/DA_PL.BIN\nFlashDownload_ROM_Path=/rom/image.bin\n"
      "FlashDownload_FailCode=DLF\nUpdate_Hz=5\nVersion_Series=3318\n");
  TestSettings settings;
  RunState state;
  RecordingEffects effects(&settings);
  loadSettings(file_, settings, state, effects);

  EXPECT_EQ(effects.calls, (std::vector<std::string>{"nmea 4800", "update 9", "series 3318",
                                                      "loadDA /da/DA_PL.BIN 3072", "showDA /da/DA_PL.BIN",
                                                      "loadROM /rom/image.bin", "showROM /rom/image.bin"}));
  ASSERT_EQ(effects.seen.size(), 7u);
  // Step 2: each menu is shown right after its own read.
  EXPECT_EQ(effects.seen[0].baudrateNmea, 4800);
  EXPECT_EQ(effects.seen[0].baudrateUpdate, TestSettings{}.baudrateUpdate);
  EXPECT_EQ(effects.seen[1].versionSeries, 0);
  // Step 4 comes after step 3 and before step 5; the path is in the record when loaded.
  EXPECT_EQ(effects.seen[3].enableTest, 3);
  EXPECT_EQ(effects.seen[3].flashDownloadFailCode, "DLF");
  EXPECT_EQ(effects.seen[3].flashDownloadDaPath, "/da/DA_PL.BIN");
  EXPECT_EQ(effects.seen[3].flashDownloadRomPath, "");
  // Step 5 comes before step 6.
  EXPECT_EQ(effects.seen[5].flashDownloadRomPath, "/rom/image.bin");
  EXPECT_EQ(effects.seen[5].updateHz, 0.0f);
  EXPECT_EQ(settings.updateHz, 5.0f);
}

TEST_F(SettingsFileTest, LoadedFlagsFollowResultBits8To15) {
  struct Case {
    std::uint32_t result;
    bool loaded;
  };
  const Case cases[] = {{0, true},           {0x1, true},      {0xFF, true},      {0x100, false},
                        {0x8000, false},     {0xFF00, false},  {0x10000, true},   {0xFFFF00FF, true},
                        {0xFFFFFFFF, false}};
  put("[Basic]\nFlashDownload_DA_Path=da.bin\nFlashDownload_ROM_Path=rom.bin\n");
  for (const Case& c : cases) {
    for (const bool daSide : {true, false}) {
      TestSettings settings;
      RunState state;
      RecordingEffects effects;
      (daSide ? effects.daResult : effects.romResult) = c.result;
      loadSettings(file_, settings, state, effects);
      EXPECT_EQ(daSide ? state.daLoaded : state.romLoaded, c.loaded) << std::hex << c.result;
      EXPECT_TRUE(daSide ? state.romLoaded : state.daLoaded) << std::hex << c.result;
      // A file that the library refuses still goes into the record (and is saved again).
      EXPECT_EQ(settings.flashDownloadDaPath, "da.bin");
      EXPECT_EQ(settings.flashDownloadRomPath, "rom.bin");
    }
  }
}

TEST_F(SettingsFileTest, EmptyPathsLeaveLibraryRecordAndFlagsAlone) {
  put("[Basic]\nFlashDownload_DA_Path=\nFlashDownload_ROM_Path=\n");
  TestSettings settings;
  settings.flashDownloadDaPath = "earlier.da";
  settings.flashDownloadRomPath = "earlier.rom";
  RunState state;
  state.daLoaded = true;  // never cleared by a load
  RecordingEffects effects;
  effects.daResult = effects.romResult = 0x100;
  loadSettings(file_, settings, state, effects);
  EXPECT_EQ(effects.calls, (std::vector<std::string>{"nmea 38400", "update 4", "series 3329"}));
  EXPECT_EQ(settings.flashDownloadDaPath, "earlier.da");
  EXPECT_EQ(settings.flashDownloadRomPath, "earlier.rom");
  EXPECT_TRUE(state.daLoaded);
  EXPECT_FALSE(state.romLoaded);

  // A failing library load does not clear a flag that an earlier load set either.
  put("[Basic]\nFlashDownload_DA_Path=bad.da\n");
  loadSettings(file_, settings, state, effects);
  EXPECT_TRUE(state.daLoaded);
  EXPECT_EQ(settings.flashDownloadDaPath, "bad.da");
}

TEST_F(SettingsFileTest, NumbersOutsideTheirRangesGiveTheDefaultWithANotice) {
  struct Case {
    std::string file;
    std::function<void(TestSettings&)> change;  // from the defaults
    std::string notice;                         // empty: taken without one
  };
  const auto refused = [](const std::string& keyValue, const std::string& range, const std::string& fallback) {
    return keyValue + " is out of range (" + range + "); the default " + fallback + " is used";
  };
  const std::string timeouts = "1 to 86400 s";
  const std::string bauds = "4800, 9600, 14400, 19200, 38400, 57600 or 115200";
  const auto none = [](TestSettings&) {};
  const Case cases[] = {
      {"[Basic]\nSignal_Timeout=0\n", none, refused("Signal_Timeout=0", timeouts, "20")},
      {"[Basic]\nSignal_Timeout=-5\n", none, refused("Signal_Timeout=-5", timeouts, "20")},
      {"[Basic]\nSignal_Timeout=1\n", [](TestSettings& s) { s.signalTimeout = 1; }, ""},
      {"[Basic]\nAcqTime_Timeout=86400\n", [](TestSettings& s) { s.acqTimeTimeout = 86400; }, ""},
      {"[Basic]\nAcqTime_Timeout=86401\n", none, refused("AcqTime_Timeout=86401", timeouts, "10")},
      {"[Extra]\nBT_Timeout=0\n", none, refused("BT_Timeout=0", timeouts, "5")},
      {"[Basic]\nSVid=0\n", none, refused("SVid=0", "1 to 32", "29")},
      {"[Basic]\nSVid=33\n", none, refused("SVid=33", "1 to 32", "29")},
      {"[Basic]\nSVid=285\n", none, refused("SVid=285", "1 to 32", "29")},  // not its low 8 bits
      {"[Basic]\nSVid=1\n", [](TestSettings& s) { s.svId = 1; }, ""},
      {"[System]\nBaudrate_NMEA=1200\n", none, refused("Baudrate_NMEA=1200", bauds, "38400")},
      {"[System]\nBaudrate_NMEA=115200\n", [](TestSettings& s) { s.baudrateNmea = 115200; }, ""},
      {"[System]\nBaudrate_Update=0\n", none, refused("Baudrate_Update=0", "1 to 10", "4")},
      {"[System]\nBaudrate_Update=11\n", none, refused("Baudrate_Update=11", "1 to 10", "4")},
      {"[System]\nBaudrate_Update=10\n", [](TestSettings& s) { s.baudrateUpdate = 10; }, ""},
      // Any item set is taken: a run leaves the bits that no item has.
      {"[System]\nEnable_Test=-1\n", [](TestSettings& s) { s.enableTest = -1; }, ""},
      {"[System]\nEnable_Test=0\n", [](TestSettings& s) { s.enableTest = 0; }, ""},
      {"[Basic]\nVersion_Series=3330\n", none, refused("Version_Series=3330", "3329 or 3318", "3329")},
      {"[Basic]\nUpdate_Hz=0\n", none, refused("Update_Hz=0", "0.1 to 10 Hz", "1")},
      {"[Basic]\nUpdate_Hz=10.5\n", none, refused("Update_Hz=10.5", "0.1 to 10 Hz", "1")},
      {"[Basic]\nUpdate_Hz=0.1\n", [](TestSettings& s) { s.updateHz = 0.1f; }, ""},
      {"[Basic]\nSignal_Phase_Ratio=1.01\n", none, refused("Signal_Phase_Ratio=1.01", "0 to 1", "0.85")},
      {"[Basic]\nSignal_Phase_Ratio=1\n", [](TestSettings& s) { s.signalPhaseRatio = 1.0f; }, ""},
      {"[Basic]\nSignal_TCXO_Offset=-0.1\n", none,
       refused("Signal_TCXO_Offset=-0.1", "0 to 16368 Hz", "40.92")},
      {"[Basic]\nSignal_TCXO_Drift=16368\n", [](TestSettings& s) { s.signalTcxoDrift = 16368.0f; }, ""},
      {"[Basic]\nSignal_CNR_Threshold=100\n", none, refused("Signal_CNR_Threshold=100", "0 to 99", "40")},
      {"[Basic]\nNMEA_Freq_GLL=11\n", none, refused("NMEA_Freq_GLL=11", "0 to 10", "1")},
      {"[Basic]\nNMEA_Freq_ZDA=10\n", [](TestSettings& s) { s.nmeaFreqZda = 10; }, ""},
      // Text that is no number is told as well; an empty value quietly gives the default.
      {"[Basic]\nHz_Timeout=abc\n", none, "Hz_Timeout=abc is not a number; the default 5 is used"},
      {"[Basic]\nHz_Timeout=\n", none, ""},
  };
  for (const Case& c : cases) {
    put(c.file);
    TestSettings settings;
    RunState state;
    RecordingEffects effects;
    loadSettings(file_, settings, state, effects);
    TestSettings expected = defaultSettings();
    c.change(expected);
    EXPECT_EQ(settings, expected) << c.file;
    EXPECT_EQ(effects.notices, c.notice.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{c.notice})
        << c.file;
  }

  // Every number key but the item set has its range: far below it, each one gives its default
  // and a notice.
  const std::vector<std::pair<std::string, std::vector<std::string>>> numberKeys = {
      {"System", {"Baudrate_NMEA", "Baudrate_Update"}},
      {"Basic",
       {"Update_Hz", "Hz_Timeout", "Version_Timeout", "Version_Series", "SVid", "AcqTime_Timeout",
        "BitSync_Timeout", "Signal_Phase_Ratio", "Signal_TCXO_Offset", "Signal_TCXO_Drift",
        "Signal_CNR_Threshold", "Signal_CNR_Dev", "Signal_Timeout", "ColdStart_Timeout",
        "Reset_Timeout", "NMEA_Freq_GLL", "NMEA_Freq_RMC", "NMEA_Freq_VTG", "NMEA_Freq_GSA",
        "NMEA_Freq_GSV", "NMEA_Freq_GGA", "NMEA_Freq_ZDA", "NMEA_Freq_MCHN", "NMEA_Timeout"}},
      {"Extra", {"BT_Timeout"}},
      {"Line", {"Serial_Entry", "Socket_Entry"}},
  };
  std::string file;
  std::vector<std::string> keys;
  for (const auto& [section, names] : numberKeys) {
    file += "[" + section + "]\n";
    for (const std::string& name : names) {
      file += name + "=-100000\n";
      keys.push_back(name);
    }
  }
  put(file);
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);
  EXPECT_EQ(settings, defaultSettings());
  ASSERT_EQ(effects.notices.size(), keys.size());
  for (const std::string& key : keys) {
    const std::string start = key + "=-100000 is out of range (";
    EXPECT_EQ(std::count_if(effects.notices.begin(), effects.notices.end(),
                            [&](const std::string& n) { return n.starts_with(start); }),
              1)
        << key;
  }
}

TEST_F(SettingsFileTest, FileWithAByteOrderMarkKeepsItsFirstSection) {
  const std::string mark = "\xEF\xBB\xBF";
  put(mark + "[System]\r\nComSelect=3,5,\r\nEnable_Test=0x1C\r\n[Basic]\r\nSVid=7\r\n");
  TestSettings settings;
  RunState state;
  RecordingEffects effects;
  loadSettings(file_, settings, state, effects);
  EXPECT_EQ(portsOf(state), (std::vector<std::uint16_t>{3, 5}));
  EXPECT_EQ(settings.enableTest, 0x1C);
  EXPECT_EQ(settings.svId, 7);
  EXPECT_EQ(effects.notices, std::vector<std::string>{});

  // The save writes into that section (no second one) and leaves the mark in front.
  saveSettings(file_, settings, state);
  const std::string text = content();
  const std::string start = mark +
      "[System]\r\nComSelect=3,5,\r\nEnable_Test=28\r\nBaudrate_NMEA=38400\r\n"
      "Baudrate_Update=4\r\n[Basic]\r\nSVid=7\r\n";
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_EQ(text.find("[System]"), text.rfind("[System]"));
}

TEST_F(SettingsFileTest, FileThatIsThereButCannotBeReadIsToldAndGivesTheDefaults) {
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string reason;  // empty: nothing to tell
  };
  const fs::path file = file_;
  const Case cases[] = {
      {"missing", [] {}, ""},
      {"folder", [&] { fs::create_directory(file); }, "Is a directory"},
      {"link in a circle", [&] { fs::create_symlink(file, file); }, "Too many levels of symbolic links"},
      {"link to nothing", [&] { fs::create_symlink(folder_ / "gone.ini", file); }, "No such file or directory"},
      {"pipe", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0); }, "not a regular file"},
      {"no read permission",
       [&] {
         put("[System]\nComSelect=3,\n");
         ASSERT_EQ(::chmod(file.c_str(), 0200), 0);
       },
       ::geteuid() == 0 ? "" : "Permission denied"},  // root reads it all the same
  };
  for (const Case& c : cases) {
    fs::remove_all(file);
    c.make();
    TestSettings settings;
    RunState state;
    RecordingEffects effects;
    loadSettings(file, settings, state, effects);
    if (c.reason.empty()) {
      EXPECT_EQ(effects.notices, std::vector<std::string>{}) << c.name;
      continue;
    }
    EXPECT_EQ(settings, defaultSettings()) << c.name;
    EXPECT_EQ(effects.notices, std::vector<std::string>{"Cannot read the settings file '" + file.string() +
                                                        "': " + c.reason + "; the defaults are used"})
        << c.name;
  }
}

}  // namespace
}  // namespace quenby
