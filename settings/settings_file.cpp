#include "settings/settings_file.h"

#include <array>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

#include "settings/file_readability.h"
#include "settings/ini_file.h"
#include "settings/number_text.h"

namespace quenby {

namespace {

constexpr const char* System = "System";
constexpr const char* Basic = "Basic";
constexpr const char* Extra = "Extra";

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
};
constexpr auto kLoadOrder = keyOrder(kLoadNames);
static_assert(kLoadOrder.size() == kKeys.size(), "every key is loaded once");

// What each number key accepts; a value outside is refused at load, with a notice, and the
// key's default used instead.
struct Accepted {
  std::string_view key;
  bool (*accepts)(double value);
  const char* range;  // how the notice names the accepted values
};

// A time-out: from a second to a day.
constexpr bool timeout(double v) { return v >= 1 && v <= 86400; }
// The NMEA Baudrate menu's rates.
constexpr bool nmeaBaud(double v) {
  for (const int baud : {4800, 9600, 14400, 19200, 38400, 57600, 115200})
    if (v == baud) return true;
  return false;
}
// The Update Baudrate menu's indexes (downloadBaudForIndex).
constexpr bool updateBaudIndex(double v) { return v >= 1 && v <= 10; }
constexpr bool series(double v) { return v == 3329 || v == 3318; }
// Any item set: a run takes the bits it knows and leaves the others.
constexpr bool itemSet(double) { return true; }
// The GPS satellites' ids.
constexpr bool satellite(double v) { return v >= 1 && v <= 32; }
// A fix rate from one every ten seconds to ten a second.
constexpr bool fixRate(double v) { return v >= 0.1f && v <= 10; }
constexpr bool ratio(double v) { return v >= 0 && v <= 1; }
// A TCXO offset or drift limit: up to 1000 ppm of the 16.368 MHz clock.
constexpr bool clockLimit(double v) { return v >= 0 && v <= 16368; }
// Carrier-to-noise in dB-Hz, as the sentences give it.
constexpr bool carrierToNoise(double v) { return v >= 0 && v <= 99; }
// An output rate of a sentence kind: 0 (off) or one in every 1 to 10 fixes.
constexpr bool outputRate(double v) { return v >= 0 && v <= 10; }

constexpr const char* Timeouts = "1 to 86400 s";
constexpr Accepted kAccepted[] = {
    {"Baudrate_NMEA", nmeaBaud, "4800, 9600, 14400, 19200, 38400, 57600 or 115200"},
    {"Baudrate_Update", updateBaudIndex, "1 to 10"},
    {"Enable_Test", itemSet, "any bit mask"},
    {"Update_Hz", fixRate, "0.1 to 10 Hz"},
    {"Hz_Timeout", timeout, Timeouts},
    {"Version_Timeout", timeout, Timeouts},
    {"Version_Series", series, "3329 or 3318"},
    {"SVid", satellite, "1 to 32"},
    {"AcqTime_Timeout", timeout, Timeouts},
    {"BitSync_Timeout", timeout, Timeouts},
    {"Signal_Phase_Ratio", ratio, "0 to 1"},
    {"Signal_TCXO_Offset", clockLimit, "0 to 16368 Hz"},
    {"Signal_TCXO_Drift", clockLimit, "0 to 16368 Hz"},
    {"Signal_CNR_Threshold", carrierToNoise, "0 to 99"},
    {"Signal_CNR_Dev", carrierToNoise, "0 to 99"},
    {"Signal_Timeout", timeout, Timeouts},
    {"ColdStart_Timeout", timeout, Timeouts},
    {"Reset_Timeout", timeout, Timeouts},
    {"NMEA_Freq_GLL", outputRate, "0 to 10"},
    {"NMEA_Freq_RMC", outputRate, "0 to 10"},
    {"NMEA_Freq_VTG", outputRate, "0 to 10"},
    {"NMEA_Freq_GSA", outputRate, "0 to 10"},
    {"NMEA_Freq_GSV", outputRate, "0 to 10"},
    {"NMEA_Freq_GGA", outputRate, "0 to 10"},
    {"NMEA_Freq_ZDA", outputRate, "0 to 10"},
    {"NMEA_Freq_MCHN", outputRate, "0 to 10"},
    {"NMEA_Timeout", timeout, Timeouts},
    {"BT_Timeout", timeout, Timeouts},
};

constexpr const Accepted* acceptedFor(std::string_view key) {
  for (const Accepted& a : kAccepted)
    if (a.key == key) return &a;
  return nullptr;
}

constexpr bool isNumber(const Field& field) {
  return std::holds_alternative<std::int32_t TestSettings::*>(field) ||
         std::holds_alternative<std::uint8_t TestSettings::*>(field) ||
         std::holds_alternative<float TestSettings::*>(field);
}

// Every number key has its range, and each default lies in it.
consteval bool everyNumberHasItsRange() {
  for (const Key& key : kKeys) {
    if (!isNumber(key.field)) continue;
    const Accepted* accepted = acceptedFor(key.name);
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
  return std::size(kAccepted) == 28;
}
static_assert(everyNumberHasItsRange(), "a number key without a range, or a default outside it");

constexpr std::string_view kMacZeros = "000000000000";
constexpr std::size_t MaxComSelectText = 99;
constexpr std::uint16_t LowestPort = 1;
constexpr std::uint32_t HighestPort = 65535;

// A ComSelect piece as a port number: decimal digits with blanks around them, from 1 to 65535.
std::optional<std::uint16_t> portNumber(std::string_view piece) {
  while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
  while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
  if (piece.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : piece) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > HighestPort) return std::nullopt;
  }
  if (value < LowestPort) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

bool blank(std::string_view piece) { return piece.find_first_not_of(" \t") == std::string_view::npos; }

// Entries of one kind that ComSelect left out, for its notice.
struct LeftOut {
  std::string entries;
  void add(std::string_view entry) {
    if (!entries.empty()) entries += ", ";
    entries += entry;
  }
};

// ComSelect (Load step 1): at most 99 characters, split at commas, empty and blank pieces
// skipped. Each piece that is a port number from 1 to 65535 is taken once, up to 16 ports; every
// other piece, and the text beyond the 99 characters, is named in one notice.
void loadChosenPorts(std::string_view value, PortList<MaxChosenPorts>& ports,
                     SettingsLoadEffects& effects) {
  ports.clear();
  std::string_view text = value.substr(0, MaxComSelectText);
  LeftOut notPorts, repeated, beyondCount;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    if (blank(piece)) continue;
    const std::optional<std::uint16_t> port = portNumber(piece);
    if (!port)
      notPorts.add(piece);
    else if (ports.contains(*port))
      repeated.add(piece);
    else if (ports.full())
      beyondCount.add(piece);
    else
      ports.push(*port);
  }
  std::string told;
  const auto tell = [&told](const LeftOut& kind, const std::string& why) {
    if (kind.entries.empty()) return;
    told += (told.empty() ? "" : "; ") + kind.entries + " (" + why + ")";
  };
  tell(notPorts, "not a port number from 1 to 65535");
  tell(repeated, "named before");
  tell(beyondCount, "more than 16 ports");
  if (value.size() > MaxComSelectText && !blank(value.substr(MaxComSelectText)))
    tell(LeftOut{std::string(value.substr(MaxComSelectText))}, "beyond the first 99 characters");
  if (!told.empty())
    effects.notice("ComSelect=" + std::string(value) + ": left out " + told);
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
  const Accepted* accepted = acceptedFor(key.name);
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
    ini.write(key.section, key.name, valueText(key, settings, state));
  }
}

}  // namespace quenby
