#include "settings/settings_file.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

#include "settings/chosen_ports.h"
#include "settings/file_readability.h"
#include "settings/ini_file.h"
#include "settings/key_ranges.h"
#include "settings/number_text.h"

namespace quenby {

namespace {

constexpr const char* System = "System";
constexpr const char* Basic = "Basic";
constexpr const char* Extra = "Extra";
constexpr const char* Line = "Line";
// A value no settings file holds: what a read of a missing key returns.
constexpr std::string_view NotInFile = "\x01";

// How a key is read and written beyond its field's type.
enum class Kind {
  Plain,       // the field alone
  ChosenPorts, // ComSelect: the run state's chosen-port list
  DaPath,      // a non-empty path is handed to the download library
  RomPath,
};

// The menu that shows the loaded value (Load step 2).
enum class Echo { None, NmeaBaudrate, UpdateBaudrate, Series };

using Field = std::variant<std::monostate, std::int32_t TestSettings::*, std::uint8_t TestSettings::*,
                           float TestSettings::*, std::string TestSettings::*, MacAddress TestSettings::*>;

struct Key {
  const char* section;
  std::string_view name;
  // The default, in the file's own form: a missing key reads as this text, and a number that does
  // not convert falls back to this text's number.
  std::string_view fallback;
  Field field;
  Kind kind = Kind::Plain;
  Echo echo = Echo::None;
};

// Every key of the settings file with its default, in the order of the save.
constexpr std::array kKeys{
    Key{System, "ComSelect", "1,", {}, Kind::ChosenPorts},
    Key{System, "Baudrate_NMEA", "38400", &TestSettings::baudrateNmea, Kind::Plain, Echo::NmeaBaudrate},
    Key{System, "Baudrate_Update", "4", &TestSettings::baudrateUpdate, Kind::Plain, Echo::UpdateBaudrate},
    Key{System, "Enable_Test", "1", &TestSettings::enableTest},
    Key{Basic, "FlashDownload_DA_Path", "", &TestSettings::flashDownloadDaPath, Kind::DaPath},
    Key{Basic, "FlashDownload_ROM_Path", "", &TestSettings::flashDownloadRomPath, Kind::RomPath},
    Key{Basic, "FlashDownload_FailCode", "Download", &TestSettings::flashDownloadFailCode},
    Key{Basic, "Update_Hz", "1", &TestSettings::updateHz},
    Key{Basic, "Hz_Timeout", "5", &TestSettings::hzTimeout},
    Key{Basic, "Version_MTK", "M-core_1.8", &TestSettings::versionMtk},
    Key{Basic, "Version_Customer", "0000", &TestSettings::versionCustomer},
    Key{Basic, "Version_Product_Model", "", &TestSettings::versionProductModel},
    Key{Basic, "Version_SDKver", "", &TestSettings::versionSdkVer},
    Key{Basic, "Version_Timeout", "5", &TestSettings::versionTimeout},
    Key{Basic, "Version_FailCode", "Version", &TestSettings::versionFailCode},
    Key{Basic, "Version_Series", "3329", &TestSettings::versionSeries, Kind::Plain, Echo::Series},
    Key{Basic, "SVid", "29", &TestSettings::svId},
    Key{Basic, "AcqTime_Timeout", "10", &TestSettings::acqTimeTimeout},
    Key{Basic, "AcqTime_FailCode", "Acq", &TestSettings::acqTimeFailCode},
    Key{Basic, "BitSync_Timeout", "5", &TestSettings::bitSyncTimeout},
    Key{Basic, "BitSync_FailCode", "BitSync", &TestSettings::bitSyncFailCode},
    Key{Basic, "Signal_Phase_Ratio", "0.85", &TestSettings::signalPhaseRatio},
    Key{Basic, "Signal_Phase_FailCode", "Phase", &TestSettings::signalPhaseFailCode},
    Key{Basic, "Signal_TCXO_Offset", "40.92", &TestSettings::signalTcxoOffset},
    Key{Basic, "Signal_TCXO_Drift", "0.8184", &TestSettings::signalTcxoDrift},
    Key{Basic, "Signal_TCXO_FailCode", "TCXO", &TestSettings::signalTcxoFailCode},
    Key{Basic, "Signal_CNR_Threshold", "40", &TestSettings::signalCnrThreshold},
    Key{Basic, "Signal_CNR_Dev", "1", &TestSettings::signalCnrDev},
    Key{Basic, "Signal_CNR_FailCode", "CNR", &TestSettings::signalCnrFailCode},
    Key{Basic, "Signal_Timeout", "20", &TestSettings::signalTimeout},
    Key{Basic, "ColdStart_Timeout", "90", &TestSettings::coldStartTimeout},
    Key{Basic, "ColdStart_FailCode", "CTTFF", &TestSettings::coldStartFailCode},
    Key{Basic, "Reset_Timeout", "5", &TestSettings::resetTimeout},
    Key{Basic, "Reset_FailCode", "Reset", &TestSettings::resetFailCode},
    Key{Basic, "NMEA_Freq_GLL", "1", &TestSettings::nmeaFreqGll},
    Key{Basic, "NMEA_Freq_RMC", "1", &TestSettings::nmeaFreqRmc},
    Key{Basic, "NMEA_Freq_VTG", "1", &TestSettings::nmeaFreqVtg},
    Key{Basic, "NMEA_Freq_GSA", "1", &TestSettings::nmeaFreqGsa},
    Key{Basic, "NMEA_Freq_GSV", "1", &TestSettings::nmeaFreqGsv},
    Key{Basic, "NMEA_Freq_GGA", "1", &TestSettings::nmeaFreqGga},
    Key{Basic, "NMEA_Freq_ZDA", "0", &TestSettings::nmeaFreqZda},
    Key{Basic, "NMEA_Freq_MCHN", "0", &TestSettings::nmeaFreqMchn},
    Key{Basic, "NMEA_Timeout", "5", &TestSettings::nmeaTimeout},
    Key{Basic, "NMEA_FailCode", "NMEA", &TestSettings::nmeaFailCode},
    Key{Extra, "BT_Mac", "000000000000", &TestSettings::btMac},
    Key{Extra, "BT_Timeout", "5", &TestSettings::btTimeout},
    Key{Extra, "BT_FailCode", "BT_Mac", &TestSettings::btFailCode},
    Key{Extra, "BT_MacE", "000000000000", &TestSettings::btMacE},
    Key{Line, "Serial_Entry", "0", &TestSettings::serialEntry},
    Key{Line, "Socket_Entry", "0", &TestSettings::socketEntry},
};

// The position of a key in kKeys; an unknown name does not compile.
consteval std::size_t keyIndex(std::string_view name) {
  for (std::size_t i = 0; i < kKeys.size(); ++i)
    if (kKeys[i].name == name) return i;
  throw "unknown settings key";
}

template <std::size_t N>
consteval std::array<std::size_t, N> keyOrder(const std::string_view (&names)[N]) {
  std::array<std::size_t, N> order{};
  for (std::size_t i = 0; i < N; ++i) order[i] = keyIndex(names[i]);
  return order;
}

// The load, key by key, in its fixed order.
constexpr std::string_view kLoadNames[] = {
    "ComSelect",                                                             // 1
    "Baudrate_NMEA", "Baudrate_Update", "Version_Series",                    // 2
    "Enable_Test", "FlashDownload_FailCode",                                 // 3
    "FlashDownload_DA_Path",                                                 // 4
    "FlashDownload_ROM_Path",                                                // 5
    "Update_Hz", "Hz_Timeout",                                               // 6
    "Version_MTK", "Version_Customer", "Version_Product_Model", "Version_SDKver",
    "Version_Timeout", "Version_FailCode",                                   // 7
    "SVid", "AcqTime_Timeout", "AcqTime_FailCode", "BitSync_Timeout", "BitSync_FailCode",  // 8
    "Signal_Phase_Ratio", "Signal_Phase_FailCode", "Signal_TCXO_Offset", "Signal_TCXO_Drift",
    "Signal_TCXO_FailCode", "Signal_CNR_Threshold", "Signal_CNR_Dev", "Signal_CNR_FailCode",
    "Signal_Timeout", "ColdStart_Timeout", "ColdStart_FailCode", "Reset_Timeout",
    "Reset_FailCode",                                                        // 9
    "NMEA_Freq_GLL", "NMEA_Freq_RMC", "NMEA_Freq_VTG", "NMEA_Freq_GSA", "NMEA_Freq_GSV",
    "NMEA_Freq_GGA", "NMEA_Freq_ZDA", "NMEA_Freq_MCHN", "NMEA_Timeout", "NMEA_FailCode",  // 10
    "BT_Mac", "BT_MacE",                                                     // 11
    "BT_FailCode", "BT_Timeout",                                             // 12
    "Serial_Entry", "Socket_Entry",                                          // the line's
};
constexpr auto kLoadOrder = keyOrder(kLoadNames);
static_assert(kLoadOrder.size() == kKeys.size(), "every key is loaded once");

constexpr bool isNumber(const Field& field) {
  return std::holds_alternative<std::int32_t TestSettings::*>(field) ||
         std::holds_alternative<std::uint8_t TestSettings::*>(field) ||
         std::holds_alternative<float TestSettings::*>(field);
}

// Every number key has its range, and each default lies in it.
consteval bool everyNumberHasItsRange() {
  for (const Key& key : kKeys) {
    if (!isNumber(key.field)) continue;
    const KeyRange* accepted = keyRange(key.name);
    if (accepted == nullptr) return false;
    double fallback = 0;  // the defaults are plain decimals
    double scale = 0;
    for (const char c : key.fallback) {
      if (c == '.') {
        scale = 1;
      } else {
        fallback = fallback * 10 + (c - '0');
        scale *= 10;
      }
    }
    if (scale > 0) fallback /= scale;
    if (!accepted->accepts(fallback)) return false;
  }
  return true;
}
static_assert(everyNumberHasItsRange(), "a number key without a range, or a default outside it");

constexpr std::string_view kMacZeros = "000000000000";
constexpr std::size_t MaxComSelectText = 99;

// ComSelect (Load step 1): the ports of its first 99 characters (see chosen_ports.h); what is
// left out is told in one notice.
void loadChosenPorts(std::string_view value, PortList<MaxChosenPorts>& ports,
                     SettingsLoadEffects& effects) {
  const ChosenPortsReading reading = readChosenPorts(value.substr(0, MaxComSelectText));
  ports = reading.ports;
  std::string leftOut = reading.leftOut;
  const std::string_view beyond = value.substr(std::min(value.size(), MaxComSelectText));
  if (beyond.find_first_not_of(" \t") != std::string_view::npos)
    leftOut += (leftOut.empty() ? "" : "; ") + std::string(beyond) + " (beyond the first 99 characters)";
  if (!leftOut.empty()) effects.notice("ComSelect=" + std::string(value) + ": left out " + leftOut);
}

std::string chosenPortsText(const PortList<MaxChosenPorts>& ports) {
  std::string text;
  for (const std::uint16_t port : ports) text += std::to_string(port) + ",";
  return text;
}

// BT_Mac / BT_MacE (Load step 11): each pair of the 12 characters read as "0x" + pair, octet by
// octet; a pair that does not convert stops the load with the octets before it already set.
void loadMac(std::string_view text, MacAddress& mac) {
  if (text.size() != kMacZeros.size()) text = kMacZeros;
  for (std::size_t k = 0; k < mac.size(); ++k) {
    const std::string number = "0x" + std::string(text.substr(2 * k, 2));
    const std::optional<std::int32_t> octet = parseInteger(number);
    if (!octet) throw SettingsError("'" + number + "' is not a valid integer value");
    mac[k] = static_cast<std::uint8_t>(*octet);
  }
}

std::string macText(const MacAddress& mac) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t octet : mac) {
    text += kHex[octet >> 4];
    text += kHex[octet & 0xF];
  }
  return text;
}

