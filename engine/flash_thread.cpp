#include "engine/flash_thread.h"

#include <pthread.h>

#include <thread>

namespace quenby {

// ---- WorkerRegistry ---------------------------------------------------------------------------

void WorkerRegistry::add() {
  std::lock_guard lock(mutex_);
  ++live_;
}

void WorkerRegistry::remove(bool endingCounted) {
  std::lock_guard lock(mutex_);
  --live_;
  if (endingCounted) --ending_;
  ended_.notify_all();
}

int WorkerRegistry::live() const {
  std::lock_guard lock(mutex_);
  return live_;
}

void WorkerRegistry::ending() {
  std::lock_guard lock(mutex_);
  ++ending_;
}

int WorkerRegistry::stillEnding() const {
  std::lock_guard lock(mutex_);
  return ending_;
}

bool WorkerRegistry::waitAllEnded(const std::function<void()>& pump,
                                  std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (pump) pump();
    std::unique_lock lock(mutex_);
    if (live_ == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ended_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

void WorkerRegistry::setSuspendListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  suspendListener_ = std::move(listener);
}

void WorkerRegistry::workerSuspended() {
  std::function<void()> listener;
  {
    std::lock_guard lock(mutex_);
    listener = suspendListener_;
  }
  if (listener) listener();
}

// ---- TFlashThread -----------------------------------------------------------------------------

TFlashThread* TFlashThread::start(std::unique_ptr<PortWorker> worker, WorkerRegistry& registry) {
  auto* self = new TFlashThread(std::move(worker), registry);
  registry.add();
  std::thread(&TFlashThread::threadMain, self, &registry).detach();
  return self;
}

void TFlashThread::threadMain(TFlashThread* self, WorkerRegistry* registry) {
  pthread_setname_np(pthread_self(), "FlashThread");
  self->execute(*registry);
  const bool endingCounted = [self] {
    std::lock_guard lock(self->mutex_);
    return self->endingCounted_;
  }();
  delete self;
  // Last: after this the station may release what the worker used.
  registry->remove(endingCounted);
}

void TFlashThread::execute(WorkerRegistry& registry) {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (terminated_) return;
    }
    worker_->run();

    std::unique_lock lock(mutex_);
    if (terminated_) return;
    suspended_ = true;
    // Told without the lock: the listener may look at this worker (is it suspended?).
    lock.unlock();
    registry.workerSuspended();
    lock.lock();
    wake_.wait(lock, [this] { return resumeRequested_ || terminated_; });
    suspended_ = false;
    resumeRequested_ = false;
  }
}

bool TFlashThread::suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_ && !resumeRequested_;
}

void TFlashThread::resume() {
  std::lock_guard lock(mutex_);
  if (suspended_) {
    resumeRequested_ = true;
    wake_.notify_all();
  }
}

void TFlashThread::terminate() {
  std::lock_guard lock(mutex_);
  terminated_ = true;
}

bool TFlashThread::terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

void TFlashThread::terminateAndWake() {
  std::lock_guard lock(mutex_);
  terminated_ = true;
  // Only a worker inside a run has something to finish (a download to abort, a port to give
  // back, a line to write); one waiting between runs ends without starting another.
  if (!endingCounted_ && !suspended_) {
    endingCounted_ = true;
    registry_.ending();
  }
  wake_.notify_all();
}

void TFlashThread::stop() {
  worker_->stopFromUi();
  terminateAndWake();
}

void TFlashThread::closeWindow() {
  worker_->closeFromUi();
  terminateAndWake();
}

}  // namespace quenby
