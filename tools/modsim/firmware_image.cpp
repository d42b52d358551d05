#include "tools/modsim/firmware_image.h"

#include <algorithm>

#include "tools/modsim/scenario.h"

namespace quenby::modsim {
namespace {

// The flash is searched this many bytes at a time; consecutive pieces overlap by the longest
// marker-and-text, so that no version text is missed at a piece boundary.
constexpr std::uint32_t kScanPiece = 65536;
constexpr std::uint32_t kLongestEntry = VersionMarker.size() + MaxVersionText + 1;

bool usableInSentence(char c) {
  return c >= ' ' && c <= '~' && c != '$' && c != '*';
}

std::optional<std::string> versionTextAt(std::string_view afterMarker) {
  const std::size_t end = afterMarker.find('\0');
  if (end == std::string_view::npos || end > MaxVersionText) return std::nullopt;
  const std::string_view text = afterMarker.substr(0, end);
  if (!std::all_of(text.begin(), text.end(), usableInSentence)) return std::nullopt;
  return std::string(text);
}

}  // namespace

std::optional<std::string> firmwareVersion(const SimulatedFlash& flash, std::uint32_t address,
                                           std::uint32_t length) {
  if (!flash.contains(address, length)) return std::nullopt;
  const std::uint64_t end = static_cast<std::uint64_t>(address) + length;
  for (std::uint64_t at = address; at < end;) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kScanPiece + kLongestEntry, end - at));
    const std::string piece = flash.read(static_cast<std::uint32_t>(at), n);
    const std::size_t marker = piece.find(VersionMarker);
    // A marker near the end of this piece is found whole in the next one.
    if (marker != std::string::npos && (marker < kScanPiece || at + n == end))
      return versionTextAt(std::string_view(piece).substr(marker + VersionMarker.size()));
    if (at + n == end) break;
    at += kScanPiece;
  }
  return std::nullopt;
}

}  // namespace quenby::modsim
