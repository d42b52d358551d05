// The station without windows: the run-control core driven from a console loop. One console view
// per chosen port, hand-offs served by the main thread, the one-second time-out counter, Stop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_library.h"
#include "engine/queue_bridge.h"
#include "engine/station_control.h"
#include "tools/run/console_view.h"
#include "tools/run/console_writer.h"

namespace quenby::run {

// What a run of the runner came to.
struct RunOutcome {
  bool allPassed = false;
  // Every run's line reached the test log.
  bool allRecorded = true;
  // Lines that standard output did not take (a reader that stayed away).
  std::size_t linesNotPrinted = 0;
};

class HeadlessStation {
 public:
  // folder: the program's folder (ports/, the test log, backup/, scat.txt). outFd: where the
  // memo lines go (standard output), written by a thread of its own.
  HeadlessStation(std::filesystem::path folder, DownloadLibrary* library, int outFd);
  ~HeadlessStation();

  // Loads a settings file as the station does at start (missing keys give defaults); each notice
  // of the load goes to tell. Throws SettingsError for a value that stops the load.
  void loadSettings(const std::filesystem::path& file,
                    const std::function<void(const std::string& notice)>& tell = {}) {
    control_.loadSettings(file, tell);
  }

  // Before a Download: "DA Error!" / "Image Error!" for the first file that fails its check, or
  // nullptr when both are usable.
  const char* downloadFilesProblem() { return control_.downloadFilesProblem(); }

  TestSettings& settings() { return control_.settings(); }
  RunState& state() { return control_.state(); }

  // Any thread: the station's loop looks at once at what changed (a Stop request).
  void wake() { bridge_.wake(); }

  // The serial numbers of the modules on each port, one per run in order: each goes into its
  // run's log line and is used up by it. Set before run().
  void setSerialNumbers(std::map<std::uint16_t, std::vector<std::string>> serials) {
    serials_ = std::move(serials);
  }

  // Runs `rounds` rounds on every port at once (Download, or Test (Skip DL) with skipDownload).
  // `interrupted` acts as Stop (call wake() after raising it). A run whose line could not be
  // written to the test log ends the rounds after the current one.
  RunOutcome run(const std::vector<std::uint16_t>& ports, bool skipDownload, int rounds,
                 const std::atomic<bool>& interrupted);

 private:
  // Serves hand-offs until the next second of the time-out counter (raising it then), a
  // hand-off, or a wake-up, whichever comes first.
  void serveUntilNextTick();
  // Serves hand-offs and the counter for at most `slice` (at exit, while workers end).
  void serveFor(std::chrono::milliseconds slice);
  void tickIfDue();
  bool allRecorded() const { return log_.linesNotRecorded() == 0; }

  // Declared first: the views print through it until the station has ended.
  ConsoleWriter console_;
  // Declared before the control: workers use it until the control has waited for them.
  QueueBridge bridge_;
  StationControl control_;
  TestLog& log_;
  std::vector<std::unique_ptr<ConsoleView>> views_;
  std::vector<std::unique_ptr<PortControl>> ports_;
  std::map<std::uint16_t, std::vector<std::string>> serials_;
  std::chrono::steady_clock::time_point nextTick_;
};

}  // namespace quenby::run
