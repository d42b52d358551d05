#include "brom/da_file.h"

#include <algorithm>
#include <cstring>

#include "brom/byte_order.h"
#include "brom/crc.h"
#include "brom/file_bytes.h"
#include "brom/result_codes.h"

namespace quenby::brom {
namespace {

constexpr char Magic[4] = {'Q', 'D', 'A', '1'};
constexpr std::size_t HeaderLengthOffset = 4;
constexpr std::size_t ChipCountOffset = 6;
constexpr std::size_t PayloadLengthOffset = 8;
constexpr std::size_t PayloadCrcOffset = 12;
constexpr std::size_t ChipValueBytes = 4;

DaParse failed(std::uint32_t result) { return DaParse{result, nullptr}; }

}  // namespace

bool DaFile::supports(std::uint32_t chipValue) const {
  return std::find(chips.begin(), chips.end(), chipValue) != chips.end();
}

DaParse parseDaFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < DaHeaderFixedBytes || std::memcmp(bytes.data(), Magic, sizeof Magic) != 0)
    return failed(LoadWrongKind);

  const std::size_t headerLength = getU16(bytes.data() + HeaderLengthOffset);
  const std::size_t chipCount = getU16(bytes.data() + ChipCountOffset);
  const std::size_t payloadLength = getU32(bytes.data() + PayloadLengthOffset);
  const std::uint32_t payloadCrc = getU32(bytes.data() + PayloadCrcOffset);

  if (chipCount < 1 || chipCount > DaMaxChips) return failed(LoadCorrupt);
  if (headerLength != DaHeaderFixedBytes + ChipValueBytes * chipCount) return failed(LoadCorrupt);
  // An agent without code is no agent; the length must account for the file exactly.
  if (payloadLength == 0 || payloadLength > DaMaxPayloadBytes) return failed(LoadCorrupt);
  if (bytes.size() != headerLength + payloadLength) return failed(LoadCorrupt);

  const auto payload = bytes.subspan(headerLength, payloadLength);
  if (crc32(payload) != payloadCrc) return failed(LoadCorrupt);

  auto file = std::make_shared<DaFile>();
  for (std::size_t i = 0; i < chipCount; ++i)
    file->chips.push_back(getU32(bytes.data() + DaHeaderFixedBytes + ChipValueBytes * i));
  file->payload.assign(payload.begin(), payload.end());
  file->payloadCrc = payloadCrc;
  return DaParse{LoadDone, std::move(file)};
}

DaParse readDaFile(const std::filesystem::path& path) {
  std::vector<std::uint8_t> bytes;
  switch (readFileBytes(path, DaMaxFileBytes, bytes)) {
    case FileRead::Read:
      return parseDaFile(bytes);
    case FileRead::TooLarge:
      return failed(LoadCorrupt);
    case FileRead::Unreadable:
      break;
  }
  return failed(LoadUnreadable);
}

std::vector<std::uint8_t> buildDaFile(std::span<const std::uint32_t> chips,
                                      std::span<const std::uint8_t> payload) {
  chips = chips.first(std::min(chips.size(), DaMaxChips));
  std::vector<std::uint8_t> out(std::begin(Magic), std::end(Magic));
  putU16(out, static_cast<std::uint16_t>(DaHeaderFixedBytes + ChipValueBytes * chips.size()));
  putU16(out, static_cast<std::uint16_t>(chips.size()));
  putU32(out, static_cast<std::uint32_t>(payload.size()));
  putU32(out, crc32(payload));
  for (std::uint32_t chip : chips) putU32(out, chip);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

}  // namespace quenby::brom
