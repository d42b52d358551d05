// The two checksums of the download protocol: CRC-16/CCITT-FALSE over every frame, and the
// common reflected CRC-32 over the Download Agent's payload and each image region.
#pragma once

#include <cstdint>
#include <span>

namespace quenby::brom {

inline constexpr std::uint16_t Crc16Initial = 0xFFFF;

// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no final xor). Chains: passing the
// result of one piece as `crc` of the next gives the check of the pieces together.
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = Crc16Initial);

// CRC-32 (reflected polynomial 0xEDB88320, initial and final 0xFFFFFFFF). Chains the same way:
// crc32(b, crc32(a)) == crc32(a followed by b); 0 starts a new check.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous = 0);

}  // namespace quenby::brom
