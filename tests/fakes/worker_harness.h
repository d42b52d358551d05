// A port worker wired to fakes: scripted module, recording view, inline hand-offs, virtual clock
// and a fake download library, with the station's default settings and a test log in a fresh
// temporary folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "engine/port_worker.h"
#include "engine/test_log.h"
#include "settings/settings_file.h"
#include "tests/fakes/fake_download_library.h"
#include "tests/fakes/recording_view.h"
#include "tests/fakes/scripted_module.h"
#include "tests/fakes/temp_folder.h"
#include "tests/fakes/virtual_clock.h"

namespace quenby::testing {

class NoLoadEffects final : public SettingsLoadEffects {
 public:
  std::uint32_t loadDownloadAgent(const std::string&, std::uint32_t) override { return 0; }
  std::uint32_t loadRom(const std::string&) override { return 0; }
};

// The settings of a first start without a settings file.
inline TestSettings defaultSettings() {
  TestSettings settings;
  RunState state;
  NoLoadEffects effects;
  loadSettings("/nonexistent/Torvane.ini", settings, state, effects);
  return settings;
}

// The fixed moment the test log sees: 7 May 2009, 13:05:09.
inline LogTime fixedLogTime() { return LogTime{2009, 5, 7, 13, 5, 9}; }

struct WorkerHarness {
  explicit WorkerHarness(std::uint16_t port = 3)
      : settings(defaultSettings()),
        log(folder.path(), state.logLock, fixedLogTime),
        station{settings, state, &library, [this] { ++controlLocks; }, log},
        view(port) {
    auto module = std::make_unique<ScriptedModule>(clock);
    this->module = module.get();
    worker = std::make_unique<PortWorker>(station, port, std::move(module), view, bridge, clock);
  }

  // The day's test log as text ("" when it does not exist).
  std::string logText() const { return folder.read(TestLog::logFileName(fixedLogTime())); }

  TempFolder folder;
  TestSettings settings;
  RunState state;
  FakeDownloadLibrary library;
  TestLog log;
  int controlLocks = 0;
  Station station;
  VirtualClock clock;
  RecordingView view;
  InlineBridge bridge;
  ScriptedModule* module = nullptr;
  std::unique_ptr<PortWorker> worker;
};

}  // namespace quenby::testing
