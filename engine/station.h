// What a worker needs of the station (the main window, or the headless runner): the live test
// settings, the run state, the download library, the control lock and the test log.
#pragma once

#include <functional>
#include <string>

#include "engine/download_library.h"
#include "settings/run_state.h"
#include "settings/test_settings.h"

namespace quenby {

class TestLog;

// What became of one run's line in the test log.
struct RunLogged {
  bool recorded = true;
  // When not recorded: the log file and why it could not be written.
  std::string file;
  std::string reason;
};

struct Station {
  // Written by the user-interface thread; a worker copies it inside a hand-off at run start.
  TestSettings& settings;
  RunState& state;
  // The boot-ROM download library; null when the station has none (a download then fails with
  // "DL_HANDLE error code").
  DownloadLibrary* library = nullptr;
  // The main window lock (its controls disabled while runs are in progress); on the
  // user-interface thread. May be empty.
  std::function<void()> lockControls;
  // Writer of the day's CSV test log.
  TestLog& log;
  // Told of every run's log line, on the user-interface thread, after the line was written or
  // refused. May be empty.
  std::function<void(const RunLogged&)> runLogged = {};
};

}  // namespace quenby