// A number key's value; its default's when the text is empty, does not convert or lies outside
// the key's range (the last two told).
template <typename Number>
Number numberOrDefault(const std::string& text, const Key& key, SettingsLoadEffects& effects) {
  const auto parse = [](std::string_view t) {
    if constexpr (std::is_same_v<Number, float>)
      return parseReal(t);
    else
      return parseInteger(t);
  };
  const Number fallback = parse(key.fallback).value();
  if (text.empty()) return fallback;
  const std::optional<Number> value = parse(text);
  const std::string told = std::string(key.name) + "=" + text;
  const std::string instead = "; the default " + std::string(key.fallback) + " is used";
  if (!value) {
    effects.notice(told + " is not a number" + instead);
    return fallback;
  }
  const KeyRange* accepted = keyRange(key.name);
  if (!accepted->accepts(static_cast<double>(*value))) {
    effects.notice(told + " is out of range (" + accepted->range + ")" + instead);
    return fallback;
  }
  return *value;
}

void echo(Echo menu, std::int32_t value, SettingsLoadEffects& effects) {
  switch (menu) {
    case Echo::NmeaBaudrate: effects.showNmeaBaudrate(value); break;
    case Echo::UpdateBaudrate: effects.showUpdateBaudrate(value); break;
    case Echo::Series: effects.showSeries(value); break;
    case Echo::None: break;
  }
}

