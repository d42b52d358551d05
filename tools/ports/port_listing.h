// What `quenby-ports list` prints: the adapters with their COM numbers, then the port links that
// lead to no adapter listed (broken ones, and links to devices without a stable name).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/ports/port_links.h"
#include "tools/ports/serial_devices.h"

namespace quenby::ports {

std::string portListing(const std::vector<SerialAdapter>& adapters,
                        const std::vector<PortLink>& links, const DeviceTree& tree,
                        const std::filesystem::path& portsDir);

}  // namespace quenby::ports
