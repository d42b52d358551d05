// Port enumeration: the COM<n> links of the ports folder that lead to a character device (a
// serial line), ascending. A regular file, a folder or a link that leads nowhere is no port.
#include <algorithm>
#include <system_error>

#include "brom/brom_library.h"
#include "brom/result_codes.h"
#include "engine/program_folder.h"

namespace quenby::brom {

int BromLibrary::enumeratePorts(std::uint16_t* ports, std::uint16_t& count) {
  const std::size_t capacity = count;
  count = 0;
  if (!ports) return EnumerateFailed;

  // No folder: nothing is wired. A folder that cannot be read is a failure, not "no ports".
  std::error_code ec;
  const auto status = std::filesystem::status(portsDir_, ec);
  if (status.type() == std::filesystem::file_type::not_found) return EnumerateNone;
  if (status.type() != std::filesystem::file_type::directory) return EnumerateFailed;
  std::filesystem::directory_iterator probe(portsDir_, ec);
  if (ec) return EnumerateFailed;

  std::vector<std::uint16_t> found = enumeratePortLinks(portsDir_);
  std::erase_if(found, [this](std::uint16_t port) {
    std::error_code ignored;
    return std::filesystem::status(portLinkPath(portsDir_, port), ignored).type() !=
           std::filesystem::file_type::character;
  });
  if (found.empty()) return EnumerateNone;
  const std::size_t n = std::min(found.size(), capacity);
  std::copy_n(found.begin(), n, ports);
  count = static_cast<std::uint16_t>(n);
  return EnumerateFound;
}

}  // namespace quenby::brom
