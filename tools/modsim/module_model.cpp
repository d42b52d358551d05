#include "tools/modsim/module_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/modsim/nmea_stream.h"
#include "tools/modsim/sky_model.h"

namespace quenby::modsim {
namespace {

constexpr Millis kNever = std::numeric_limits<Millis>::max();
constexpr Millis kMsPerSecond = 1000;
// Fix intervals the module accepts from $PMTK220.
constexpr int kMinFixIntervalMs = 100;
constexpr int kMaxFixIntervalMs = 10000;
// $PMTK314 with this single field brings back the module's own output rates.
constexpr std::string_view kRestoreRates = "-1";
// Results of an acknowledgement.
constexpr int kAckInvalid = 0;
constexpr int kAckDone = 3;
// Digits of the largest whole number a command field may carry (fits in an int).
constexpr std::size_t kMaxFieldDigits = 9;

std::optional<int> wholeNumber(const std::string& text) {
  if (text.empty() || text.size() > kMaxFieldDigits) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

ModuleModel::ModuleModel(ModuleScenario scenario, std::chrono::system_clock::time_point utcAtPowerUp)
    : scenario_(std::move(scenario)),
      utcAtPowerUp_(utcAtPowerUp),
      version_(scenario_.version),
      fixIntervalMs_(scenario_.fixIntervalMs),
      rates_(scenario_.outputRates),
      fixFrom_(scenario_.fixAtStart ? 0 : scenario_.ttffMs) {
  // Power-up: the module announces itself at once, then streams.
  restart(0, true);
}

void ModuleModel::restart(Millis until, bool announce) {
  test_.reset();
  immediate_.clear();
  restartEnd_ = until;
  announceRestart_ = announce;
  ++restarts_;
}

void ModuleModel::enterBootRom() {
  restart(kNever, false);
  inBootRom_ = true;
}

void ModuleModel::startFirmware(Millis now, std::optional<std::string> version) {
  const Millis startAt = now + FirmwareStartMs;
  restart(startAt, true);
  inBootRom_ = false;
  if (version) version_ = std::move(*version);
  fixIntervalMs_ = scenario_.fixIntervalMs;
  rates_ = scenario_.outputRates;
  fixFrom_ = scenario_.fixAtStart ? startAt : startAt + scenario_.ttffMs;
}

void ModuleModel::receive(const StationCommand& command, Millis now) {
  if (restartEnd_ && now < *restartEnd_) return;
  switch (command.number) {
    case ColdRestartCommand:
      // The position is forgotten; the settings stay.
      restart(now + ColdRestartQuietMs, true);
      fixFrom_ = now + scenario_.ttffMs;
      break;
    case FactoryResetCommand:
      // Everything goes back to the module's own settings, the position included.
      restart(now + scenario_.resetDelayMs, scenario_.resetReply);
      fixIntervalMs_ = scenario_.fixIntervalMs;
      rates_ = scenario_.outputRates;
      fixFrom_ = now + scenario_.resetDelayMs + scenario_.ttffMs;
      break;
    case SetFixIntervalCommand:
      setFixInterval(command);
      break;
    case SetOutputRatesCommand:
      setOutputRates(command);
      break;
    case QueryFixIntervalCommand:
      immediate_.push_back({fixIntervalReply(fixIntervalMs_)});
      break;
    case QueryOutputRatesCommand:
      immediate_.push_back({outputRatesReply(rates_)});
      break;
    case QueryVersionCommand:
      immediate_.push_back({versionReply(version_)});
      break;
    case StartTestCommand:
      if (const std::optional<StartRequest> request = parseStartRequest(command)) {
        test_ = TestMode{now, *request, testModePlan(request->flags, scenario_), 0};
        if (!vanishAt_ && scenario_.vanishAfterMs) vanishAt_ = now + *scenario_.vanishAfterMs;
      }
      break;
    case EndTestCommand:
      test_.reset();
      break;
    default:
      break;  // commands this module does not know are ignored
  }
}

void ModuleModel::setFixInterval(const StationCommand& command) {
  // $PMTK220,interval ms
  const std::optional<int> ms = command.fields.size() == 1 ? wholeNumber(command.fields[0]) : std::nullopt;
  const bool valid = ms && *ms >= kMinFixIntervalMs && *ms <= kMaxFixIntervalMs;
  if (valid) fixIntervalMs_ = *ms;  // from the next fix on
  acknowledge(command.number, valid);
}

void ModuleModel::setOutputRates(const StationCommand& command) {
  // $PMTK314,GLL,RMC,VTG,GGA,GSA,GSV,...,ZDA,MCHN  or  $PMTK314,-1
  if (command.fields.size() == 1 && command.fields[0] == kRestoreRates) {
    rates_ = scenario_.outputRates;
    acknowledge(command.number, true);
    return;
  }
  OutputRates rates{};
  bool valid = command.fields.size() == OutputRateCount;
  for (std::size_t i = 0; valid && i < OutputRateCount; ++i) {
    const std::optional<int> rate = wholeNumber(command.fields[i]);
    valid = rate && *rate <= MaxOutputRate;
    if (valid) rates[i] = *rate;
  }
  if (valid) rates_ = rates;
  acknowledge(command.number, valid);
}

void ModuleModel::acknowledge(int command, bool done) {
  if (scenario_.acks) immediate_.push_back({acknowledgement(command, done ? kAckDone : kAckInvalid)});
}

Millis ModuleModel::nextTestReplyAt() const {
  if (!test_ || test_->next >= test_->plan.size()) return kNever;
  return test_->start + test_->plan[test_->next].atMs;
}

Millis ModuleModel::nextFixAfter(Millis time) const {
  // Fixes fall on whole seconds of UTC, like a receiver's measurement epochs.
  const Millis utcMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(utcAtPowerUp_.time_since_epoch()).count() + time;
  const Millis intoSecond = ((utcMs % kMsPerSecond) + kMsPerSecond) % kMsPerSecond;
  return intoSecond == 0 ? time : time + (kMsPerSecond - intoSecond);
}

Millis ModuleModel::nextDue() const {
  if (restartEnd_) return *restartEnd_;
  if (!immediate_.empty()) return 0;
  return std::min(nextFixAt_, nextTestReplyAt());
}

std::vector<std::string> ModuleModel::fixSentences(Millis at) {
  FixEpoch epoch;
  epoch.utc = utcOf(utcAtPowerUp_ + std::chrono::milliseconds(at));
  epoch.fixed = at >= fixFrom_;
  epoch.latitude = scenario_.latitude;
  epoch.longitude = scenario_.longitude;
  epoch.altitude = scenario_.altitude;
  if (epoch.fixed) epoch.satellites = skyAt(scenario_.satellites, scenario_.snr, fixCount_);
  if (test_) {
    // The chosen satellite shows once the module has acquired it.
    const bool acquired = at >= test_->start + acquisitionTimeMs(test_->request.flags, scenario_);
    epoch.satellites = withChosenSatellite(std::move(epoch.satellites), test_->request.sv,
                                           acquired ? std::optional<int>(static_cast<int>(std::lround(scenario_.cnrMean)))
                                                    : std::nullopt);
  }
  return epochSentences(epoch, rates_, fixCount_);
}

std::string ModuleModel::testReply(TestReply reply) const {
  switch (reply) {
    case TestReply::Version:
      return versionReply(version_);
    case TestReply::OutputRates:
      return outputRatesReply(rates_);
    case TestReply::FixInterval:
      return fixIntervalReply(fixIntervalMs_);
    case TestReply::BluetoothMac:
      return bluetoothMacReply(scenario_.btMac);
    case TestReply::Acquired:
      return acquiredReply();
    case TestReply::BitSynced:
      return bitSyncedReply();
    case TestReply::SignalQuality:
      return signalQualityReply({test_ ? test_->request.sv : 0,
                                 static_cast<int>(std::max<Millis>(1, scenario_.signalDelayMs / kMsPerSecond)),
                                 scenario_.phase, scenario_.tcxoOffset, scenario_.tcxoDrift, scenario_.cnrMean,
                                 scenario_.cnrSigma});
  }
  return {};
}

std::vector<Emission> ModuleModel::advance(Millis now) {
  std::vector<Emission> out;
  if (restartEnd_) {
    if (now < *restartEnd_) return out;
    if (announceRestart_) out.push_back({startupMessage(), true});
    nextFixAt_ = nextFixAfter(*restartEnd_);
    fixCount_ = 0;
    restartEnd_.reset();
  }

  for (Emission& e : immediate_) out.push_back(std::move(e));
  immediate_.clear();

  // Test replies and fixes in time order; a reply due at the same moment as a fix goes first.
  while (true) {
    const Millis replyAt = nextTestReplyAt();
    if (replyAt <= now && replyAt <= nextFixAt_) {
      out.push_back({testReply(test_->plan[test_->next].reply)});
      ++test_->next;
      continue;
    }
    if (nextFixAt_ > now) break;
    for (std::string& s : fixSentences(nextFixAt_)) out.push_back({std::move(s)});
    ++fixCount_;
    nextFixAt_ += fixIntervalMs_;
    // A module that fell behind (the session stalled) skips the fixes it missed.
    if (nextFixAt_ <= now) nextFixAt_ = now + fixIntervalMs_ - (now - nextFixAt_) % fixIntervalMs_;
  }

  if (scenario_.silent) out.clear();
  return out;
}

}  // namespace quenby::modsim
