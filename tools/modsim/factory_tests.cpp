#include "tools/modsim/factory_tests.h"

#include <algorithm>
#include <cmath>

#include "engine/nmea_sentence.h"

namespace quenby::modsim {
namespace {

std::string scaled(double value, double factor) { return std::to_string(std::llround(value * factor)); }

}  // namespace

std::vector<PlannedReply> testModePlan(std::uint16_t flags, const ModuleScenario& s) {
  std::vector<PlannedReply> plan;
  if (flags & VersionGroupFlag) {
    plan.push_back({s.versionDelayMs, TestReply::Version});
    plan.push_back({s.ratesDelayMs, TestReply::OutputRates});
    plan.push_back({s.intervalDelayMs, TestReply::FixInterval});
  }
  if (!s.btMac.empty()) plan.push_back({s.btDelayMs, TestReply::BluetoothMac});

  // The single-channel tests follow one another on the chosen satellite.
  int chain = 0;
  if (flags & AcquisitionFlag) {
    chain += s.acqDelayMs;
    plan.push_back({chain, TestReply::Acquired});
  }
  if (flags & BitSyncFlag) {
    chain += s.bitSyncDelayMs;
    plan.push_back({chain, TestReply::BitSynced});
  }
  if (flags & SignalQualityFlag) {
    chain += s.signalDelayMs;
    plan.push_back({chain, TestReply::SignalQuality});
  }
  // Equal times keep the order above.
  std::stable_sort(plan.begin(), plan.end(),
                   [](const PlannedReply& a, const PlannedReply& b) { return a.atMs < b.atMs; });
  return plan;
}

int acquisitionTimeMs(std::uint16_t flags, const ModuleScenario& s) {
  return (flags & AcquisitionFlag) ? s.acqDelayMs : 0;
}

std::string versionReply(std::string_view version) { return frameSentence("PMTK705," + std::string(version)); }

std::string outputRatesReply(const OutputRates& rates) {
  std::string body = "PMTK514";
  for (int rate : rates) body += "," + std::to_string(rate);
  return frameSentence(body);
}

std::string fixIntervalReply(int intervalMs) {
  return frameSentence("PMTK500," + std::to_string(intervalMs) + ",0,0,0,0");
}

std::string bluetoothMacReply(std::string_view macDigits) {
  return frameSentence("PMTK592," + std::string(macDigits));
}

std::string acquiredReply() { return frameSentence("PMTK813"); }

std::string bitSyncedReply() { return frameSentence("PMTK814"); }

std::string signalQualityReply(const SignalMeasurement& m) {
  return frameSentence("PMTK815," + std::to_string(m.sv) + "," + std::to_string(m.seconds) + "," +
                       scaled(m.phase, 100) + "," + scaled(m.tcxoOffset, 1000) + "," +
                       scaled(m.tcxoDrift, 1000) + "," + scaled(m.cnrMean, 100) + "," +
                       scaled(m.cnrSigma, 100));
}

std::string acknowledgement(int command, int result) {
  return frameSentence("PMTK001," + std::to_string(command) + "," + std::to_string(result));
}

std::string startupMessage() { return frameSentence("PMTK010,001"); }

}  // namespace quenby::modsim
