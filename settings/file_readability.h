// Whether a settings file that is there can be read at all, and why not.
#pragma once

#include <filesystem>
#include <string>

namespace quenby {

// Why the file, which is there, cannot be read (a folder, no read permission, a link that leads
// nowhere or in a circle, not a regular file): the system's reason. Empty when it can be read or
// is not there at all (a first start).
std::string unreadableReason(const std::filesystem::path& file);

}  // namespace quenby
