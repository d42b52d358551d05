#include "tools/demo/demo_files.h"

#include <algorithm>
#include <cstring>

#include "brom/da_file.h"

namespace quenby::demo {
namespace {

constexpr std::uint32_t ChipMt3329 = 3072;
constexpr std::uint32_t ChipMt3318 = 0x100800;
constexpr const char* AgentBanner = "Quenby demo Download Agent 1.0";
constexpr const char* VersionTag = "QVER:";

// Filler that looks like code: xorshift32 from a fixed seed, the same on every build.
void fill(std::vector<std::uint8_t>& bytes, std::uint32_t seed) {
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
}

void place(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::vector<std::uint8_t> demoAgentFile() {
  std::vector<std::uint8_t> payload(AgentPayloadBytes);
  fill(payload, 0x51A9E47u);
  place(payload, 0, std::string(AgentBanner) + '\0');
  const std::uint32_t chips[] = {ChipMt3329, ChipMt3318};
  return brom::buildDaFile(chips, payload);
}

brom::Layout demoLayout(std::size_t imageBytes) {
  const auto romBytes = static_cast<std::uint32_t>(imageBytes - ConfigRegionBytes);
  return brom::Layout{{
      {"ROM", 0, romBytes},
      {"CONFIG", romBytes, static_cast<std::uint32_t>(ConfigRegionBytes)},
  }};
}

std::vector<std::uint8_t> demoImage(std::size_t imageBytes, const std::string& version) {
  std::vector<std::uint8_t> image(imageBytes);
  fill(image, 0x3329u);
  place(image, VersionOffset, std::string(VersionTag) + version + '\0');
  return image;
}

}  // namespace quenby::demo
