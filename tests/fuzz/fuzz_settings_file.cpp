// Fuzz target for the settings file: arbitrary bytes become Torvane.ini, then
//  - IniFile reads of arbitrary section and key names,
//  - a full loadSettings with a fake effects object (a BT_Mac SettingsError is allowed), after
//    which the chosen ports are each a port number once and the keys read are in their ranges,
//  - for inputs that ask for it, a saveSettings and a second load, which must give the same
//    numbers and ports,
//  - one IniFile write of an arbitrary key, which a read must give back whenever the write is
//    taken and the value is plain (a write is refused only for names the file could not give
//    back, never for plain ones), and which must not change another key.
// Nothing may crash; every check failure aborts.
//
// Input layout (FuzzedDataProvider): section, key and value as random-length strings from the
// front (each ended by a backslash and one other byte; "\\" is a backslash), the library result
// (4 bytes) and the round-trip flag (1 byte, bit 0) from the back, the settings file in between.
// The seeds in corpus/fuzz_settings_file/ follow it.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/run_state.h"
#include "settings/settings_file.h"
#include "settings/test_settings.h"

namespace {

namespace fs = std::filesystem;
using namespace quenby;

#define FUZZ_CHECK(condition)                                                       \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__);   \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// A private folder for the file, in memory where possible (every write syncs the file).
class WorkFolder {
 public:
  WorkFolder() {
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "quenby-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
  }
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  fs::path file() const { return folder_ / "Torvane.ini"; }

 private:
  fs::path folder_;
};

class FakeEffects : public SettingsLoadEffects {
 public:
  explicit FakeEffects(std::uint32_t result) : result_(result) {}
  std::uint32_t loadDownloadAgent(const std::string& path, std::uint32_t chipValue) override {
    FUZZ_CHECK(!path.empty());
    FUZZ_CHECK(chipValue == DaChipValueOnLoad);
    return result_;
  }
  std::uint32_t loadRom(const std::string& path) override {
    FUZZ_CHECK(!path.empty());
    return result_ >> 8;
  }

 private:
  std::uint32_t result_;
};

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A name as IniFile looks it up: line breaks as blanks, blanks around it trimmed, letter case
// ignored.
std::string lookupName(std::string name) {
  for (char& c : name) c = (c == '\r' || c == '\n') ? ' ' : lower(c);
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; };
  while (!name.empty() && blank(name.back())) name.pop_back();
  std::size_t start = 0;
  while (start < name.size() && blank(name[start])) ++start;
  return name.substr(start);
}

// A name that the file's syntax cannot take apart: printable, no blanks, no INI punctuation.
bool plainName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (c <= ' ' || c > '~') return false;
    if (std::string_view("[]=;#\"'").find(c) != std::string_view::npos) return false;
  }
  return true;
}

// A value that reads back as written: one line, no NUL, no blanks around it, not in quotes.
bool plainValue(const std::string& value) {
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return false;
  if (value.empty()) return true;
  const auto edge = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '"' || c == '\''; };
  return !edge(value.front()) && !edge(value.back());
}

// The numbers and ports of a load, which a save and a second load must give again.
std::vector<std::uint64_t> numbersOf(const TestSettings& s, const RunState& state) {
  std::vector<std::uint64_t> numbers = {
      std::bit_cast<std::uint32_t>(s.baudrateNmea), std::bit_cast<std::uint32_t>(s.baudrateUpdate),
      std::bit_cast<std::uint32_t>(s.enableTest),   std::bit_cast<std::uint32_t>(s.updateHz),
      std::bit_cast<std::uint32_t>(s.hzTimeout),    std::bit_cast<std::uint32_t>(s.versionTimeout),
      std::bit_cast<std::uint32_t>(s.versionSeries), s.svId,
      std::bit_cast<std::uint32_t>(s.acqTimeTimeout), std::bit_cast<std::uint32_t>(s.bitSyncTimeout),
      std::bit_cast<std::uint32_t>(s.signalPhaseRatio), std::bit_cast<std::uint32_t>(s.signalTcxoOffset),
      std::bit_cast<std::uint32_t>(s.signalTcxoDrift), std::bit_cast<std::uint32_t>(s.signalCnrThreshold),
      std::bit_cast<std::uint32_t>(s.signalCnrDev), std::bit_cast<std::uint32_t>(s.signalTimeout),
      std::bit_cast<std::uint32_t>(s.coldStartTimeout), std::bit_cast<std::uint32_t>(s.resetTimeout),
      std::bit_cast<std::uint32_t>(s.nmeaFreqGll), std::bit_cast<std::uint32_t>(s.nmeaFreqRmc),
      std::bit_cast<std::uint32_t>(s.nmeaFreqVtg), std::bit_cast<std::uint32_t>(s.nmeaFreqGsa),
      std::bit_cast<std::uint32_t>(s.nmeaFreqGsv), std::bit_cast<std::uint32_t>(s.nmeaFreqGga),
      std::bit_cast<std::uint32_t>(s.nmeaFreqZda), std::bit_cast<std::uint32_t>(s.nmeaFreqMchn),
      std::bit_cast<std::uint32_t>(s.nmeaTimeout),  std::bit_cast<std::uint32_t>(s.btTimeout)};
  for (const std::uint8_t octet : s.btMac) numbers.push_back(octet);
  for (const std::uint8_t octet : s.btMacE) numbers.push_back(octet);
  numbers.push_back(0xFFFFFFFFFFull);  // separator before the ports
  for (const std::uint16_t port : state.chosenPorts) numbers.push_back(port);
  return numbers;
}

