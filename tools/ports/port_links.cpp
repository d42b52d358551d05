// Reading and changing the ports/COM<n> links of a station folder.
#include "tools/ports/port_links.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "engine/program_folder.h"

namespace quenby::ports {
namespace fs = std::filesystem;
namespace {

// The port link that leads to the device, if any other than `except`.
std::optional<std::uint16_t> comOfDevice(const std::vector<PortLink>& links, dev_t number,
                                         std::uint16_t except) {
  for (const PortLink& link : links)
    if (link.com != except && link.device && link.device->number == number) return link.com;
  return std::nullopt;
}

// Where DEVICE points in the tree: a path as given, else the first of by-path, by-id and the
// device folder that has an entry of that name.
fs::path pathOfArgument(const std::string& argument, const DeviceTree& tree) {
  if (argument.find('/') != std::string::npos) return argument;
  for (const fs::path& folder : {tree.byPathDir(), tree.byIdDir(), tree.devDir}) {
    std::error_code ec;
    if (fs::is_symlink(folder / argument, ec) || fs::exists(folder / argument, ec))
      return folder / argument;
  }
  return tree.devDir / argument;
}

// The by-path name of `path` when the path is an entry of the by-path folder itself.
std::string byPathEntryName(const fs::path& path, const DeviceTree& tree) {
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(path, ec).parent_path(), ec);
  const fs::path byPath = fs::weakly_canonical(fs::absolute(tree.byPathDir(), ec), ec);
  return !ec && folder == byPath ? path.filename().string() : "";
}

std::string errnoText() { return std::strerror(errno); }

}  // namespace

std::string comName(std::uint16_t com) { return "COM" + std::to_string(com); }

std::optional<std::uint16_t> parseComNumber(const std::string& text) {
  std::string name = text;
  if (name.size() >= 3 && std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
      std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
      std::tolower(static_cast<unsigned char>(name[2])) == 'm')
    name = name.substr(3);
  return portNumberOfLinkName("COM" + name);
}

std::vector<PortLink> readPortLinks(const fs::path& portsDir, const DeviceTree& tree) {
  std::vector<PortLink> links;
  for (std::uint16_t com : enumeratePortLinks(portsDir)) {
    PortLink link;
    link.com = com;
    const fs::path entry = portLinkPath(portsDir, com);
    std::error_code ec;
    link.target = fs::read_symlink(entry, ec);
    if (ec) {
      link.problem = "not a link";
    } else if ((link.device = charDeviceAt(entry, link.problem)) &&
               !isSerialDevice(*link.device, tree)) {
      link.problem = "not a serial device";
    }
    links.push_back(std::move(link));
  }
  return links;
}

std::optional<SerialAdapter> adapterNamed(const std::string& argument, const DeviceTree& tree,
                                          std::string& refusal) {
  const fs::path path = pathOfArgument(argument, tree);
  std::string problem;
  const auto device = charDeviceAt(path, problem);
  if (!device) {
    refusal = argument + ": " + problem + " (looked for " + path.string() + ")";
    return std::nullopt;
  }
  if (!isSerialDevice(*device, tree)) {
    refusal = argument + " is not a serial device (" + device->node.string() + ")";
    return std::nullopt;
  }
  for (SerialAdapter& adapter : findAdapters(tree)) {
    if (adapter.device.number != device->number) continue;
    if (adapter.byPath.empty()) break;
    const std::string named = byPathEntryName(path, tree);
    if (!named.empty()) {
      // The engineer named one by-path entry of the adapter: that one first.
      auto& names = adapter.byPath;
      std::rotate(names.begin(), std::find(names.begin(), names.end(), named), names.end());
    }
    return adapter;
  }
  refusal = argument + " (" + device->node.string() + ") has no name in " +
            tree.byPathDir().string() +
            ", so it could be another device after the next start; a port link must lead to a "
            "by-path name";
  return std::nullopt;
}

Outcome assignPort(const fs::path& portsDir, std::uint16_t com, const SerialAdapter& adapter,
                   const DeviceTree& tree, const std::string& byPathName) {
  const std::string name = byPathName.empty() ? adapter.stableName() : byPathName;
  if (name.empty())
    return {false, adapter.kernelName() + " has no name in " + tree.byPathDir().string()};
  const std::vector<PortLink> links = readPortLinks(portsDir, tree);
  if (auto other = comOfDevice(links, adapter.device.number, com))
    return {false, name + " is " + comName(*other) + " already; one adapter has one port number"
                   " (quenby-ports remove " + comName(*other) + " first)"};

  const fs::path target = fs::absolute(tree.byPathDir()) / name;
  const fs::path link = portLinkPath(portsDir, com);
  std::error_code ec;
  fs::path before;
  if (fs::is_symlink(link, ec)) before = fs::read_symlink(link, ec);
  else if (fs::exists(link, ec)) return {false, link.string() + " is not a link; it is left alone"};
  if (before == target)
    return {true, comName(com) + " -> " + name + " (" + adapter.kernelName() + "), as it was"};

  fs::create_directories(portsDir, ec);
  // A new link under a temporary name, then renamed over the old one: the station never sees a
  // port without its link.
  const fs::path temporary = portsDir / ("." + comName(com) + ".new");
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0 ||
      ::rename(temporary.c_str(), link.c_str()) != 0) {
    const std::string why = errnoText();
    ::unlink(temporary.c_str());
    return {false, "cannot write " + link.string() + ": " + why};
  }
  std::string message = comName(com) + " -> " + name + " (" + adapter.kernelName() + ")";
  if (!before.empty()) message += ", was " + before.string();
  return {true, message};
}

Outcome removePort(const fs::path& portsDir, std::uint16_t com) {
  const fs::path link = portLinkPath(portsDir, com);
  std::error_code ec;
  if (!fs::is_symlink(link, ec)) {
    if (fs::exists(link, ec)) return {false, link.string() + " is not a link; it is left alone"};
    return {false, comName(com) + " has no link in " + portsDir.string()};
  }
  const fs::path before = fs::read_symlink(link, ec);
  if (::unlink(link.c_str()) != 0)
    return {false, "cannot remove " + link.string() + ": " + errnoText()};
  return {true, comName(com) + " removed (was " + before.string() + ")"};
}

}  // namespace quenby::ports
