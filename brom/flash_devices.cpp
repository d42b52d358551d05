#include "brom/flash_devices.h"

#include <array>

namespace quenby::brom {
namespace {

constexpr const char* Unknown = "UNKNOWN";

constexpr std::array<const char*, 6> Names = {
    Unknown,
    "QF25L004 (4 Mbit SPI NOR)",
    "QF25L008 (8 Mbit SPI NOR)",
    "QF25L016 (16 Mbit SPI NOR)",
    "QF25L032 (32 Mbit SPI NOR)",
    "QF29W800 (8 Mbit parallel NOR)",
};

}  // namespace

const char* flashDeviceName(std::uint32_t device) {
  return device < Names.size() ? Names[device] : Unknown;
}

}  // namespace quenby::brom
