// Names of the flash devices that the Download Agent reports in FLASH_INFO.
#pragma once

#include <cstdint>

namespace quenby::brom {

// The device's name; "UNKNOWN" for 0 and for any number the agent does not know.
const char* flashDeviceName(std::uint32_t device);

}  // namespace quenby::brom
