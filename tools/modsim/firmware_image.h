// What the module learns from the firmware written into its flash: the version text that the
// image carries as "QVER:" + text + a zero byte, reported in $PMTK705 once the module runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/modsim/simulated_flash.h"

namespace quenby::modsim {

// The marker in front of the version text.
inline constexpr std::string_view VersionMarker = "QVER:";

// The text after the first marker in [address, address + length) of the flash, up to its zero
// byte. nullopt when there is no marker, or when the text is not usable in a sentence: longer
// than MaxVersionText, without its zero byte in the range, or holding a byte that is not
// printable ASCII, or "$" or "*".
std::optional<std::string> firmwareVersion(const SimulatedFlash& flash, std::uint32_t address,
                                           std::uint32_t length);

}  // namespace quenby::modsim
