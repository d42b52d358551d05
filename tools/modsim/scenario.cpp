#include "tools/modsim/scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "tools/modsim/simulated_flash.h"

namespace quenby::modsim {
namespace {

constexpr std::string_view kDefaultSection = "default";
// A value no scenario line can hold (the INI reader trims control characters at the ends of a
// value, and keeps this one only when nothing was found).
constexpr std::string_view kMissing = "\x01missing\x01";

// Bluetooth address: six octets as hexadecimal digits.
constexpr std::size_t kMacDigits = 12;
// Fix intervals a module accepts: 10 Hz down to one fix every 10 s.
constexpr int kMinFixIntervalMs = 100;
constexpr int kMaxFixIntervalMs = 10000;
// UART speeds a module can be built for.
constexpr int kMinBaud = 300;
constexpr int kMaxBaud = 4'000'000;
// Largest "every Nth" of a fault, and highest signal level.
constexpr int kMaxEvery = 1'000'000;
constexpr int kMaxSnr = 99;
// Measured values must fit the reply's integer fields (value x 1000 in 32 bits).
constexpr double kMaxMeasurement = 2'000'000.0;
// Values that go into a protocol word, and single bytes.
constexpr int kMaxWord = 0x7FFFFFFF;
constexpr int kMaxByte = 0xFF;
// Highest bit-error and stray-byte rate: beyond it no frame of the boot-ROM protocol gets through.
constexpr double kMaxLineFaultRate = 0.01;
// Longest time a scenario gives one flash operation.
constexpr double kMaxFlashOperationMs = 10000.0;

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::optional<double> parseDecimal(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<bool> parseSwitch(std::string_view text) {
  std::string lower(trim(text));
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "on" || lower == "yes" || lower == "true" || lower == "1") return true;
  if (lower == "off" || lower == "no" || lower == "false" || lower == "0") return false;
  return std::nullopt;
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Comma-separated integers, each in [low, high], at most maxCount of them.
std::optional<std::vector<int>> parseIntegerList(std::string_view text, int low, int high,
                                                 std::size_t maxCount) {
  std::vector<int> values;
  text = trim(text);
  if (text.empty()) return values;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::optional<std::int32_t> value = parseInteger(trim(text.substr(0, comma)));
    if (!value || *value < low || *value > high || values.size() == maxCount) return std::nullopt;
    values.push_back(*value);
    if (comma == std::string_view::npos) return values;
    text.remove_prefix(comma + 1);
  }
}

// Reads the keys of one scenario, noting every value that cannot be used.
class Reader {
 public:
  explicit Reader(const ScenarioSource& source) : source_(source) {}

  void integer(const char* key, int& target, int low, int high) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    const std::optional<std::int32_t> value = parseInteger(*text);
    if (value && *value >= low && *value <= high)
      target = *value;
    else
      reject(key, *text, "a whole number from " + std::to_string(low) + " to " + std::to_string(high));
  }

  void real(const char* key, double& target, double low, double high) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    const std::optional<double> value = parseDecimal(*text);
    if (value && *value >= low && *value <= high)
      target = *value;
    else
      reject(key, *text, "a decimal number");
  }

