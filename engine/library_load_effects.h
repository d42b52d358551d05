// The settings load's hand-over of saved Download Agent and ROM paths to the download library:
// the same library steps as choosing the files from the File menu (except the chip value, which
// a load always sets to 3072).
#pragma once

#include <filesystem>

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

// Load effects for a station that shows nothing of the loaded values (the headless runner);
// the main window extends it with its menus and status bar.
class LibraryLoadEffects : public SettingsLoadEffects {
 public:
  LibraryLoadEffects(DownloadLibrary* library, RunState& state, std::filesystem::path scatFile)
      : library_(library), state_(state), scatFile_(std::move(scatFile)) {}

  std::uint32_t loadDownloadAgent(const std::string& path, std::uint32_t chipValue) override {
    return loadDownloadAgentFile(library_, state_, path, chipValue);
  }
  std::uint32_t loadRom(const std::string& path) override {
    return loadRomFile(library_, state_, path, scatFile_);
  }

 private:
  DownloadLibrary* library_;
  RunState& state_;
  std::filesystem::path scatFile_;
};

}  // namespace quenby
