// The serial adapters the machine sees: the entries of <dev>/serial/by-path and <dev>/serial/by-id,
// grouped by the device they lead to, with the kernel's name, driver and USB path of each.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quenby::ports {

// Where the device nodes and the kernel's device tree are: /dev and /sys on a line PC, a
// temporary tree of pseudo-terminals and links in tests.
struct DeviceTree {
  std::filesystem::path devDir = "/dev";
  std::filesystem::path sysDir = "/sys";

  std::filesystem::path byPathDir() const { return devDir / "serial" / "by-path"; }
  std::filesystem::path byIdDir() const { return devDir / "serial" / "by-id"; }
};

// A character device reached through a path, or why the path leads to none.
struct CharDevice {
  std::filesystem::path node;  // the path with every link followed
  dev_t number = 0;
};

// One adapter (one serial device node), named by every by-path and by-id entry that leads to it.
struct SerialAdapter {
  CharDevice device;
  std::vector<std::string> byPath;  // names in by-path, the preferred one first
  std::vector<std::string> byId;    // names in by-id
  std::string driver;               // the kernel driver, "" when unknown
  std::string usbPath;              // hub ports and interface, "" when not on USB

  // The by-path name a port link should lead to ("" when the adapter has none).
  const std::string& stableName() const;
  // The kernel's name of the device node: "ttyUSB3", "pts/4".
  std::string kernelName() const;
};

// Follows `path` to a character device; on failure, `problem` says why ("no such device", "not a
// character device", ...).
std::optional<CharDevice> charDeviceAt(const std::filesystem::path& path, std::string& problem);

// True for a character device of a serial line: a tty that the kernel has on a bus (a UART, a USB
// adapter) or a pseudo-terminal. Consoles, /dev/tty and other character devices are not.
bool isSerialDevice(const CharDevice& device, const DeviceTree& tree);

// The kernel driver of the device, e.g. "ftdi_sio", "cdc_acm"; "pty" for a pseudo-terminal.
std::string driverOf(const CharDevice& device, const DeviceTree& tree);

// The USB part of a by-path name: "1.2:1.0-port0" of "pci-0000:00:14.0-usb-0:1.2:1.0-port0".
std::string usbPathOfName(const std::string& byPathName);

// Every adapter under tree.devDir/serial, ordered by its stable name (adapters found only in
// by-id last, by their device node). Entries that lead to no character device are left out.
std::vector<SerialAdapter> findAdapters(const DeviceTree& tree);

// The entry names of a folder ("" entries and dot files left out), sorted; empty when missing.
std::vector<std::string> entryNames(const std::filesystem::path& folder);

}  // namespace quenby::ports
