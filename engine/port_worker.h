// One port's runs: the worker record and everything a run does on it, from the run start to the
// run completion. The thread around it (TFlashThread) calls run() once per run; tests call it
// directly with fakes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/port_view.h"
#include "engine/run_clock.h"
#include "engine/serial_port.h"
#include "engine/station.h"
#include "engine/ui_bridge.h"
#include "engine/worker_record.h"

namespace quenby {

class PortWorker {
 public:
  PortWorker(Station& station, std::uint16_t port, std::unique_ptr<SerialPort> serial,
             PortView& view, UiBridge& bridge, RunClock& clock);

  PortWorker(const PortWorker&) = delete;
  PortWorker& operator=(const PortWorker&) = delete;

  // One whole run: run start, firmware download, port and handshake, read loop, end sentences,
  // run completion.
  void run();

  // ---- User-interface thread, at any moment of a run ---------------------------------------
  // Stop: verdict word and test-item set zero, "$PMTK811*3A" to the port, port closed.
  void stopFromUi();
  // Port window close: verdict word and test-item set zero, port closed, no sentence; the view
  // is detached so that the rest of the run touches no window.
  void closeFromUi();
  // From now on the run shows nothing (its window is gone); the run still reaches the log.
  void detachView();

  // ---- For the run's parts (steps, parser, verdicts, download, completion) -------------------
  WorkerRecord& record() { return record_; }
  const WorkerRecord& record() const { return record_; }
  // The settings of this run: copied from the station at run start.
  const TestSettings& settings() const { return settings_; }
  Station& station() { return station_; }
  SerialPort& serial() { return *serial_; }
  RunClock& clock() { return clock_; }
  std::uint16_t port() const { return record_.port; }
  // Runs fn on the user-interface thread and waits for it.
  void handOff(const std::function<void()>& fn) { bridge_.synchronize(fn); }
  // The port window; only inside a hand-off (user-interface thread).
  PortView& view() { return *view_; }
  // Seconds since the current item's clock started.
  std::int32_t elapsedItemSeconds() const { return clock_.counter() - record_.itemStartTick; }

  // The run's steps, exposed for tests.
  void startRun();
  bool openPortAndHandshake();
  void readLoopPass();
  void endRun();

 private:
  Station& station_;
  TestSettings settings_;
  WorkerRecord record_;
  std::unique_ptr<SerialPort> serial_;
  PortView* view_;
  std::unique_ptr<DetachedPortView> detachedView_;
  std::uint16_t itemFlags_ = 0;
  bool skipDownload_ = false;
  // Set by Stop and close (user-interface thread): the run start then takes no items.
  bool cancelled_ = false;
  // Set by the port window's close (guarded by stopping_): the port is not opened again.
  bool windowClosed_ = false;
  // Held by Stop and close from emptying the set until the port is closed, so that a worker that
  // finds the set empty never sees the port still open and sends its end sentences after Stop's.
  std::mutex stopping_;
  // The worker has begun its end sentences (guarded by stopping_): Stop then adds none of its own.
  bool ending_ = false;
  UiBridge& bridge_;
  RunClock& clock_;
  std::array<char, ReadChunkMax + 1> chunk_{};
};

}  // namespace quenby