  // Seconds as a decimal number, kept as milliseconds.
  void seconds(const char* key, int& targetMs) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    const std::optional<double> value = parseDecimal(*text);
    if (value && *value >= 0 && *value * 1000 <= MaxDelayMs)
      targetMs = static_cast<int>(std::lround(*value * 1000));
    else
      reject(key, *text, "seconds from 0 to " + std::to_string(MaxDelayMs / 1000));
  }

  // Seconds, or "off" (also an empty value) for never.
  void optionalSeconds(const char* key, std::optional<int>& targetMs) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    if (const std::optional<double> value = parseDecimal(*text)) {
      if (*value >= 0 && *value * 1000 <= MaxDelayMs)
        targetMs = static_cast<int>(std::lround(*value * 1000));
      else
        reject(key, *text, "seconds or off");
    } else if (trim(*text).empty() || parseSwitch(*text) == false) {
      targetMs.reset();
    } else {
      reject(key, *text, "seconds or off");
    }
  }

  void onOff(const char* key, bool& target) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    if (const std::optional<bool> value = parseSwitch(*text))
      target = *value;
    else
      reject(key, *text, "on or off");
  }

  void text(const char* key, std::string& target, std::size_t maxLength) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    // The text goes into a sentence: no line ends, no sentence start, no checksum mark.
    const bool usable = text->size() <= maxLength &&
                        text->find_first_of("\r\n$*", 0) == std::string::npos &&
                        text->find('\0') == std::string::npos;
    if (usable)
      target = *text;
    else
      reject(key, *text, "at most " + std::to_string(maxLength) + " characters without $, * or line ends");
  }

  // The beginning of a sentence name, given with or without its "$".
  void sentencePrefix(const char* key, std::string& target) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    std::string_view value = trim(*text);
    if (value.starts_with('$')) value.remove_prefix(1);
    const bool usable = value.size() <= MaxVersionText &&
                        value.find_first_of("\r\n$*,") == std::string_view::npos &&
                        value.find('\0') == std::string_view::npos;
    if (usable)
      target = std::string(value);
    else
      reject(key, *text, "the beginning of a sentence name, like $PMTK705 or GPGSV");
  }

  void mac(const char* key, std::string& target) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    const std::string_view value = trim(*text);
    bool usable = value.empty() || value.size() == kMacDigits;
    for (char c : value) usable = usable && isHexDigit(c);
    if (usable)
      target = std::string(value);
    else
      reject(key, *text, "12 hexadecimal digits or nothing");
  }

  void list(const char* key, std::vector<int>& target, int low, int high, std::size_t maxCount) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    if (auto values = parseIntegerList(*text, low, high, maxCount))
      target = std::move(*values);
    else
      reject(key, *text, "up to " + std::to_string(maxCount) + " numbers from " + std::to_string(low) +
                             " to " + std::to_string(high) + ", separated by commas");
  }

  // "on" (all), "off" (none) or a list of speeds.
  void refusedSpeeds(const char* key, bool& all, std::vector<int>& speeds) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    if (const std::optional<bool> value = parseSwitch(*text)) {
      all = *value;
      speeds.clear();
    } else if (auto values = parseIntegerList(*text, kMinBaud, kMaxBaud, MaxRefusedSpeeds)) {
      all = false;
      speeds = std::move(*values);
    } else {
      reject(key, *text, "on, off, or up to " + std::to_string(MaxRefusedSpeeds) + " baud rates separated by commas");
    }
  }

  void rates(const char* key, OutputRates& target) {
    const std::optional<std::string> text = source_.lookup(key);
    if (!text) return;
    const auto values = parseIntegerList(*text, 0, MaxOutputRate, OutputRateCount);
    if (values && values->size() == OutputRateCount)
      std::copy(values->begin(), values->end(), target.begin());
    else
      reject(key, *text, std::to_string(OutputRateCount) + " rates from 0 to " + std::to_string(MaxOutputRate));
  }

  std::vector<std::string> takeProblems() { return std::move(problems_); }

 private:
  void reject(const char* key, const std::string& text, const std::string& wanted) {
    problems_.push_back(std::string(key) + "=" + text + ": not usable (wanted " + wanted +
                        "), built-in value kept");
  }

  const ScenarioSource& source_;
  std::vector<std::string> problems_;
};

}  // namespace

IniScenarioSource::IniScenarioSource(std::filesystem::path file, std::uint16_t port)
    : file_(std::move(file)), portSection_("COM" + std::to_string(port)) {}

std::optional<std::string> IniScenarioSource::lookup(const std::string& key) const {
  const IniFile ini(file_);
  for (std::string_view section : {std::string_view(portSection_), kDefaultSection}) {
    std::string value = ini.read(section, key, kMissing);
    if (value != kMissing) return value;
  }
  return std::nullopt;
}

