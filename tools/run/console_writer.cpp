#include "tools/run/console_writer.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace quenby::run {
namespace {

using namespace std::chrono_literals;

// Sent to the writer thread to end a write that the output holds back.
constexpr int GiveUpSignal = SIGUSR2;
// How often the signal is sent again while the writer has not noticed it yet.
constexpr auto GiveUpRepeat = 20ms;
// Lines taken from the queue for one write.
constexpr std::size_t BatchBytes = 16 * 1024;

void onGiveUp(int) {}

// The handler does nothing but interrupt: without SA_RESTART a write blocked on a full pipe or a
// stopped terminal returns.
void installGiveUpHandler() {
  struct sigaction action {};
  action.sa_handler = onGiveUp;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ::sigaction(GiveUpSignal, &action, nullptr);
}

}  // namespace

ConsoleWriter::ConsoleWriter(int fd, std::size_t queueLimit)
    : fd_(fd), queueLimit_(queueLimit) {
  installGiveUpHandler();
  thread_ = std::thread(&ConsoleWriter::writeLoop, this);
}

ConsoleWriter::~ConsoleWriter() { finish(0ms); }

void ConsoleWriter::print(std::string line) {
  std::lock_guard lock(mutex_);
  if (finishing_ || broken_) {
    ++notPrinted_;
    return;
  }
  if (queue_.size() >= queueLimit_) {
    ++dropped_;
    ++notPrinted_;
    return;
  }
  queueDroppedNotice();
  line += '\n';
  queue_.push_back(std::move(line));
  changed_.notify_all();
}

std::size_t ConsoleWriter::waiting() {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void ConsoleWriter::queueDroppedNotice() {
  if (dropped_ == 0) return;
  queue_.push_back("quenby-run: " + std::to_string(dropped_) +
                   " line(s) not printed: the output did not take them in time\n");
  dropped_ = 0;
}

std::size_t ConsoleWriter::finish(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (finished_) return notPrinted_;
  finished_ = true;
  finishing_ = true;
  if (!broken_) queueDroppedNotice();
  changed_.notify_all();
  changed_.wait_for(lock, limit, [this] { return ended_; });

  // The output still holds a write back: interrupt it until the writer notices.
  giveUp_ = true;
  changed_.notify_all();
  while (!ended_) {
    lock.unlock();
    ::pthread_kill(thread_.native_handle(), GiveUpSignal);
    lock.lock();
    changed_.wait_for(lock, GiveUpRepeat, [this] { return ended_; });
  }
  lock.unlock();
  thread_.join();
  lock.lock();
  notPrinted_ += queue_.size();
  queue_.clear();
  return notPrinted_;
}

void ConsoleWriter::writeLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || finishing_ || giveUp_; });
    if (giveUp_ || broken_ || queue_.empty()) break;

    std::string batch;
    std::size_t lines = 0;
    while (!queue_.empty() && batch.size() < BatchBytes) {
      batch += queue_.front();
      queue_.pop_front();
      ++lines;
    }
    writing_ = true;
    lock.unlock();
    const bool written = writeAll(batch);
    lock.lock();
    writing_ = false;
    if (!written) {
      notPrinted_ += lines;
      if (!giveUp_) broken_ = true;
      break;
    }
  }
  ended_ = true;
  changed_.notify_all();
}

bool ConsoleWriter::writeAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      std::lock_guard lock(mutex_);
      if (giveUp_) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace quenby::run
