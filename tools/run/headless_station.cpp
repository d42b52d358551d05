#include "tools/run/headless_station.h"

#include "engine/library_load_effects.h"
#include "engine/posix_serial_port.h"
#include "settings/settings_file.h"

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
    : folder_(std::move(folder)),
      library_(library),
      out_(out),
      log_(folder_, state_.logLock),
      station_{settings_, state_, library_, {}, log_},
      clock_(state_.timeoutCounter),
      nextTick_(std::chrono::steady_clock::now() + TimerPeriod) {
  if (library_) {
    library_->createDaHandle(&state_.daHandle);
    library_->createImageHandle(&state_.imageHandle);
  }
}

HeadlessStation::~HeadlessStation() {
  closeAll();
  registry_.waitAllEnded([this] { serve(10ms); }, ExitWait);
  if (library_) {
    if (state_.daLoaded) library_->unloadDa(state_.daHandle);
    if (state_.romLoaded) library_->unloadImageEntry(state_.imageHandle, 0);
    library_->destroyDaHandle(&state_.daHandle);
    library_->destroyImageHandle(&state_.imageHandle);
  }
}

void HeadlessStation::loadSettings(const std::filesystem::path& file) {
  LibraryLoadEffects effects(library_, state_, folder_ / "scat.txt");
  quenby::loadSettings(file, settings_, state_, effects);
}

const char* HeadlessStation::downloadFilesProblem() {
  if (!library_) return "DA Error!";
  DaCheckInfo daInfo;
  if (library_->checkDa(state_.daHandle, &daInfo, 1) != 0) return "DA Error!";
  ImageCheckInfo imageInfo;
  if (library_->checkImage(state_.imageHandle, &imageInfo, 1) != 0) return "Image Error!";
  return nullptr;
}

void HeadlessStation::serve(std::chrono::milliseconds slice) {
  bridge_.pump(slice);
  const auto now = std::chrono::steady_clock::now();
  while (now >= nextTick_) {
    ++state_.timeoutCounter;
    nextTick_ += TimerPeriod;
  }
}

bool HeadlessStation::allIdle() const {
  for (auto* worker : workers_)
    if (!worker->suspended()) return false;
  return true;
}

void HeadlessStation::stopAll() {
  state_.downloadStopWord.store(DownloadStopRequest);
  for (auto* worker : workers_) worker->stop();
  workers_.clear();
}

void HeadlessStation::closeAll() {
  for (auto* worker : workers_) worker->closeWindow();
  workers_.clear();
}

bool HeadlessStation::run(const std::vector<std::uint16_t>& ports, bool skipDownload, int rounds,
                          const std::atomic<bool>& interrupted) {
  state_.skipDownload.store(skipDownload);
  const auto portsFolder = folder_ / "ports";
  for (auto port : ports) views_.push_back(std::make_unique<ConsoleView>(port, out_));

  bool stopped = false;
  for (int round = 0; round < rounds && !stopped; ++round) {
    if (round == 0) {
      for (std::size_t i = 0; i < ports.size(); ++i) {
        auto worker = std::make_unique<PortWorker>(
            station_, ports[i], std::make_unique<PosixSerialPort>(portsFolder), *views_[i],
            bridge_, clock_);
        workers_.push_back(TFlashThread::start(std::move(worker), registry_));
      }
    } else {
      for (auto* worker : workers_) worker->resume();
    }
    // Wait for this round to end on every port, serving the workers' hand-offs meanwhile.
    do {
      serve(ServeSlice);
      if (interrupted.load()) {
        stopAll();
        stopped = true;
        break;
      }
    } while (!allIdle());
  }

  closeAll();
  registry_.waitAllEnded([this] { serve(10ms); }, ExitWait);

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
