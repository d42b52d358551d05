// TFlashThread: the thread of one port window's worker. Created running (the first run starts at
// once), it suspends itself at the end of each run and is resumed for the next; Stop and the
// port window's close terminate it, and it frees itself when it ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/port_worker.h"

namespace quenby {

// Counts the workers that have not ended yet, so that the station can wait for all of them at
// exit (pumping hand-offs meanwhile: a worker may be waiting in one).
class WorkerRegistry {
 public:
  void add();
  // A worker has ended; endingCounted: it had been counted by ending().
  void remove(bool endingCounted = false);
  int live() const;
  // A worker was told to end (Stop, its window's close) and is finishing its run.
  void ending();
  // Workers told to end that have not ended yet.
  int stillEnding() const;
  // Calls pump repeatedly until every worker has ended or limit has passed; true when all ended.
  bool waitAllEnded(const std::function<void()>& pump, std::chrono::milliseconds limit);
  // Called on a worker's thread each time a worker suspends itself at the end of a run. Set it
  // before the first worker starts.
  void setSuspendListener(std::function<void()> listener);
  void workerSuspended();

 private:
  mutable std::mutex mutex_;
  std::condition_variable ended_;
  int live_ = 0;
  int ending_ = 0;
  std::function<void()> suspendListener_;
};

class TFlashThread {
 public:
  // Starts a worker thread running worker's runs. The returned object frees itself when the
  // thread ends; the caller must forget it once it has asked it to terminate.
  static TFlashThread* start(std::unique_ptr<PortWorker> worker, WorkerRegistry& registry);

  // ---- User-interface thread --------------------------------------------------------------
  // True between runs.
  bool suspended() const;
  // Starts the next run of a suspended worker; a running one is left alone.
  void resume();
  void terminate();
  bool terminated() const;
  // Stop: the worker's set and verdict emptied, "$PMTK811*3A" to its port, port closed, then
  // terminated and resumed if suspended. Forget the pointer afterwards.
  void stop();
  // Port window close: set emptied, port closed (no sentence), the view detached, then
  // terminated and resumed if suspended. Forget the pointer afterwards.
  void closeWindow();

  PortWorker& worker() { return *worker_; }

 private:
  TFlashThread(std::unique_ptr<PortWorker> worker, WorkerRegistry& registry)
      : worker_(std::move(worker)), registry_(registry) {}
  static void threadMain(TFlashThread* self, WorkerRegistry* registry);
  void execute(WorkerRegistry& registry);
  void terminateAndWake();

  std::unique_ptr<PortWorker> worker_;
  WorkerRegistry& registry_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool suspended_ = false;
  bool resumeRequested_ = false;
  bool terminated_ = false;
  // Counted among the workers still ending (once, by the first request to end).
  bool endingCounted_ = false;
};

}  // namespace quenby
