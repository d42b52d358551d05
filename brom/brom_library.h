// Quenby's own boot-ROM download library: the DownloadLibrary the station calls, over the
// COM<n> links of a ports folder. Handles are checked on every call (an unknown or destroyed
// one is an error); several workers may download at once with the same two handles, while
// loads replace what the handles hold without disturbing downloads already running.
#pragma once

#include <cstdint>
#include <filesystem>
#include <shared_mutex>
#include <unordered_map>

#include "brom/library_objects.h"
#include "engine/download_library.h"

namespace quenby::brom {

class BromLibrary final : public DownloadLibrary {
 public:
  // The program's ports folder.
  BromLibrary();
  explicit BromLibrary(std::filesystem::path portsDir);

  int enumeratePorts(std::uint16_t* ports, std::uint16_t& count) override;

  int createDaHandle(DaHandle* handle) override;
  int createImageHandle(DlHandle* handle) override;

  int setDaChipValue(DaHandle da, std::uint32_t chipValue) override;
  std::uint32_t loadDaFile(DaHandle da, const std::string& path) override;

  int loadLayoutFile(DlHandle image, const std::string& scatPath) override;
  int setImageOption(DlHandle image, std::uint32_t option) override;
  std::uint32_t loadImageFile(DlHandle image, int entry, const std::string& path) override;
  int enableImageEntry(DlHandle image, int entry, bool enable) override;

  int checkDa(DaHandle da, DaCheckInfo* info, int flag) override;
  int checkImage(DlHandle image, ImageCheckInfo* info, int flag) override;

  std::uint32_t download(const PortRecord& port, const DaRecord& da, const ImageRecord& image,
                         const std::atomic<std::uint32_t>* stopWord,
                         DownloadReport* report) override;

  std::string flashDeviceName(std::uint32_t flashDevice) override;

  int unloadDa(DaHandle da) override;
  int unloadImageEntry(DlHandle image, int entry) override;
  int destroyDaHandle(DaHandle* handle) override;
  int destroyImageHandle(DlHandle* handle) override;

 private:
  // Handles are tokens, never addresses: a destroyed handle can never come back as a live one.
  using Token = std::uintptr_t;

  // Under the lock (shared to read, unique to change): the object of a handle, or null.
  AgentObject* agent(DaHandle handle);
  ImageObject* imageObject(DlHandle handle);

  std::filesystem::path portsDir_;
  mutable std::shared_mutex mutex_;
  std::unordered_map<Token, AgentObject> agents_;
  std::unordered_map<Token, ImageObject> images_;
};

}  // namespace quenby::brom
