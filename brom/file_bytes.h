// Reading a whole input file with a size limit, so that a huge or endless file (a device, a
// pipe) never makes the library allocate without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace quenby::brom {

enum class FileRead { Read, Unreadable, TooLarge };

// Reads the regular file at path into bytes, at most maxBytes. Anything but a regular file
// (a folder, a device) is unreadable.
FileRead readFileBytes(const std::filesystem::path& path, std::size_t maxBytes,
                       std::vector<std::uint8_t>& bytes);

// Writes bytes to path, replacing it. False when it cannot be written completely.
bool writeFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace quenby::brom
