// The module's flash memory as the Download Agent writes it: erased bytes read 0xFF, and only the
// sectors that were written take memory, so that many modules with large flashes stay cheap. It
// keeps its contents for the simulator's life, like a real flash across power cycles.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace quenby::modsim {

// Smallest and largest flash a scenario may give a module.
inline constexpr std::uint32_t MinFlashSize = 65536;
inline constexpr std::uint32_t MaxFlashSize = 256u * 1024 * 1024;
// The unit in which the flash takes memory.
inline constexpr std::size_t FlashSectorSize = 4096;
inline constexpr std::uint8_t ErasedByte = 0xFF;

class SimulatedFlash {
 public:
  explicit SimulatedFlash(std::uint32_t size);

  std::uint32_t size() const { return size_; }

  // True when [address, address + length) lies within the flash.
  bool contains(std::uint64_t address, std::uint64_t length) const;

  // Writes bytes at address; false (and nothing written) when they do not fit.
  bool write(std::uint32_t address, std::string_view bytes);

  // Erases [address, address + length) (whole sectors): its bytes read 0xFF again.
  void erase(std::uint32_t address, std::uint32_t length);

  // The bytes of [address, address + length); an empty string when the range does not fit.
  std::string read(std::uint32_t address, std::uint32_t length) const;

  // CRC-32 of [address, address + length), read without copying the whole range.
  std::uint32_t crc32(std::uint32_t address, std::uint32_t length) const;

 private:
  using Sector = std::array<std::uint8_t, FlashSectorSize>;

  // The sector's bytes, or an erased sector's when it was never written.
  const Sector& sectorOrErased(std::uint32_t sector) const;

  std::uint32_t size_;
  std::map<std::uint32_t, std::unique_ptr<Sector>> sectors_;  // by sector number
};

}  // namespace quenby::modsim
