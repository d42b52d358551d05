#include "brom/brom_library.h"

#include <atomic>
#include <mutex>

#include "brom/brom_serial.h"
#include "brom/download_results.h"
#include "brom/flash_devices.h"
#include "brom/host_session.h"
#include "brom/result_codes.h"
#include "brom/session_link.h"
#include "engine/program_folder.h"
#include "settings/test_settings.h"

namespace quenby::brom {
namespace {

// The only image entry there is.
constexpr int ImageEntry = 0;
constexpr std::uint32_t HighestSpeedIndex = 10;

// Shared by every library in the process, so that one library never takes another's handle.
std::atomic<std::uintptr_t> nextToken{1};

template <typename Handle>
Handle newHandle(std::uintptr_t& token) {
  token = nextToken.fetch_add(1);
  return reinterpret_cast<Handle>(token);
}

template <typename Handle>
std::uintptr_t tokenOf(Handle handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

template <typename Map>
auto* find(Map& map, std::uintptr_t token) {
  auto it = map.find(token);
  return it == map.end() ? nullptr : &it->second;
}

}  // namespace

BromLibrary::BromLibrary() : BromLibrary(defaultPortsFolder()) {}

BromLibrary::BromLibrary(std::filesystem::path portsDir) : portsDir_(std::move(portsDir)) {}

AgentObject* BromLibrary::agent(DaHandle handle) { return find(agents_, tokenOf(handle)); }

ImageObject* BromLibrary::imageObject(DlHandle handle) { return find(images_, tokenOf(handle)); }

// ---- Handles ------------------------------------------------------------------------------

int BromLibrary::createDaHandle(DaHandle* handle) {
  if (!handle) return OpInvalidArgument;
  std::unique_lock lock(mutex_);
  Token token = 0;
  *handle = newHandle<DaHandle>(token);
  agents_.emplace(token, AgentObject{});
  return OpDone;
}

int BromLibrary::createImageHandle(DlHandle* handle) {
  if (!handle) return OpInvalidArgument;
  std::unique_lock lock(mutex_);
  Token token = 0;
  *handle = newHandle<DlHandle>(token);
  images_.emplace(token, ImageObject{});
  return OpDone;
}

int BromLibrary::destroyDaHandle(DaHandle* handle) {
  if (!handle) return OpInvalidArgument;
  std::unique_lock lock(mutex_);
  if (agents_.erase(tokenOf(*handle)) == 0) return OpUnknownHandle;
  *handle = nullptr;
  return OpDone;
}

int BromLibrary::destroyImageHandle(DlHandle* handle) {
  if (!handle) return OpInvalidArgument;
  std::unique_lock lock(mutex_);
  if (images_.erase(tokenOf(*handle)) == 0) return OpUnknownHandle;
  *handle = nullptr;
  return OpDone;
}

// ---- Download Agent -----------------------------------------------------------------------

int BromLibrary::setDaChipValue(DaHandle da, std::uint32_t chipValue) {
  std::unique_lock lock(mutex_);
  AgentObject* object = agent(da);
  if (!object) return OpUnknownHandle;
  object->chipValue = chipValue;
  return OpDone;
}

std::uint32_t BromLibrary::loadDaFile(DaHandle da, const std::string& path) {
  {
    std::shared_lock lock(mutex_);
    if (!agent(da)) return LoadUnknownHandle;
  }
  // Read without the lock: downloads and other handles go on meanwhile.
  DaParse parsed = readDaFile(path);
  std::unique_lock lock(mutex_);
  AgentObject* object = agent(da);
  if (!object) return LoadUnknownHandle;
  // A failed load leaves no agent: the check then tells the operator.
  object->file = std::move(parsed.file);
  return parsed.result;
}

int BromLibrary::checkDa(DaHandle da, DaCheckInfo* info, int /*flag*/) {
  std::shared_lock lock(mutex_);
  const AgentObject* object = agent(da);
  if (!object) return OpUnknownHandle;
  return checkAgentObject(*object, info);
}

int BromLibrary::unloadDa(DaHandle da) {
  std::unique_lock lock(mutex_);
  AgentObject* object = agent(da);
  if (!object) return OpUnknownHandle;
  object->file.reset();
  return OpDone;
}

// ---- Image --------------------------------------------------------------------------------

int BromLibrary::loadLayoutFile(DlHandle image, const std::string& scatPath) {
  {
    std::shared_lock lock(mutex_);
    if (!imageObject(image)) return static_cast<int>(LoadUnknownHandle);
  }
  LayoutParse parsed = readLayoutFile(scatPath);
  std::unique_lock lock(mutex_);
  ImageObject* object = imageObject(image);
  if (!object) return static_cast<int>(LoadUnknownHandle);
  object->layout = std::move(parsed.layout);
  return static_cast<int>(parsed.result);
}

int BromLibrary::setImageOption(DlHandle image, std::uint32_t option) {
  std::unique_lock lock(mutex_);
  ImageObject* object = imageObject(image);
  if (!object) return OpUnknownHandle;
  object->option = option;
  return OpDone;
}

std::uint32_t BromLibrary::loadImageFile(DlHandle image, int entry, const std::string& path) {
  {
    std::shared_lock lock(mutex_);
    if (!imageObject(image)) return LoadUnknownHandle;
  }
  if (entry != ImageEntry) return LoadInvalidArgument;
  RomParse parsed = readRomImage(path);
  std::unique_lock lock(mutex_);
  ImageObject* object = imageObject(image);
  if (!object) return LoadUnknownHandle;
  object->image = std::move(parsed.bytes);
  return parsed.result;
}

int BromLibrary::enableImageEntry(DlHandle image, int entry, bool enable) {
  std::unique_lock lock(mutex_);
  ImageObject* object = imageObject(image);
  if (!object) return OpUnknownHandle;
  if (entry != ImageEntry) return OpInvalidArgument;
  object->enabled = enable;
  return OpDone;
}

int BromLibrary::checkImage(DlHandle image, ImageCheckInfo* info, int /*flag*/) {
  std::shared_lock lock(mutex_);
  const ImageObject* object = imageObject(image);
  if (!object) return OpUnknownHandle;
  return checkImageObject(*object, info);
}

int BromLibrary::unloadImageEntry(DlHandle image, int entry) {
  std::unique_lock lock(mutex_);
  ImageObject* object = imageObject(image);
  if (!object) return OpUnknownHandle;
  if (entry != ImageEntry) return OpInvalidArgument;
  object->image.reset();
  object->enabled = false;
  return OpDone;
}

// ---- Download -----------------------------------------------------------------------------

std::uint32_t BromLibrary::download(const PortRecord& port, const DaRecord& da,
                                    const ImageRecord& image,
                                    const std::atomic<std::uint32_t>* stopWord,
                                    DownloadReport* report) {
  if (report) *report = {};
  if (!stopWord || !report) return result::InvalidArguments;
  const int baud = port.baudIndex <= HighestSpeedIndex
                       ? downloadBaudForIndex(static_cast<int>(port.baudIndex))
                       : 0;
  if (baud == 0) return result::InvalidArguments;

  DownloadPlan plan;
  plan.baud = baud;
  plan.agentPhase = {da.onStart, da.startUser, da.onProgress, da.progressUser};
  plan.imagePhase = {image.onStart, image.startUser, image.onProgress, image.progressUser};
  {
    // What the handles hold now is what this download writes.
    std::shared_lock lock(mutex_);
    const AgentObject* agentObject = agent(da.daHandle);
    if (!agentObject || !agentObject->file) return result::DaHandleError;
    const ImageObject* imageObj = imageObject(image.imageHandle);
    if (!imageObj || checkImageObject(*imageObj, nullptr) != OpDone)
      return result::ImageHandleError;
    plan.chipValue = agentObject->chipValue;
    plan.agent = agentObject->file;
    plan.layout = imageObj->layout;
    plan.image = imageObj->image;
  }

  BromSerial serial;
  switch (serial.open(portLinkPath(portsDir_, port.comPort), BootBaud)) {
    case BromSerial::Open::Opened:
      break;
    case BromSerial::Open::CannotOpen:
      return result::CannotOpenPort;
    case BromSerial::Open::LineSettingsRefused:
      return result::LineSettingsRefused;
  }
  // The port closes when `serial` goes: the worker opens it again for the tests.
  SessionLink link(serial, *stopWord);
  return runDownloadSession(link, plan, *report);
}

std::string BromLibrary::flashDeviceName(std::uint32_t flashDevice) {
  return brom::flashDeviceName(flashDevice);
}

}  // namespace quenby::brom
