#include "brom/crc.h"

#include <array>

namespace quenby::brom {
namespace {

constexpr std::uint16_t Crc16Polynomial = 0x1021;
constexpr std::uint32_t Crc32Polynomial = 0xEDB88320u;
constexpr std::size_t TableSize = 256;

constexpr std::array<std::uint16_t, TableSize> makeCrc16Table() {
  std::array<std::uint16_t, TableSize> table{};
  for (std::size_t i = 0; i < TableSize; ++i) {
    auto c = static_cast<std::uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit)
      c = static_cast<std::uint16_t>((c & 0x8000) ? (c << 1) ^ Crc16Polynomial : c << 1);
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, TableSize> makeCrc32Table() {
  std::array<std::uint32_t, TableSize> table{};
  for (std::size_t i = 0; i < TableSize; ++i) {
    auto c = static_cast<std::uint32_t>(i);
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ Crc32Polynomial : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr auto Crc16Table = makeCrc16Table();
constexpr auto Crc32Table = makeCrc32Table();

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  for (std::uint8_t b : bytes)
    crc = static_cast<std::uint16_t>((crc << 8) ^ Crc16Table[((crc >> 8) ^ b) & 0xFF]);
  return crc;
}

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous) {
  std::uint32_t c = previous ^ 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) c = (c >> 8) ^ Crc32Table[(c ^ b) & 0xFF];
  return c ^ 0xFFFFFFFFu;
}

}  // namespace quenby::brom
