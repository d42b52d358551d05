#include "tools/report/limits.h"

#include <fstream>

#include "settings/ini_file.h"
#include "settings/run_state.h"
#include "settings/settings_file.h"

namespace quenby::report {
namespace {

// The report only reads the thresholds: nothing is handed to a download library.
class NoLoadEffects : public SettingsLoadEffects {
 public:
  std::uint32_t loadDownloadAgent(const std::string&, std::uint32_t) override { return 0; }
  std::uint32_t loadRom(const std::string&) override { return 0; }
};

Limit upTo(double high) { return {std::nullopt, high}; }
Limit from(double low) { return {low, std::nullopt}; }
Limit within(double magnitude) { return {-magnitude, magnitude}; }

}  // namespace

Limits limitsOf(const TestSettings& s) {
  Limits l;
  l[index(Measure::AcquisitionTime)] = upTo(s.acqTimeTimeout);
  l[index(Measure::BitSyncTime)] = upTo(s.bitSyncTimeout);
  l[index(Measure::PhaseRatio)] = from(s.signalPhaseRatio);
  l[index(Measure::TcxoOffset)] = within(s.signalTcxoOffset);
  l[index(Measure::TcxoDrift)] = within(s.signalTcxoDrift);
  l[index(Measure::CnrMean)] = from(s.signalCnrThreshold);
  l[index(Measure::CnrSigma)] = upTo(s.signalCnrDev);
  l[index(Measure::ColdStartTtff)] = upTo(s.coldStartTimeout);
  l[index(Measure::ResetTime)] = upTo(s.resetTimeout);
  return l;
}

std::optional<Limits> readLimits(const std::filesystem::path& settingsFile) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(settingsFile, ec) || !std::ifstream(settingsFile))
    return std::nullopt;
  TestSettings settings;
  RunState state;
  NoLoadEffects effects;
  try {
    loadSettings(settingsFile, settings, state, effects);
  } catch (const SettingsError&) {
    // A bad Bluetooth address stops the load after every threshold has been read.
  }
  return limitsOf(settings);
}

}  // namespace quenby::report