void loadKey(const IniFile& ini, const Key& key, TestSettings& settings, RunState& state,
             SettingsLoadEffects& effects) {
  const std::string text = ini.read(key.section, key.name, key.fallback);
  switch (key.kind) {
    case Kind::ChosenPorts:
      loadChosenPorts(text, state.chosenPorts, effects);
      return;
    case Kind::DaPath:
      // Load step 4: an empty path leaves the path, the library and the flag as they were.
      if (!text.empty()) {
        settings.flashDownloadDaPath = text;
        const std::uint32_t result = effects.loadDownloadAgent(text, DaChipValueOnLoad);
        effects.showDownloadAgentPath(text);
        if (libraryLoadSucceeded(result)) state.daLoaded = true;
      }
      return;
    case Kind::RomPath:
      // Load step 5.
      if (!text.empty()) {
        settings.flashDownloadRomPath = text;
        const std::uint32_t result = effects.loadRom(text);
        effects.showRomPath(text);
        if (libraryLoadSucceeded(result)) state.romLoaded = true;
      }
      return;
    case Kind::Plain:
      break;
  }
  std::visit(
      [&](auto member) {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, std::int32_t TestSettings::*>) {
          settings.*member = numberOrDefault<std::int32_t>(text, key, effects);
          echo(key.echo, settings.*member, effects);
        } else if constexpr (std::is_same_v<Member, std::uint8_t TestSettings::*>) {
          settings.*member = static_cast<std::uint8_t>(numberOrDefault<std::int32_t>(text, key, effects));
        } else if constexpr (std::is_same_v<Member, float TestSettings::*>) {
          settings.*member = numberOrDefault<float>(text, key, effects);
        } else if constexpr (std::is_same_v<Member, std::string TestSettings::*>) {
          settings.*member = text;
        } else if constexpr (std::is_same_v<Member, MacAddress TestSettings::*>) {
          loadMac(text, settings.*member);
        } else {
          static_assert(std::is_same_v<Member, std::monostate>, "a field type without a reading");
        }
      },
      key.field);
}

