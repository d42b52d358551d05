// The station without windows: the settings, one worker per chosen port with a console view,
// hand-offs served by the main thread, the one-second time-out counter, and Stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/download_library.h"
#include "engine/flash_thread.h"
#include "engine/queue_bridge.h"
#include "engine/run_clock.h"
#include "engine/station.h"
#include "engine/test_log.h"
#include "settings/run_state.h"
#include "settings/test_settings.h"
#include "tools/run/console_view.h"

namespace quenby::run {

class HeadlessStation {
 public:
  // folder: the program's folder (ports/, the test log, backup/, scat.txt).
  HeadlessStation(std::filesystem::path folder, DownloadLibrary* library, std::FILE* out);
  ~HeadlessStation();

  // Loads a settings file as the station does at start (missing keys give defaults). Throws
  // SettingsError for a value that stops the load.
  void loadSettings(const std::filesystem::path& file);

  // Before a Download: the Download Agent check, then the image check, as the station's
  // Download command makes them. The operator's message for the first that fails
  // ("DA Error!", "Image Error!"), or nullptr when both files are usable.
  const char* downloadFilesProblem();

  TestSettings& settings() { return settings_; }
  RunState& state() { return state_; }

  // Runs `rounds` rounds on every port at once (Download, or Test (Skip DL) with skipDownload).
  // `interrupted` acts as Stop. Returns true when every run passed.
  bool run(const std::vector<std::uint16_t>& ports, bool skipDownload, int rounds,
           const std::atomic<bool>& interrupted);

 private:
  // Serves hand-offs and raises the time-out counter once a second, for at most `slice`.
  void serve(std::chrono::milliseconds slice);
  bool allIdle() const;
  void stopAll();
  void closeAll();

  std::filesystem::path folder_;
  DownloadLibrary* library_;
  std::FILE* out_;
  TestSettings settings_;
  RunState state_;
  TestLog log_;
  Station station_;
  QueueBridge bridge_;
  CounterClock clock_;
  WorkerRegistry registry_;
  std::vector<std::unique_ptr<ConsoleView>> views_;
  std::vector<TFlashThread*> workers_;
  std::chrono::steady_clock::time_point nextTick_;
};

}  // namespace quenby::run