LoadedScenario loadScenario(const ScenarioSource& source) {
  ModuleScenario s;
  Reader r(source);

  r.integer("baud", s.baud, kMinBaud, kMaxBaud);
  r.onOff("pace", s.pace);
  r.integer("fix_interval", s.fixIntervalMs, kMinFixIntervalMs, kMaxFixIntervalMs);
  r.rates("output_rates", s.outputRates);
  r.integer("satellites", s.satellites, 0, MaxSatellitesInView);
  r.integer("snr", s.snr, 0, kMaxSnr);
  r.real("latitude", s.latitude, -90.0, 90.0);
  r.real("longitude", s.longitude, -180.0, 180.0);
  r.real("altitude", s.altitude, -1000.0, 20000.0);
  r.onOff("fix_at_start", s.fixAtStart);
  r.seconds("ttff", s.ttffMs);
  r.onOff("acks", s.acks);

  r.text("version", s.version, MaxVersionText);
  r.integer("version_delay", s.versionDelayMs, 0, MaxDelayMs);
  r.integer("rates_delay", s.ratesDelayMs, 0, MaxDelayMs);
  r.integer("interval_delay", s.intervalDelayMs, 0, MaxDelayMs);
  r.integer("acq_delay", s.acqDelayMs, 0, MaxDelayMs);
  r.integer("bitsync_delay", s.bitSyncDelayMs, 0, MaxDelayMs);
  r.integer("signal_delay", s.signalDelayMs, 0, MaxDelayMs);
  r.real("phase", s.phase, -kMaxMeasurement, kMaxMeasurement);
  r.real("tcxo_offset", s.tcxoOffset, -kMaxMeasurement, kMaxMeasurement);
  r.real("tcxo_drift", s.tcxoDrift, -kMaxMeasurement, kMaxMeasurement);
  r.real("cnr_mean", s.cnrMean, -kMaxMeasurement, kMaxMeasurement);
  r.real("cnr_sigma", s.cnrSigma, -kMaxMeasurement, kMaxMeasurement);
  r.mac("bt_mac", s.btMac);
  r.integer("bt_delay", s.btDelayMs, 0, MaxDelayMs);

  r.integer("reset_delay", s.resetDelayMs, 0, MaxDelayMs);
  r.onOff("reset_reply", s.resetReply);

  r.onOff("silent", s.silent);
  r.optionalSeconds("vanish_after", s.vanishAfterMs);
  FaultSettings& f = s.faults;
  r.integer("bad_checksum_every", f.badChecksumEvery, 0, kMaxEvery);
  r.onOff("lowercase_checksums", f.lowercaseChecksums);
  r.sentencePrefix("fault_only", f.only);
  r.list("split_at", f.splitAt, 1, MaxSplitOffset, MaxSplitPoints);
  r.integer("split_pause", f.splitPauseMs, 0, MaxDelayMs);
  r.integer("startup_split_at", f.startupSplitAt, 0, MaxSplitOffset);
  r.integer("garbage_every", f.garbageEvery, 0, kMaxEvery);
  r.integer("garbage_length", f.garbageLength, 1, MaxGarbageLength);
  r.integer("zero_every", f.zeroEvery, 0, kMaxEvery);
  r.integer("overlong_every", f.overlongEvery, 0, kMaxEvery);
  r.integer("overlong_length", f.overlongLength, 1, MaxOverlongLength);

  BootSettings& b = s.boot;
  r.integer("chip_value", b.chipValue, 0, kMaxWord);
  r.onOff("boot_answer", b.answer);
  r.integer("boot_sync_byte", b.syncAnswer, 0, kMaxByte);
  r.refusedSpeeds("boot_baud_refuse", b.refuseAllSpeeds, b.refusedSpeeds);
  r.integer("boot_corrupt_blocks", b.corruptFirstBlocks, 0, kMaxEvery);
  r.integer("boot_corrupt_every", b.corruptEvery, 0, kMaxEvery);
  r.onOff("da_alive", b.agentAlive);
  r.integer("da_alive_byte", b.aliveByte, 0, kMaxByte);
  r.integer("flash_device", b.flashDevice, 0, kMaxWord);
  r.onOff("flash_identified", b.flashIdentified);
  r.integer("flash_size", b.flashSize, static_cast<int>(MinFlashSize), static_cast<int>(MaxFlashSize));
  r.onOff("flash_write_error", b.flashWriteError);
  r.onOff("flash_verify_error", b.flashVerifyError);
  r.real("boot_ber", b.bitErrorRate, 0.0, kMaxLineFaultRate);
  r.real("boot_stray_rate", b.strayRate, 0.0, kMaxLineFaultRate);
  r.integer("boot_seed", b.lineSeed, 0, kMaxWord);
  r.seconds("power_cycle_after", b.powerCycleAfterMs);
  r.onOff("flash_timing", b.flashTiming);
  r.real("flash_sector_erase_ms", b.sectorEraseMs, 0.0, kMaxFlashOperationMs);
  r.real("flash_block_erase_ms", b.blockEraseMs, 0.0, kMaxFlashOperationMs);
  r.real("flash_page_program_ms", b.pageProgramMs, 0.0, kMaxFlashOperationMs);
  r.integer("flash_read_kib_per_s", b.readKibPerSecond, 1, kMaxWord);

  return {std::move(s), r.takeProblems()};
}

}  // namespace quenby::modsim
