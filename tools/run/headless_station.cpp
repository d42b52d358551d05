#include "tools/run/headless_station.h"

namespace quenby::run {
namespace {

using namespace std::chrono_literals;

constexpr auto TimerPeriod = 1000ms;
constexpr auto ServeSlice = 50ms;
// How long the station waits at exit for workers that are still ending.
constexpr auto ExitWait = 30s;

}  // namespace

HeadlessStation::HeadlessStation(std::filesystem::path folder, DownloadLibrary* library,
                                 std::FILE* out)
    : out_(out),
      control_(std::move(folder), library, bridge_),
      nextTick_(std::chrono::steady_clock::now() + TimerPeriod) {}

HeadlessStation::~HeadlessStation() {
  ports_.clear();
  control_.shutdown([this] { serve(10ms); }, ExitWait);
}

void HeadlessStation::serve(std::chrono::milliseconds slice) {
  bridge_.pump(slice);
  const auto now = std::chrono::steady_clock::now();
  while (now >= nextTick_) {
    control_.tick();
    nextTick_ += TimerPeriod;
  }
}

bool HeadlessStation::run(const std::vector<std::uint16_t>& ports, bool skipDownload, int rounds,
                          const std::atomic<bool>& interrupted) {
  control_.setSkipDownload(skipDownload);
  for (auto port : ports) {
    views_.push_back(std::make_unique<ConsoleView>(port, out_));
    ports_.push_back(std::make_unique<PortControl>(control_, port, *views_.back()));
  }

  bool stopped = false;
  for (int round = 0; round < rounds && !stopped; ++round) {
    for (auto& port : ports_) port->startWorker();
    // Wait for this round to end on every port, serving the workers' hand-offs meanwhile.
    do {
      serve(ServeSlice);
      if (interrupted.load()) {
        control_.stopAll();
        stopped = true;
        break;
      }
    } while (!control_.allIdle());
  }

  // Each port's close ends its worker; the stopped ones are still finishing their runs.
  ports_.clear();
  control_.shutdown([this] { serve(10ms); }, ExitWait);

  bool allPassed = true;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const auto& view = *views_[i];
    const int failed = view.runs() - view.passes();
    std::fprintf(out_, "[COM %u] summary: %d run(s), %d passed, %d failed\n",
                 static_cast<unsigned>(ports[i]), view.runs(), view.passes(), failed);
    if (failed > 0 || view.runs() == 0) allPassed = false;
  }
  std::fflush(out_);
  return allPassed;
}

}  // namespace quenby::run
