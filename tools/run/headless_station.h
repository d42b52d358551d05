// The station without windows: the run-control core driven from a console loop. One console view
// per chosen port, hand-offs served by the main thread, the one-second time-out counter, Stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/download_library.h"
#include "engine/queue_bridge.h"
#include "engine/station_control.h"
#include "tools/run/console_view.h"

namespace quenby::run {

class HeadlessStation {
 public:
  // folder: the program's folder (ports/, the test log, backup/, scat.txt).
  HeadlessStation(std::filesystem::path folder, DownloadLibrary* library, std::FILE* out);
  ~HeadlessStation();

  // Loads a settings file as the station does at start (missing keys give defaults). Throws
  // SettingsError for a value that stops the load.
  void loadSettings(const std::filesystem::path& file) { control_.loadSettings(file); }

  // Before a Download: "DA Error!" / "Image Error!" for the first file that fails its check, or
  // nullptr when both are usable.
  const char* downloadFilesProblem() { return control_.downloadFilesProblem(); }

  TestSettings& settings() { return control_.settings(); }
  RunState& state() { return control_.state(); }

  // Runs `rounds` rounds on every port at once (Download, or Test (Skip DL) with skipDownload).
  // `interrupted` acts as Stop. Returns true when every run passed.
  bool run(const std::vector<std::uint16_t>& ports, bool skipDownload, int rounds,
           const std::atomic<bool>& interrupted);

 private:
  // Serves hand-offs and raises the time-out counter once a second, for at most `slice`.
  void serve(std::chrono::milliseconds slice);

  std::FILE* out_;
  // Declared before the control: workers use it until the control has waited for them.
  QueueBridge bridge_;
  StationControl control_;
  std::vector<std::unique_ptr<ConsoleView>> views_;
  std::vector<std::unique_ptr<PortControl>> ports_;
  std::chrono::steady_clock::time_point nextTick_;
};

}  // namespace quenby::run
