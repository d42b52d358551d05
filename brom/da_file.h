// The Download Agent file: a header naming the chip values the agent supports, then the agent's
// payload that goes to the module's boot ROM.
//
//   offset 0   magic "QDA1"
//          4   header length u16 (16 + 4 x chip count)
//          6   chip count u16 (1 to 16)
//          8   payload length u32
//         12   payload CRC-32 u32
//         16   chip values, u32 each
//   16 + 4n    payload
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace quenby::brom {

inline constexpr std::size_t DaHeaderFixedBytes = 16;
inline constexpr std::size_t DaMaxChips = 16;
// No agent of ours comes near this; the limit keeps a damaged header from sizing a buffer.
inline constexpr std::size_t DaMaxPayloadBytes = 1024 * 1024;
inline constexpr std::size_t DaMaxFileBytes =
    DaHeaderFixedBytes + 4 * DaMaxChips + DaMaxPayloadBytes;

struct DaFile {
  std::vector<std::uint32_t> chips;
  std::vector<std::uint8_t> payload;
  std::uint32_t payloadCrc = 0;

  bool supports(std::uint32_t chipValue) const;
};

struct DaParse {
  std::uint32_t result = 0;  // LoadDone or a load error (result_codes.h)
  std::shared_ptr<const DaFile> file;
};

// Checks and splits the file's bytes.
DaParse parseDaFile(std::span<const std::uint8_t> bytes);
// Reads and parses the file at path.
DaParse readDaFile(const std::filesystem::path& path);

// The file's bytes for chips and payload (at most DaMaxChips chips).
std::vector<std::uint8_t> buildDaFile(std::span<const std::uint32_t> chips,
                                      std::span<const std::uint8_t> payload);

}  // namespace quenby::brom
