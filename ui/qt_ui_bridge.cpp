#include "ui/qt_ui_bridge.h"

#include <QThread>
#include <condition_variable>
#include <exception>
#include <mutex>

namespace quenby::ui {

void QtUiBridge::synchronize(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  struct Call {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::exception_ptr error;
  } call;

  QMetaObject::invokeMethod(
      this,
      [&fn, &call] {
        std::exception_ptr error;
        try {
          fn();
        } catch (...) {
          error = std::current_exception();
        }
        std::lock_guard lock(call.mutex);
        call.error = error;
        call.finished = true;
        call.done.notify_one();
      },
      Qt::QueuedConnection);

  std::unique_lock lock(call.mutex);
  call.done.wait(lock, [&call] { return call.finished; });
  if (call.error) std::rethrow_exception(call.error);
}

}  // namespace quenby::ui
