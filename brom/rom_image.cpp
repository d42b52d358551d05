#include "brom/rom_image.h"

#include "brom/file_bytes.h"
#include "brom/result_codes.h"

namespace quenby::brom {

RomParse readRomImage(const std::filesystem::path& path) {
  auto bytes = std::make_shared<RomBytes>();
  switch (readFileBytes(path, RomMaxImageBytes, *bytes)) {
    case FileRead::Read:
      if (bytes->empty()) return {LoadWrongKind, nullptr};
      return {LoadDone, std::move(bytes)};
    case FileRead::TooLarge:
      return {LoadCorrupt, nullptr};
    case FileRead::Unreadable:
      break;
  }
  return {LoadUnreadable, nullptr};
}

}  // namespace quenby::brom
