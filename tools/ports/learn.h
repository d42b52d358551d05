// `quenby-ports learn`: the engineer plugs in the adapters of a fixture one slot after the other;
// each by-path entry that appears becomes the next slot's port link.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/ports/serial_devices.h"

namespace quenby::ports {

struct LearnOptions {
  std::filesystem::path portsDir;
  DeviceTree tree;
  std::uint16_t from = 1;
  int input = 0;              // Enter skips a slot, end of input (Ctrl-D) ends learning
  std::FILE* out = stdout;
  // udev makes an adapter's links one after the other (two by-path names, by-id, every port of
  // a multi-port adapter): what appears within this time after the first is one plug-in.
  std::chrono::milliseconds settle{400};
};

struct LearnedPort {
  std::uint16_t com = 0;
  std::string byPath;
  std::string device;
};

// Runs until the input ends; what was linked, in order. Throws std::system_error when the
// device folder cannot be watched.
std::vector<LearnedPort> learnPorts(const LearnOptions& options);

}  // namespace quenby::ports