std::string valueText(const Key& key, const TestSettings& settings, const RunState& state) {
  if (key.kind == Kind::ChosenPorts) return chosenPortsText(state.chosenPorts);
  return std::visit(
      [&](auto member) -> std::string {
        using Member = decltype(member);
        if constexpr (std::is_same_v<Member, std::int32_t TestSettings::*>) {
          return std::to_string(settings.*member);
        } else if constexpr (std::is_same_v<Member, std::uint8_t TestSettings::*>) {
          return std::to_string(static_cast<unsigned>(settings.*member));
        } else if constexpr (std::is_same_v<Member, float TestSettings::*>) {
          return formatReal(settings.*member);
        } else if constexpr (std::is_same_v<Member, std::string TestSettings::*>) {
          return settings.*member;
        } else if constexpr (std::is_same_v<Member, MacAddress TestSettings::*>) {
          return macText(settings.*member);
        } else {
          static_assert(std::is_same_v<Member, std::monostate>, "a field type without a writing");
          return {};
        }
      },
      key.field);
}

}  // namespace

void loadSettings(const std::filesystem::path& file, TestSettings& settings, RunState& state,
                  SettingsLoadEffects& effects) {
  if (const std::string reason = unreadableReason(file); !reason.empty())
    effects.notice("Cannot read the settings file '" + file.string() + "': " + reason +
                   "; the defaults are used");
  const IniFile ini(file);
  for (const std::size_t index : kLoadOrder) loadKey(ini, kKeys[index], settings, state, effects);
}

void saveSettings(const std::filesystem::path& file, const TestSettings& settings,
                  const RunState& state) {
  const IniFile ini(file);
  // Save steps 1 to 3: kKeys is in save order; the Extra section only when Bluetooth is offered.
  const bool bluetoothOffered = (state.offeredItems & item::BluetoothMac) != 0;
  for (const Key& key : kKeys) {
    if (std::string_view(key.section) == Extra && !bluetoothOffered) continue;
    const std::string value = valueText(key, settings, state);
    // The line's keys go into a file only once they are used: a station that does not scan
    // keeps the file it always had. A key already there is always written, so that a profile's
    // value replaces it.
    if (std::string_view(key.section) == Line && value == key.fallback &&
        ini.read(key.section, key.name, NotInFile) == NotInFile)
      continue;
    ini.write(key.section, key.name, value);
  }
}

}  // namespace quenby
