// The ROM image: a plain binary file whose bytes the layout's regions take one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace quenby::brom {

// Four times the largest flash device the Download Agent knows (32 Mbit).
inline constexpr std::size_t RomMaxImageBytes = 16 * 1024 * 1024;

using RomBytes = std::vector<std::uint8_t>;

struct RomParse {
  std::uint32_t result = 0;  // LoadDone or a load error (result_codes.h)
  std::shared_ptr<const RomBytes> bytes;
};

// Unreadable: LoadUnreadable; empty: LoadWrongKind; over RomMaxImageBytes: LoadCorrupt.
RomParse readRomImage(const std::filesystem::path& path);

}  // namespace quenby::brom
