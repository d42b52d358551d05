#include "tools/run/headless_station.h"

#include <string>

namespace quenby::run {
namespace {

using namespace std::chrono_literals;

constexpr auto TimerPeriod = 1000ms;
constexpr auto ExitServeSlice = 10ms;
// How long the station waits at exit for workers that are still ending.
constexpr auto ExitWait = 30s;
// How long the printed lines may take to go out at the end before they are given up.
constexpr auto OutputDrainLimit = 1000ms;

}  // namespace

HeadlessStation::HeadlessStation(std::filesystem::path folder, DownloadLibrary* library,
                                 int outFd)
    : console_(outFd),
      control_(std::move(folder), library, bridge_),
      log_(control_.station().log),
      nextTick_(std::chrono::steady_clock::now() + TimerPeriod) {
  // A worker that suspends at the end of its run wakes the loop, which may start the next round.
  control_.setIdleListener([this] { bridge_.wake(); });
}

HeadlessStation::~HeadlessStation() {
  ports_.clear();
  control_.shutdown([this] { serveFor(ExitServeSlice); }, ExitWait);
}

void HeadlessStation::tickIfDue() {
  const auto now = std::chrono::steady_clock::now();
  while (now >= nextTick_) {
    control_.tick();
    nextTick_ += TimerPeriod;
  }
}

void HeadlessStation::serveUntilNextTick() {
  bridge_.pumpUntil(nextTick_);
  tickIfDue();
}

void HeadlessStation::serveFor(std::chrono::milliseconds slice) {
  bridge_.pumpUntil(std::min(std::chrono::steady_clock::now() + slice, nextTick_));
  tickIfDue();
}

RunOutcome HeadlessStation::run(const std::vector<std::uint16_t>& ports, bool skipDownload,
                                int rounds, const std::atomic<bool>& interrupted) {
  control_.setSkipDownload(skipDownload);
  for (auto port : ports) {
    views_.push_back(std::make_unique<ConsoleView>(port, console_));
    if (const auto numbers = serials_.find(port); numbers != serials_.end())
      views_.back()->addSerialNumbers(numbers->second);
    ports_.push_back(std::make_unique<PortControl>(control_, port, *views_.back()));
  }

  bool stopped = false;
  // Results that could not be recorded end the rounds: no further run starts that would lose
  // its line too.
  for (int round = 0; round < rounds && !stopped && allRecorded(); ++round) {
    for (auto& port : ports_) port->startWorker();
    // Wait for this round to end on every port, serving the workers' hand-offs meanwhile.
    while (!control_.allIdle()) {
      if (interrupted.load()) {
        control_.stopAll();
        stopped = true;
        break;
      }
      serveUntilNextTick();
    }
  }

  // Each port's close ends its worker; the stopped ones are still finishing their runs.
  ports_.clear();
  control_.shutdown([this] { serveFor(ExitServeSlice); }, ExitWait);

  RunOutcome outcome;
  outcome.allPassed = true;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const auto& view = *views_[i];
    const int failed = view.runs() - view.passes();
    console_.print("[COM " + std::to_string(ports[i]) + "] summary: " +
                   std::to_string(view.runs()) + " run(s), " + std::to_string(view.passes()) +
                   " passed, " + std::to_string(failed) + " failed");
    if (failed > 0 || view.runs() == 0) outcome.allPassed = false;
  }
  outcome.allRecorded = allRecorded();
  outcome.linesNotPrinted = console_.finish(OutputDrainLimit);
  return outcome;
}

}  // namespace quenby::run
