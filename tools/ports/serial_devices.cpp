// The serial adapters under /dev/serial, and what the kernel's device tree says of each.
#include "tools/ports/serial_devices.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <system_error>

namespace quenby::ports {
namespace fs = std::filesystem;
namespace {

// Pseudo-terminal slaves (/dev/pts/<n>) have the majors 136 to 143 and no entry in the kernel's
// device tree.
constexpr unsigned kFirstPtyMajor = 136;
constexpr unsigned kLastPtyMajor = 143;

bool isPty(const CharDevice& device) {
  const unsigned major = ::major(device.number);
  return major >= kFirstPtyMajor && major <= kLastPtyMajor;
}

// <sys>/dev/char/<major>:<minor>, the kernel's entry of a character device.
fs::path sysEntry(const CharDevice& device, const DeviceTree& tree) {
  return tree.sysDir / "dev" / "char" /
         (std::to_string(::major(device.number)) + ":" + std::to_string(::minor(device.number)));
}

// The last component of where a link in the device tree leads, "" when it is no link.
std::string linkLeaf(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

// udev gives one adapter two by-path names on newer systems ("...-usb-0:1:1.0-port0" and
// "...-usbv2-0:1:1.0-port0"); the shorter one is the long-standing form.
bool preferredFirst(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

const std::string& SerialAdapter::stableName() const {
  static const std::string none;
  return byPath.empty() ? none : byPath.front();
}

std::string SerialAdapter::kernelName() const {
  const fs::path& node = device.node;
  if (node.parent_path().filename() == "pts") return "pts/" + node.filename().string();
  return node.filename().string();
}

std::optional<CharDevice> charDeviceAt(const fs::path& path, std::string& problem) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    problem = errno == ENOENT ? "no such device" : std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISCHR(st.st_mode)) {
    problem = "not a character device";
    return std::nullopt;
  }
  std::error_code ec;
  fs::path node = fs::canonical(path, ec);
  if (ec) node = path;
  return CharDevice{node, st.st_rdev};
}

bool isSerialDevice(const CharDevice& device, const DeviceTree& tree) {
  if (isPty(device)) return true;
  const fs::path entry = sysEntry(device, tree);
  std::error_code ec;
  // A tty on a bus has a "device" link; virtual consoles, /dev/tty and /dev/ptmx have none.
  return linkLeaf(entry / "subsystem") == "tty" && fs::exists(entry / "device", ec);
}

std::string driverOf(const CharDevice& device, const DeviceTree& tree) {
  if (isPty(device)) return "pty";
  return linkLeaf(sysEntry(device, tree) / "device" / "driver");
}

std::string usbPathOfName(const std::string& byPathName) {
  // "-usb-0:" or "-usbv2-0:" and the like, then hub ports, ":", configuration.interface.
  for (std::size_t at = byPathName.find("-usb"); at != std::string::npos;
       at = byPathName.find("-usb", at + 1)) {
    const std::size_t dash = byPathName.find('-', at + 1);
    const std::size_t colon = byPathName.find(':', at);
    if (dash == std::string::npos || colon == std::string::npos || colon < dash) continue;
    return byPathName.substr(colon + 1);
  }
  return "";
}

std::vector<std::string> entryNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (!name.empty() && name.front() != '.') names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<SerialAdapter> findAdapters(const DeviceTree& tree) {
  std::map<dev_t, SerialAdapter> byNumber;
  const auto collect = [&](const fs::path& folder, bool isByPath) {
    for (const std::string& name : entryNames(folder)) {
      std::string problem;
      const auto device = charDeviceAt(folder / name, problem);
      if (!device) continue;
      SerialAdapter& adapter = byNumber[device->number];
      adapter.device = *device;
      (isByPath ? adapter.byPath : adapter.byId).push_back(name);
    }
  };
  collect(tree.byPathDir(), true);
  collect(tree.byIdDir(), false);

  std::vector<SerialAdapter> adapters;
  for (auto& [number, adapter] : byNumber) {
    std::sort(adapter.byPath.begin(), adapter.byPath.end(), preferredFirst);
    adapter.driver = driverOf(adapter.device, tree);
    if (!adapter.byPath.empty()) adapter.usbPath = usbPathOfName(adapter.byPath.front());
    adapters.push_back(std::move(adapter));
  }
  std::sort(adapters.begin(), adapters.end(), [](const SerialAdapter& a, const SerialAdapter& b) {
    if (a.byPath.empty() != b.byPath.empty()) return b.byPath.empty();
    if (!a.byPath.empty()) return a.stableName() < b.stableName();
    return a.device.node < b.device.node;
  });
  return adapters;
}

}  // namespace quenby::ports
