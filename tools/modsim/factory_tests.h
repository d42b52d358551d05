// The module's factory test mode: what the start sentence asks for, when each reply is due, and
// the replies themselves ($PMTK705, $PMTK514, $PMTK500, $PMTK592, $PMTK813, $PMTK814, $PMTK815),
// together with the module's other proprietary sentences (acknowledgement, start-up message).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modsim/scenario.h"

namespace quenby::modsim {

// Bits of the start sentence's test flags.
inline constexpr std::uint16_t VersionGroupFlag = 0x1;
inline constexpr std::uint16_t AcquisitionFlag = 0x2;
inline constexpr std::uint16_t BitSyncFlag = 0x4;
inline constexpr std::uint16_t SignalQualityFlag = 0x8;

enum class TestReply {
  Version,         // $PMTK705
  OutputRates,     // $PMTK514
  FixInterval,     // $PMTK500
  BluetoothMac,    // $PMTK592
  Acquired,        // $PMTK813
  BitSynced,       // $PMTK814
  SignalQuality,   // $PMTK815
};

struct PlannedReply {
  int atMs = 0;  // after the start sentence
  TestReply reply = TestReply::Version;

  bool operator==(const PlannedReply&) const = default;
};

// The replies a start sentence with these flags brings, in the order they go out. The version
// group and the address reply count from the start sentence; acquisition, bit sync and signal
// quality run one after the other, each counting from the end of the previous requested one.
std::vector<PlannedReply> testModePlan(std::uint16_t flags, const ModuleScenario& scenario);

// When the chosen satellite counts as acquired (its level shows in GSV): at the acquisition
// reply, or at once when the start sentence did not ask for acquisition.
int acquisitionTimeMs(std::uint16_t flags, const ModuleScenario& scenario);

struct SignalMeasurement {
  int sv = 0;
  int seconds = 0;  // length of the measurement
  double phase = 0;
  double tcxoOffset = 0;  // Hz
  double tcxoDrift = 0;   // Hz per second
  double cnrMean = 0;     // dB-Hz
  double cnrSigma = 0;    // dB-Hz
};

// Every reply below is framed: "$", body, "*", checksum, CR LF.
std::string versionReply(std::string_view version);
std::string outputRatesReply(const OutputRates& rates);
std::string fixIntervalReply(int intervalMs);
std::string bluetoothMacReply(std::string_view macDigits);
std::string acquiredReply();
std::string bitSyncedReply();
// "$PMTK815,sv,seconds,phase x100,offset x1000,drift x1000,CNR mean x100,CNR sigma x100",
// each a whole number rounded half away from zero.
std::string signalQualityReply(const SignalMeasurement& m);
// "$PMTK001,command,result": 0 invalid, 1 unsupported, 2 failed, 3 done.
std::string acknowledgement(int command, int result);
// "$PMTK010,001": the module has started (after power-up and every restart).
std::string startupMessage();

}  // namespace quenby::modsim
