#include "tools/modsim/simulated_flash.h"

#include <algorithm>

#include "tools/modsim/boot_frames.h"

namespace quenby::modsim {
namespace {

// A sector that was never written, for reading.
const std::array<std::uint8_t, FlashSectorSize>& erasedSector() {
  static const auto erased = [] {
    std::array<std::uint8_t, FlashSectorSize> s;
    s.fill(ErasedByte);
    return s;
  }();
  return erased;
}

// Calls visit(sector, offset, n) for the consecutive pieces of the range, each within one sector.
template <typename Visit>
void forEachPiece(std::uint32_t address, std::uint32_t length, Visit visit) {
  while (length > 0) {
    const std::uint32_t sector = address / FlashSectorSize;
    const std::uint32_t offset = address % FlashSectorSize;
    const std::uint32_t n = std::min<std::uint32_t>(length, FlashSectorSize - offset);
    visit(sector, offset, n);
    address += n;
    length -= n;
  }
}

}  // namespace

SimulatedFlash::SimulatedFlash(std::uint32_t size) : size_(size) {}

bool SimulatedFlash::contains(std::uint64_t address, std::uint64_t length) const {
  return address <= size_ && length <= size_ - address;
}

const SimulatedFlash::Sector& SimulatedFlash::sectorOrErased(std::uint32_t sector) const {
  const auto it = sectors_.find(sector);
  return it != sectors_.end() ? *it->second : erasedSector();
}

bool SimulatedFlash::write(std::uint32_t address, std::string_view bytes) {
  if (!contains(address, bytes.size())) return false;
  forEachPiece(address, static_cast<std::uint32_t>(bytes.size()),
               [&](std::uint32_t sector, std::uint32_t offset, std::uint32_t n) {
                 std::unique_ptr<Sector>& s = sectors_[sector];
                 if (!s) s = std::make_unique<Sector>(erasedSector());
                 std::copy_n(bytes.data(), n, s->begin() + offset);
                 bytes.remove_prefix(n);
               });
  return true;
}

void SimulatedFlash::erase(std::uint32_t address, std::uint32_t length) {
  if (!contains(address, length) || length == 0) return;
  const std::uint32_t first = address / FlashSectorSize;
  const std::uint32_t last = (address + length - 1) / FlashSectorSize;
  sectors_.erase(sectors_.lower_bound(first), sectors_.upper_bound(last));
}

std::string SimulatedFlash::read(std::uint32_t address, std::uint32_t length) const {
  std::string out;
  if (!contains(address, length)) return out;
  out.reserve(length);
  forEachPiece(address, length, [&](std::uint32_t sector, std::uint32_t offset, std::uint32_t n) {
    const Sector& s = sectorOrErased(sector);
    out.append(reinterpret_cast<const char*>(s.data()) + offset, n);
  });
  return out;
}

std::uint32_t SimulatedFlash::crc32(std::uint32_t address, std::uint32_t length) const {
  Crc32 crc;
  if (!contains(address, length)) return crc.value();
  forEachPiece(address, length, [&](std::uint32_t sector, std::uint32_t offset, std::uint32_t n) {
    const Sector& s = sectorOrErased(sector);
    crc.update(std::string_view(reinterpret_cast<const char*>(s.data()) + offset, n));
  });
  return crc.value();
}

}  // namespace quenby::modsim
