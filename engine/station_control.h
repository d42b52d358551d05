// The station's run control without any windowing toolkit: the settings and run state, the
// download library's handles, the test log, the workers of the ports, Stop, the idle test and the
// bounded wait at exit. The main window drives it from its menus and timers, the headless runner
// from its console loop; each shell adds only what it shows and how it serves hand-offs.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_library.h"
#include "engine/flash_thread.h"
#include "engine/port_view.h"
#include "engine/run_clock.h"
#include "engine/serial_port.h"
#include "engine/station.h"
#include "engine/test_log.h"
#include "engine/ui_bridge.h"
#include "settings/run_state.h"
#include "settings/settings_file.h"
#include "settings/test_settings.h"

namespace quenby {

class PortControl;

class StationControl {
 public:
  // Opens the serial link of one port (a new one per worker).
  using SerialFactory = std::function<std::unique_ptr<SerialPort>()>;

  // folder: the program's folder (ports/, the test log, backup/, scat.txt). Creates the Download
  // Agent and image handles at once. bridge: how workers reach the user-interface thread.
  // makeSerial defaults to the POSIX serial link over folder/ports.
  StationControl(std::filesystem::path folder, DownloadLibrary* library, UiBridge& bridge,
                 SerialFactory makeSerial = {});
  // Ends the workers still alive and releases the library (see shutdown()).
  ~StationControl();

  StationControl(const StationControl&) = delete;
  StationControl& operator=(const StationControl&) = delete;

  TestSettings& settings() { return settings_; }
  RunState& state() { return state_; }
  Station& station() { return station_; }
  DownloadLibrary* library() { return library_; }
  const std::filesystem::path& folder() const { return folder_; }
  // folder()/"Torvane.ini".
  std::filesystem::path settingsFile() const { return folder_ / "Torvane.ini"; }
  // folder()/"scat.txt": the layout file handed to the library with every ROM.
  std::filesystem::path scatFile() const { return folder_ / "scat.txt"; }

  // The main window lock, run on the user-interface thread by every worker at its run start.
  void setLockControls(std::function<void()> lock) { station_.lockControls = std::move(lock); }
  // Told on the user-interface thread of each run's log line: recorded or not, and why.
  void setRunLoggedListener(std::function<void(const RunLogged&)> listener) {
    station_.runLogged = std::move(listener);
  }

  // ---- Settings ---------------------------------------------------------------------------
  // Fills the record from a settings file; saved Download Agent and ROM paths go to the library
  // and the load's notices (the file that cannot be read, ComSelect entries left out, numbers
  // refused) to the shell through effects. After it the chosen ports are each a port from 1 to
  // 65535, once. Throws SettingsError for a value that stops the load.
  void loadSettings(const std::filesystem::path& file, SettingsLoadEffects& effects);
  // The same with effects that show nothing (the library steps only); each notice goes to tell.
  void loadSettings(const std::filesystem::path& file,
                    const std::function<void(const std::string& notice)>& tell = {});
  // Throws SettingsError("Unable to write to <path>") for a refused write.
  void saveSettings(const std::filesystem::path& file) const;

  // ---- Download Agent and ROM -------------------------------------------------------------
  // The File menu's choice of a Download Agent file (chipValue: by the Series menu) and of a
  // ROM file. Sets the loaded flag when the library took the file (a failure is not reported
  // here: it surfaces at the next Download); the path becomes the one the settings save writes.
  void chooseDownloadAgent(const std::string& path, std::uint32_t chipValue);
  void chooseRom(const std::string& path);
  // Before a Download: the Download Agent check, then the image check. The operator's message
  // for the first that fails ("DA Error!", "Image Error!"), or nullptr when both are usable.
  const char* downloadFilesProblem();

  // ---- Runs -------------------------------------------------------------------------------
  // Download (skip = false) or Test (Skip DL) (skip = true): read by every worker at its run start.
  void setSkipDownload(bool skip) { state_.skipDownload.store(skip); }
  // Stop: every port's run told to end (its download aborted, its port closed) and its worker
  // forgotten. The stopped runs end on their own; stillStopping() counts them.
  void stopAll();
  // True when no port has a running worker (none, or suspended between runs).
  bool allIdle() const;
  // The one-second timer: the time-out counter raised by one.
  void tick() { state_.timeoutCounter.fetch_add(1); }
  // Workers that have not ended yet (stopped or closed ones may still be finishing their run).
  int liveWorkers() const { return registry_.live(); }
  // Runs that Stop or a port's close ended and that are still finishing (a download aborting,
  // the run's line being written). Until there are none, no new run may start: a stopped run
  // may still hold its port.
  int stillStopping() const { return registry_.stillEnding(); }
  // Called on a worker's thread each time a worker suspends itself at the end of its run (the
  // station may have become idle): a shell that waits for hand-offs can wake up and look.
  // Set it before the first run.
  void setIdleListener(std::function<void()> listener) {
    registry_.setSuspendListener(std::move(listener));
  }

  // Closes every port (each run ends, a download is aborted, and the run still reaches the log),
  // then waits until every worker has ended, calling pump meanwhile (a worker may be waiting in a
  // hand-off), at most `limit`. Then releases the library objects: the Download Agent and image unloaded when loaded, both
  // handles destroyed. When a worker is still alive after the limit, the library is left as it
  // is (a worker may still use it) and false is returned. Runs once; later calls return the
  // first result.
  bool shutdown(const std::function<void()>& pump, std::chrono::milliseconds limit);

 private:
  friend class PortControl;
  std::unique_ptr<SerialPort> makeSerial() const { return makeSerial_(); }
  void attach(PortControl* port);
  void detach(PortControl* port);
  void releaseLibrary();

  std::filesystem::path folder_;
  DownloadLibrary* library_;
  UiBridge& bridge_;
  SerialFactory makeSerial_;
  TestSettings settings_;
  RunState state_;
  TestLog log_;
  Station station_;
  CounterClock clock_;
  WorkerRegistry registry_;
  std::vector<PortControl*> ports_;
  bool shutDown_ = false;
  bool allEnded_ = true;
};

// One port's worker as its window (or the runner) holds it: none until the first run, then one
// worker that is suspended between runs, forgotten again by Stop and by the port's close.
// Lives on the user-interface thread.
class PortControl {
 public:
  PortControl(StationControl& station, std::uint16_t port, PortView& view);
  // The port's close: its run ends and still reaches the log; nothing more is shown.
  ~PortControl();

  PortControl(const PortControl&) = delete;
  PortControl& operator=(const PortControl&) = delete;

  std::uint16_t port() const { return port_; }
  bool hasWorker() const { return worker_ != nullptr; }
  // No worker, or a worker suspended between runs.
  bool idle() const { return worker_ == nullptr || worker_->suspended(); }

  // No worker: a new one, running at once. A suspended worker: resumed. A running one: left.
  void startWorker();
  // Stop: "$PMTK811*3A" to the module, port closed, the worker told to end and forgotten.
  void stop();
  // Close: the run ended without a sentence, the view detached, the worker told to end and
  // forgotten.
  void close();

 private:
  StationControl& station_;
  std::uint16_t port_;
  PortView& view_;
  TFlashThread* worker_ = nullptr;
};

}  // namespace quenby