// Loads the file into a fresh record; a bad BT_Mac/BT_MacE pair is the only error allowed.
void load(const fs::path& file, std::uint32_t libraryResult, TestSettings& settings, RunState& state) {
  FakeEffects effects(libraryResult);
  try {
    loadSettings(file, settings, state, effects);
  } catch (const SettingsError& error) {
    FUZZ_CHECK(std::string_view(error.what()).ends_with("' is not a valid integer value"));
  }
  FUZZ_CHECK(state.chosenPorts.size() <= MaxChosenPorts);
  // Each chosen port is a port number, once; the keys read before a bad address are in range.
  for (std::size_t i = 0; i < state.chosenPorts.size(); ++i) {
    FUZZ_CHECK(state.chosenPorts[i] != 0);
    for (std::size_t j = 0; j < i; ++j) FUZZ_CHECK(state.chosenPorts[i] != state.chosenPorts[j]);
  }
  FUZZ_CHECK(settings.svId >= 1 && settings.svId <= 32);
  FUZZ_CHECK(settings.signalTimeout >= 1 && settings.acqTimeTimeout >= 1);
  FUZZ_CHECK(settings.baudrateUpdate >= 1 && settings.baudrateUpdate <= 10);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const WorkFolder folder;
  const fs::path file = folder.file();

  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(16);
  const std::string key = input.ConsumeRandomLengthString(16);
  const std::string value = input.ConsumeRandomLengthString(64);
  const auto libraryResult = input.ConsumeIntegral<std::uint32_t>();
  const bool saveRoundTrip = input.ConsumeBool();  // the slow part, for some inputs only
  const std::string content = input.ConsumeRemainingBytesAsString();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

  const IniFile ini(file);
  FUZZ_CHECK(ini.read(section, key, "").size() <= MaxProfileValue);
  FUZZ_CHECK(ini.read(key, section, std::string(3000, 'd')).size() <= 3000);

  TestSettings loaded;
  RunState loadedState;
  load(file, libraryResult, loaded, loadedState);

  // Save what the load gave and load it again: the numbers and ports come back unchanged.
  if (saveRoundTrip) {
    saveSettings(file, loaded, loadedState);
    TestSettings again;
    RunState againState;
    load(file, libraryResult, again, againState);
    FUZZ_CHECK(numbersOf(again, againState) == numbersOf(loaded, loadedState));
  }

  // One write of the chosen key: it reads back, and another key keeps its value.
  const bool otherIsWritten = lookupName(section) == "basic" && lookupName(key) == "svid";
  const std::string otherBefore = ini.read("Basic", "SVid", "<missing>");
  bool written = true;
  try {
    ini.write(section, key, value);
  } catch (const SettingsError&) {
    // The fuzzer's own file in its own folder is always writable: only the names can be refused.
    FUZZ_CHECK(!(plainName(section) && plainName(key)));
    written = false;
  }
  if (written && plainValue(value)) {
    FUZZ_CHECK(ini.read(section, key, "<missing>") == value);
  }
  if (!otherIsWritten) {
    FUZZ_CHECK(ini.read("Basic", "SVid", "<missing>") == otherBefore);
  }
  return 0;
}
