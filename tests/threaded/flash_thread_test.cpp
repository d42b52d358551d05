// Real worker threads, several at once, with hand-offs served by a user-interface thread (the
// test's own), Stop and window close arriving at random moments. Built and run under
// ThreadSanitizer by the test command.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/flash_thread.h"
#include "engine/nmea_sentence.h"
#include "engine/queue_bridge.h"
#include "engine/test_log.h"
#include "tests/fakes/recording_view.h"
#include "tests/fakes/temp_folder.h"
#include "tests/fakes/worker_harness.h"

namespace quenby::testing {
namespace {

using namespace std::chrono_literals;

// Time runs fast: the user-interface thread raises the counter every few milliseconds, and
// sleeps are cut down in the same proportion.
class FastClock final : public RunClock {
 public:
  explicit FastClock(const std::atomic<std::int32_t>& counter) : counter_(counter) {}
  std::int32_t counter() const override { return counter_.load(); }
  void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::microseconds(ms * 5)); }

 private:
  const std::atomic<std::int32_t>& counter_;
};

// A module that answers the start sentence with the version replies and acquisition done, in
// pieces spread over several reads. Thread-safe: Stop and close come from the other thread.
// The fixed sentences a port was sent; it outlives the port, which its worker frees.
struct FixedWrites {
  std::mutex mutex;
  std::vector<std::string> sentences;
};

class ReplyingPort final : public SerialPort {
 public:
  ReplyingPort(bool silent, std::shared_ptr<FixedWrites> fixed)
      : silent_(silent), fixed_(std::move(fixed)) {}
  bool open(std::uint16_t, int) override {
    std::lock_guard lock(mutex_);
    open_ = true;
    pending_.clear();
    return true;
  }
  bool isOpen() const override {
    std::lock_guard lock(mutex_);
    return open_;
  }
  void writeText(std::string_view text) override {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    if (!silent_ && text.starts_with("$PMTK810,")) {
      pending_.push_back(frameSentence("PMTK705,M-core_1.8,0000,,"));
      pending_.push_back(frameSentence("PMTK514,1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0"));
      pending_.push_back(frameSentence("GPGSV,1,1,02,29,40,100,45,12,20,200,38"));
      pending_.push_back(frameSentence("PMTK813"));
      // The module goes on with its next sentence, which releases the reply to the parser.
      pending_.push_back(frameSentence("GPGGA,1,2"));
    }
  }
  // Takes a while, as a real line drains: Stop's own sentence leaves time for the worker to look
  // at the port before Stop closes it.
  void writeFixed(std::string_view sentence) override {
    std::this_thread::sleep_for(2ms);
    if (!isOpen()) return;
    std::lock_guard lock(fixed_->mutex);
    fixed_->sentences.emplace_back(sentence);
  }
  std::size_t read(char* buffer, std::size_t max) override {
    std::this_thread::sleep_for(1ms);
    std::lock_guard lock(mutex_);
    if (!open_ || pending_.empty()) return 0;
    std::string next = std::move(pending_.front());
    pending_.pop_front();
    const std::size_t n = std::min(max, next.size());
    next.copy(buffer, n);
    return n;
  }
  void purge(Purge) override {}
  void close() override {
    std::lock_guard lock(mutex_);
    open_ = false;
  }

 private:
  bool silent_;
  std::shared_ptr<FixedWrites> fixed_;
  mutable std::mutex mutex_;
  bool open_ = false;
  std::deque<std::string> pending_;
};

struct Station16 {
  Station16()
      : settings(defaultSettings()),
        log(folder.path(), state.logLock, fixedLogTime),
        station{settings, state, nullptr, [this] { ++runsStarted; }, log},
        clock(state.timeoutCounter) {
    settings.enableTest = static_cast<std::int32_t>(item::FirmwareVersion | item::NmeaType |
                                                    item::AcquisitionTime);
    state.skipDownload = true;
  }

  TFlashThread* startWorker(std::uint16_t port, bool silent) {
    views.push_back(std::make_unique<RecordingView>(port));
    fixedWrites.push_back(std::make_shared<FixedWrites>());
    auto worker = std::make_unique<PortWorker>(
        station, port, std::make_unique<ReplyingPort>(silent, fixedWrites.back()), *views.back(),
        bridge, clock);
    return TFlashThread::start(std::move(worker), registry);
  }

