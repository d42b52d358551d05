// One simulated module, without any I/O: what it does with the station's commands and what it
// sends when. Time is milliseconds since the module was powered up; the session drives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/modsim/factory_tests.h"
#include "tools/modsim/scenario.h"
#include "tools/modsim/station_commands.h"

namespace quenby::modsim {

using Millis = std::int64_t;

// One sentence the module sends, framed.
struct Emission {
  std::string text;
  bool startup = false;  // the start-up message after power-up or a restart

  bool operator==(const Emission&) const = default;
};

// Quiet time of a cold restart before the module announces itself again.
inline constexpr Millis ColdRestartQuietMs = 200;
// Time the firmware takes to start when the boot ROM hands over to it.
inline constexpr Millis FirmwareStartMs = 200;

class ModuleModel {
 public:
  // utcAtPowerUp: the UTC time that the module's clock shows at time 0.
  ModuleModel(ModuleScenario scenario, std::chrono::system_clock::time_point utcAtPowerUp);

  // A command that arrived at `now`. A restarting module takes no commands.
  void receive(const StationCommand& command, Millis now);

  // Everything due by `now`, in the order it goes out.
  std::vector<Emission> advance(Millis now);

  // When something is next due (a fix, a test reply, the end of a restart).
  Millis nextDue() const;

  // When the module disappears: set by the first start sentence when the scenario says so.
  std::optional<Millis> vanishAt() const { return vanishAt_; }

  // Counts the module's restarts (power-up included): what was waiting to be sent is lost then.
  std::uint64_t restarts() const { return restarts_; }

  // The module has been powered up into its boot ROM: the firmware sends nothing and takes no
  // commands until startFirmware.
  void enterBootRom();
  bool inBootRom() const { return inBootRom_; }

  // The boot ROM hands over to the firmware at `now`; it starts as at power-up, with the
  // scenario's fix interval and output rates, after FirmwareStartMs. A new version text (that of
  // a downloaded firmware) replaces the one it reports from then on.
  void startFirmware(Millis now, std::optional<std::string> version);

  int fixIntervalMs() const { return fixIntervalMs_; }
  const OutputRates& outputRates() const { return rates_; }
  bool inTestMode() const { return test_.has_value(); }

 private:
  struct TestMode {
    Millis start = 0;
    StartRequest request;
    std::vector<PlannedReply> plan;
    std::size_t next = 0;  // first plan entry not yet sent
  };

  void restart(Millis until, bool announce);
  void setOutputRates(const StationCommand& command);
  void setFixInterval(const StationCommand& command);
  void acknowledge(int command, bool done);
  Millis nextTestReplyAt() const;
  Millis nextFixAfter(Millis time) const;
  std::vector<std::string> fixSentences(Millis at);
  std::string testReply(TestReply reply) const;

  ModuleScenario scenario_;
  std::chrono::system_clock::time_point utcAtPowerUp_;
  std::string version_;                // the running firmware's
  bool inBootRom_ = false;
  int fixIntervalMs_;
  OutputRates rates_;
  Millis fixFrom_;                     // the position is valid from here on
  Millis nextFixAt_ = 0;
  std::uint64_t fixCount_ = 0;         // fixes since the last (re)start
  std::optional<Millis> restartEnd_;   // quiet until then
  bool announceRestart_ = true;
  std::vector<Emission> immediate_;    // replies to queries and acknowledgements
  std::optional<TestMode> test_;
  std::optional<Millis> vanishAt_;
  std::uint64_t restarts_ = 0;
};

}  // namespace quenby::modsim
