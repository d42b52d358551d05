#include "engine/station_control.h"

#include <algorithm>

#include "engine/library_load_effects.h"
#include "engine/port_worker.h"
#include "engine/posix_serial_port.h"

namespace quenby {
namespace {

// How long the destructor waits for workers that were not waited for by shutdown().
constexpr auto DestructorWait = std::chrono::seconds(30);

}  // namespace

StationControl::StationControl(std::filesystem::path folder, DownloadLibrary* library,
                               UiBridge& bridge, SerialFactory makeSerial)
    : folder_(std::move(folder)),
      library_(library),
      bridge_(bridge),
      makeSerial_(std::move(makeSerial)),
      log_(folder_, state_.logLock),
      station_{settings_, state_, library_, {}, log_},
      clock_(state_.timeoutCounter) {
  if (!makeSerial_) {
    makeSerial_ = [portsFolder = folder_ / "ports"] {
      return std::make_unique<PosixSerialPort>(portsFolder);
    };
  }
  if (library_) {
    library_->createDaHandle(&state_.daHandle);
    library_->createImageHandle(&state_.imageHandle);
  }
}

StationControl::~StationControl() {
  // A shell that did not wait still has its hand-offs served inline by nobody: workers that end
  // now may only be waiting on their own sleeps and reads, which the close ends.
  shutdown({}, DestructorWait);
}

void StationControl::loadSettings(const std::filesystem::path& file,
                                  SettingsLoadEffects& effects) {
  quenby::loadSettings(file, settings_, state_, effects);
}

void StationControl::loadSettings(const std::filesystem::path& file,
                                  const std::function<void(const std::string& notice)>& tell) {
  LibraryLoadEffects effects(library_, state_, scatFile(), tell);
  loadSettings(file, effects);
}

void StationControl::saveSettings(const std::filesystem::path& file) const {
  quenby::saveSettings(file, settings_, state_);
}

void StationControl::chooseDownloadAgent(const std::string& path, std::uint32_t chipValue) {
  settings_.flashDownloadDaPath = path;
  if (libraryLoadSucceeded(loadDownloadAgentFile(library_, state_, path, chipValue)))
    state_.daLoaded = true;
}

void StationControl::chooseRom(const std::string& path) {
  settings_.flashDownloadRomPath = path;
  if (libraryLoadSucceeded(loadRomFile(library_, state_, path, scatFile())))
    state_.romLoaded = true;
}

const char* StationControl::downloadFilesProblem() {
  if (!library_) return "DA Error!";
  DaCheckInfo daInfo;
  if (library_->checkDa(state_.daHandle, &daInfo, 1) != 0) return "DA Error!";
  ImageCheckInfo imageInfo;
  if (library_->checkImage(state_.imageHandle, &imageInfo, 1) != 0) return "Image Error!";
  return nullptr;
}

void StationControl::stopAll() {
  for (auto* port : ports_) port->stop();
}

bool StationControl::allIdle() const {
  return std::all_of(ports_.begin(), ports_.end(), [](const PortControl* p) { return p->idle(); });
}

bool StationControl::shutdown(const std::function<void()>& pump,
                              std::chrono::milliseconds limit) {
  if (shutDown_) return allEnded_;
  shutDown_ = true;
  for (auto* port : ports_) port->close();
  allEnded_ = registry_.waitAllEnded(pump, limit);
  // A worker still alive may be inside the library: its objects stay as they are.
  if (allEnded_) releaseLibrary();
  return allEnded_;
}

void StationControl::releaseLibrary() {
  if (!library_) return;
  if (state_.daLoaded) library_->unloadDa(state_.daHandle);
  if (state_.romLoaded) library_->unloadImageEntry(state_.imageHandle, 0);
  library_->destroyDaHandle(&state_.daHandle);
  library_->destroyImageHandle(&state_.imageHandle);
}

void StationControl::attach(PortControl* port) { ports_.push_back(port); }

void StationControl::detach(PortControl* port) { std::erase(ports_, port); }

// ---- PortControl ------------------------------------------------------------------------------

PortControl::PortControl(StationControl& station, std::uint16_t port, PortView& view)
    : station_(station), port_(port), view_(view) {
  station_.attach(this);
}

PortControl::~PortControl() {
  close();
  station_.detach(this);
}

void PortControl::startWorker() {
  if (!worker_) {
    auto worker = std::make_unique<PortWorker>(station_.station_, port_, station_.makeSerial(),
                                               view_, station_.bridge_, station_.clock_);
    worker_ = TFlashThread::start(std::move(worker), station_.registry_);
  } else if (worker_->suspended()) {
    worker_->resume();
  }
}

void PortControl::stop() {
  if (!worker_) return;
  worker_->stop();
  worker_ = nullptr;
}

void PortControl::close() {
  if (!worker_) return;
  worker_->closeWindow();
  worker_ = nullptr;
}

}  // namespace quenby