  // The user-interface thread's work for a while: hand-offs and the one-second timer.
  void serve(std::chrono::milliseconds howLong) {
    const auto end = std::chrono::steady_clock::now() + howLong;
    while (std::chrono::steady_clock::now() < end) {
      bridge.pump(2ms);
      if (std::chrono::steady_clock::now() >= nextTick) {
        ++state.timeoutCounter;
        nextTick = std::chrono::steady_clock::now() + 5ms;
      }
    }
  }

  int logLines() const {
    std::istringstream in(folder.read(TestLog::logFileName(fixedLogTime())));
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines == 0 ? 0 : lines - 1;  // without the header
  }

  TempFolder folder;
  TestSettings settings;
  RunState state;
  TestLog log;
  std::atomic<int> runsStarted{0};  // the main-window lock runs once per run start
  Station station;
  FastClock clock;
  QueueBridge bridge;
  WorkerRegistry registry;
  std::vector<std::unique_ptr<RecordingView>> views;
  std::vector<std::shared_ptr<FixedWrites>> fixedWrites;  // one per started worker
  std::chrono::steady_clock::time_point nextTick = std::chrono::steady_clock::now();
};

bool allSuspended(const std::vector<TFlashThread*>& workers) {
  for (auto* w : workers)
    if (!w->suspended()) return false;
  return true;
}

TEST(FlashThread, SeveralWorkersRunRoundsAndEndOnStop) {
  Station16 s;
  std::vector<TFlashThread*> workers;
  for (std::uint16_t port = 1; port <= 6; ++port) workers.push_back(s.startWorker(port, false));

  for (int round = 0; round < 3; ++round) {
    if (round > 0)
      for (auto* w : workers) w->resume();
    for (int i = 0; i < 2000 && !allSuspended(workers); ++i) s.serve(5ms);
    ASSERT_TRUE(allSuspended(workers)) << "round " << round;
  }
  for (auto* w : workers) w->stop();
  ASSERT_TRUE(s.registry.waitAllEnded([&] { s.serve(2ms); }, 20s));

  EXPECT_EQ(s.runsStarted.load(), 18);
  EXPECT_EQ(s.logLines(), 18);
  for (auto& view : s.views) {
    int passes = 0;
    for (auto& line : view->memo) passes += line.starts_with("     Pass!!   Acq SV(29)");
    EXPECT_EQ(passes, 3);
  }
}

TEST(FlashThread, StopAndCloseAtRandomMomentsEndEveryWorkerWithOneLogLinePerRun) {
  Station16 s;
  std::mt19937 random(12345);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<TFlashThread*> workers;
    for (std::uint16_t port = 1; port <= 8; ++port)
      workers.push_back(s.startWorker(port, /*silent=*/port % 2 == 0));
    const std::size_t first = s.fixedWrites.size() - workers.size();
    for (std::size_t i = 0; i < workers.size(); ++i) {
      s.serve(std::chrono::milliseconds(random() % 15));
      if (random() % 2)
        workers[i]->stop();
      else
        workers[i]->closeWindow();
    }
    ASSERT_TRUE(s.registry.waitAllEnded([&] { s.serve(2ms); }, 20s)) << "trial " << trial;
    // Stop's "leave test mode" and the worker's end sentences never both reach a module: Stop
    // sends its own only while the run is going on.
    const std::string endTest(EndTestModeSentence), reset(FactoryResetSentence);
    for (std::size_t i = 0; i < workers.size(); ++i) {
      const auto& sent = s.fixedWrites[first + i]->sentences;
      const std::vector<std::vector<std::string>> allowed{{}, {endTest}, {endTest, reset}};
      EXPECT_NE(std::find(allowed.begin(), allowed.end(), sent), allowed.end())
          << "trial " << trial << ", port " << i + 1 << ": " << sent.size() << " sentences";
    }
  }
  EXPECT_EQ(s.logLines(), s.runsStarted.load());
  EXPECT_EQ(s.registry.live(), 0);
}

}  // namespace
}  // namespace quenby::testing
