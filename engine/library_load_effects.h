// The settings load's hand-over of saved Download Agent and ROM paths to the download library:
// the same library steps as choosing the files from the File menu (except the chip value, which
// a load always sets to 3072).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "engine/download_library.h"
#include "settings/run_state.h"
#include "settings/settings_file.h"

namespace quenby {

// The library steps of choosing a Download Agent file: chip value, then load. Returns the load's
// result (bits 8 to 15 zero = loaded); no library gives a failed load.
std::uint32_t loadDownloadAgentFile(DownloadLibrary* library, RunState& state,
                                    const std::string& path, std::uint32_t chipValue);
// The library steps of choosing a ROM file: layout file scat.txt, image option 256, image as
// entry 0, entry 0 enabled. Returns the image load's result.
std::uint32_t loadRomFile(DownloadLibrary* library, RunState& state, const std::string& path,
                          const std::filesystem::path& scatFile);

// Load effects for a station that shows nothing of the loaded values (the headless runner): the
// load's notices go to `tell` as they come. The main window extends it with its menus and status
// bar.
class LibraryLoadEffects : public SettingsLoadEffects {
 public:
  using Tell = std::function<void(const std::string& notice)>;

  LibraryLoadEffects(DownloadLibrary* library, RunState& state, std::filesystem::path scatFile,
                     Tell tell = {})
      : library_(library), state_(state), scatFile_(std::move(scatFile)), tell_(std::move(tell)) {}

  std::uint32_t loadDownloadAgent(const std::string& path, std::uint32_t chipValue) override {
    return loadDownloadAgentFile(library_, state_, path, chipValue);
  }
  std::uint32_t loadRom(const std::string& path) override {
    return loadRomFile(library_, state_, path, scatFile_);
  }
  void notice(const std::string& text) override {
    if (tell_) tell_(text);
  }

 private:
  DownloadLibrary* library_;
  RunState& state_;
  std::filesystem::path scatFile_;
  Tell tell_;
};

}  // namespace quenby
