#include "engine/library_load_effects.h"

namespace quenby {
namespace {

// What a load reports when there is no library to load into.
constexpr std::uint32_t NoLibraryLoadResult = 0x100;
constexpr std::uint32_t ImageOption = 256;
constexpr int ImageEntry = 0;

}  // namespace

std::uint32_t loadDownloadAgentFile(DownloadLibrary* library, RunState& state,
                                    const std::string& path, std::uint32_t chipValue) {
  if (!library) return NoLibraryLoadResult;
  library->setDaChipValue(state.daHandle, chipValue);
  return library->loadDaFile(state.daHandle, path);
}

std::uint32_t loadRomFile(DownloadLibrary* library, RunState& state, const std::string& path,
                          const std::filesystem::path& scatFile) {
  if (!library) return NoLibraryLoadResult;
  library->loadLayoutFile(state.imageHandle, scatFile.string());
  library->setImageOption(state.imageHandle, ImageOption);
  const std::uint32_t result = library->loadImageFile(state.imageHandle, ImageEntry, path);
  library->enableImageEntry(state.imageHandle, ImageEntry, true);
  return result;
}

}  // namespace quenby
