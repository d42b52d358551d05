// The station's port map: the links ports/COM<n> in its folder, read, written and removed one at
// a time. A link always leads to the adapter's stable by-path name, and one adapter has one COM.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/ports/serial_devices.h"

namespace quenby::ports {

// One ports/COM<n> entry and what it leads to.
struct PortLink {
  std::uint16_t com = 0;
  std::filesystem::path target;      // the link's text; empty when the entry is no link
  std::optional<CharDevice> device;  // the character device it leads to, if any
  std::string problem;               // why it is broken ("" when it leads to a serial device)
};

// Every COM<n> entry of the ports folder, ascending.
std::vector<PortLink> readPortLinks(const std::filesystem::path& portsDir, const DeviceTree& tree);

// The COM number of "COM<n>", "com<n>" or "<n>", n from 1 to 65535; nullopt otherwise.
std::optional<std::uint16_t> parseComNumber(const std::string& text);

// The adapter that DEVICE names: a by-path or by-id name, a path, or a kernel name ("ttyUSB3",
// "/dev/ttyUSB3"). `refusal` says why there is none usable for a port link.
std::optional<SerialAdapter> adapterNamed(const std::string& deviceArgument, const DeviceTree& tree,
                                          std::string& refusal);

// What a change of the port map did, or why it was refused.
struct Outcome {
  bool done = false;
  std::string message;  // one line, for the engineer
};

// Links COM<com> to the adapter's by-path entry (`byPathName`, or its stable name when empty).
// Refused when another COM leads to that adapter already; a COM<com> that leads elsewhere is
// replaced (the message names what it was).
Outcome assignPort(const std::filesystem::path& portsDir, std::uint16_t com,
                   const SerialAdapter& adapter, const DeviceTree& tree,
                   const std::string& byPathName = "");

// Removes the link COM<com>; refused when there is none or the entry is not a link.
Outcome removePort(const std::filesystem::path& portsDir, std::uint16_t com);

// "COM<n>".
std::string comName(std::uint16_t com);

}  // namespace quenby::ports
