// The demo files: a Download Agent for both chip values the station sets, a two-region layout,
// and a ROM image that carries a firmware version text in its first region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "brom/scatter_file.h"

namespace quenby::demo {

inline constexpr std::size_t DefaultImageBytes = 256 * 1024;
// The second region (CONFIG) takes the image's last 4 KiB; the first needs room for the version.
inline constexpr std::size_t ConfigRegionBytes = 4096;
inline constexpr std::size_t MinImageBytes = 2 * ConfigRegionBytes;
inline constexpr std::size_t VersionOffset = 0x200;
inline constexpr const char* DefaultVersion = "QNB-DEMO_2.1,0042,QZ3329,SDK1.3";
inline constexpr std::size_t AgentPayloadBytes = 6 * 1024;

std::vector<std::uint8_t> demoAgentFile();
brom::Layout demoLayout(std::size_t imageBytes);
// imageBytes of filler with "QVER:" + version + a zero byte at VersionOffset.
std::vector<std::uint8_t> demoImage(std::size_t imageBytes, const std::string& version);

}  // namespace quenby::demo
