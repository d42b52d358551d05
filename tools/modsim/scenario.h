// What a simulated module is like and which faults it shows: one record per port, read from the
// scenario file. A key is looked up in the port's [COM<n>] section, then in [default], then the
// built-in value below is used. docs/modsim.md lists every key.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quenby::modsim {

// The module's NMEA output-rate list: one rate per sentence kind, in the chipset's order.
inline constexpr std::size_t OutputRateCount = 19;
using OutputRates = std::array<int, OutputRateCount>;
enum OutputRateIndex : std::size_t {
  RateGll = 0,
  RateRmc = 1,
  RateVtg = 2,
  RateGga = 3,
  RateGsa = 4,
  RateGsv = 5,
  RateZda = 17,
  RateMchn = 18,
};
// Every sentence kind of the list outputs once every this many fixes at most.
inline constexpr int MaxOutputRate = 5;

// Most satellites a module reports in view: four GSV messages of four.
inline constexpr int MaxSatellitesInView = 16;
// Longest version text and start-up text a scenario may give a module.
inline constexpr std::size_t MaxVersionText = 200;
// Split points per sentence, and the furthest one.
inline constexpr std::size_t MaxSplitPoints = 8;
inline constexpr int MaxSplitOffset = 4096;
// Longest run of bytes without a sentence start that the overlong-line fault writes.
inline constexpr int MaxOverlongLength = 65536;
// Longest garbage burst.
inline constexpr int MaxGarbageLength = 4096;
// Every delay and time a scenario gives, in milliseconds.
inline constexpr int MaxDelayMs = 3'600'000;

struct FaultSettings {
  int badChecksumEvery = 0;         // every Nth sentence carries a wrong checksum (0: none)
  bool lowercaseChecksums = false;  // checksum digits A-F written as a-f
  std::string only;                 // faults touch only sentences whose name (after "$") begins so
  std::vector<int> splitAt;         // byte offsets at which every sentence is cut into writes
  int splitPauseMs = 400;           // pause between the pieces of a cut sentence
  int startupSplitAt = 0;           // offset at which the start-up message is cut (0: not cut)
  int garbageEvery = 0;             // a noise line before every Nth sentence (0: none)
  int garbageLength = 16;           // bytes of noise in one such line, before its CR LF
  int zeroEvery = 0;                // a zero byte after every Nth sentence (0: none)
  int overlongEvery = 0;            // an overlong line before every Nth sentence (0: none)
  int overlongLength = 5000;        // bytes of that line without a "$", before its CR LF

  bool operator==(const FaultSettings&) const = default;
};

// Most speeds a scenario may list as refused by the boot ROM.
inline constexpr std::size_t MaxRefusedSpeeds = 10;

// The module's boot ROM and Download Agent, and the faults they show in a download.
struct BootSettings {
  int chipValue = 3072;              // reported in HELLO_ACK, compared with DA_BEGIN's
  bool answer = true;                // off: the boot ROM never answers anything
  int syncAnswer = 0x5A;             // the byte that answers a sync byte
  bool refuseAllSpeeds = false;      // every SET_BAUD is answered NAK "speed refused"
  std::vector<int> refusedSpeeds;    // or only these speeds
  int corruptFirstBlocks = 0;        // the first N blocks that arrive in sequence count as bad
  int corruptEvery = 0;              // every Nth block that arrives in sequence counts as bad
  bool agentAlive = true;            // off: the Download Agent never starts
  int aliveByte = 0xD5;              // the Download Agent's first byte
  int flashDevice = 3;               // FLASH_INFO's device number
  bool flashIdentified = true;       // FLASH_INFO's identified flag
  int flashSize = 4 * 1024 * 1024;   // bytes
  bool flashWriteError = false;      // the first region's first block cannot be written
  bool flashVerifyError = false;     // every VERIFY finds a mismatch

  // The boot-ROM line: bit errors and stray bytes in both directions, from a seeded generator.
  double bitErrorRate = 0;           // probability that a bit flips
  double strayRate = 0;              // probability of a stray byte before a byte
  int lineSeed = 0;                  // 0: a seed of the port's own
  // The operator powers the module late: its firmware keeps streaming NMEA for this long after
  // the first sync byte, and only then does it start in its boot ROM (0: at the first sync byte).
  int powerCycleAfterMs = 0;

  // Flash timing (a 16 Mbit SPI NOR); off: the flash erases, programs and reads in no time.
  bool flashTiming = true;
  double sectorEraseMs = 40;         // one 4 KiB sector
  double blockEraseMs = 150;         // one 64 KiB block
  double pageProgramMs = 0.7;        // one 256-byte page
  int readKibPerSecond = 4096;       // reading back for VERIFY

  bool operator==(const BootSettings&) const = default;
};

struct ModuleScenario {
  // The module's UART and NMEA stream.
  int baud = 38400;
  bool pace = true;
  int fixIntervalMs = 1000;
  OutputRates outputRates = {1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  int satellites = 10;
  int snr = 40;  // typical carrier-to-noise of the sky, dB-Hz
  double latitude = 51.4779;
  double longitude = -0.0015;
  double altitude = 45.0;
  bool fixAtStart = true;
  int ttffMs = 12000;
  bool acks = true;

  // Replies of the factory test mode.
  std::string version = "M-core_1.8,0000,,";
  int versionDelayMs = 300;
  int ratesDelayMs = 400;
  int intervalDelayMs = 500;
  int acqDelayMs = 2000;
  int bitSyncDelayMs = 1500;
  int signalDelayMs = 2000;
  double phase = 0.95;
  double tcxoOffset = 12.345;  // Hz
  double tcxoDrift = 0.123;    // Hz per second
  double cnrMean = 42.5;       // dB-Hz
  double cnrSigma = 0.6;       // dB-Hz
  std::string btMac;           // 12 hexadecimal digits, or empty: no address reply
  int btDelayMs = 500;

  // Restarts.
  int resetDelayMs = 1000;
  bool resetReply = true;

  // Faults.
  bool silent = false;
  std::optional<int> vanishAfterMs;  // after the start sentence; none: never
  FaultSettings faults;

  // Firmware download.
  BootSettings boot;

  bool operator==(const ModuleScenario&) const = default;
};

// Where the values come from: a key's text, or nullopt when neither section has it.
class ScenarioSource {
 public:
  virtual ~ScenarioSource() = default;
  virtual std::optional<std::string> lookup(const std::string& key) const = 0;
};

// The scenario file: [COM<port>] first, then [default].
class IniScenarioSource final : public ScenarioSource {
 public:
  IniScenarioSource(std::filesystem::path file, std::uint16_t port);
  std::optional<std::string> lookup(const std::string& key) const override;

 private:
  std::filesystem::path file_;
  std::string portSection_;
};

struct LoadedScenario {
  ModuleScenario scenario;
  // One line per value that was not usable and fell back to the built-in value.
  std::vector<std::string> problems;
};

LoadedScenario loadScenario(const ScenarioSource& source);

}  // namespace quenby::modsim
