#include "engine/queue_bridge.h"

namespace quenby {

void QueueBridge::synchronize(const std::function<void()>& fn) {
  if (std::this_thread::get_id() == uiThread_) {
    fn();
    return;
  }
  Task task{&fn, false, nullptr};
  std::unique_lock lock(mutex_);
  tasks_.push_back(&task);
  queued_.notify_all();
  finished_.wait(lock, [&task] { return task.done; });
  if (task.error) std::rethrow_exception(task.error);
}

int QueueBridge::pump(std::chrono::milliseconds wait) {
  return pumpUntil(std::chrono::steady_clock::now() + wait);
}

void QueueBridge::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  queued_.notify_all();
}

int QueueBridge::pumpUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  if (tasks_.empty() && !woken_)
    queued_.wait_until(lock, deadline, [this] { return !tasks_.empty() || woken_; });
  woken_ = false;
  int ran = 0;
  while (!tasks_.empty()) {
    Task* task = tasks_.front();
    tasks_.pop_front();
    lock.unlock();
    try {
      (*task->fn)();
    } catch (...) {
      task->error = std::current_exception();
    }
    lock.lock();
    task->done = true;
    finished_.notify_all();
    ++ran;
  }
  return ran;
}

}  // namespace quenby
