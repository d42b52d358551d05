#include "tools/modsim/fault_shaper.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quenby::modsim {
namespace {

// Flipping these bits of the checksum always gives a different checksum.
constexpr unsigned kChecksumFlip = 0x5A;
// An overlong line repeats this text: no "$", so the station finds no sentence start in it.
constexpr std::string_view kOverlongPattern = "0123456789ABCDEF,";
constexpr std::string_view kLineEnd = "\r\n";
// Two hexadecimal digits and the terminating zero.
constexpr std::size_t kChecksumTextSize = 3;

bool every(int n, std::uint64_t count) { return n > 0 && count % static_cast<std::uint64_t>(n) == 0; }

// Position of the first checksum digit ("*" + 1), or npos.
std::size_t checksumAt(const std::string& sentence) {
  const std::size_t star = sentence.rfind('*');
  if (star == std::string::npos || star + 3 > sentence.size()) return std::string::npos;
  return star + 1;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

std::string overlongLine(std::size_t length) {
  std::string line;
  line.reserve(length + kLineEnd.size());
  while (line.size() < length)
    line.append(kOverlongPattern.substr(0, std::min(kOverlongPattern.size(), length - line.size())));
  line.append(kLineEnd);
  return line;
}

// The sentence cut at the given offsets (those inside it, ascending, each once).
std::vector<Piece> cutAt(const std::string& sentence, std::vector<int> offsets, int pauseMs) {
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  std::vector<Piece> pieces;
  std::size_t from = 0;
  for (int offset : offsets) {
    const auto at = static_cast<std::size_t>(offset);
    if (at <= from || at >= sentence.size()) continue;
    pieces.push_back({sentence.substr(from, at - from), pauseMs});
    from = at;
  }
  pieces.push_back({sentence.substr(from), 0});
  return pieces;
}

}  // namespace

std::string withWrongChecksum(const std::string& sentence) {
  const std::size_t at = checksumAt(sentence);
  if (at == std::string::npos) return sentence;
  const unsigned sum = static_cast<unsigned>(hexValue(sentence[at]) * 16 + hexValue(sentence[at + 1]));
  char digits[kChecksumTextSize];
  std::snprintf(digits, sizeof digits, "%02X", (sum ^ kChecksumFlip) & 0xFF);
  std::string out = sentence;
  out[at] = digits[0];
  out[at + 1] = digits[1];
  return out;
}

std::string withLowercaseChecksum(const std::string& sentence) {
  const std::size_t at = checksumAt(sentence);
  if (at == std::string::npos) return sentence;
  std::string out = sentence;
  for (std::size_t i = at; i < at + 2; ++i)
    out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
  return out;
}

FaultShaper::FaultShaper(FaultSettings faults, std::uint32_t seed) : faults_(std::move(faults)), noise_(seed) {}

std::vector<Piece> FaultShaper::shape(const Emission& emission) {
  const FaultSettings& f = faults_;
  const std::string_view name = std::string_view(emission.text).substr(emission.text.empty() ? 0 : 1);
  const bool applies = name.starts_with(f.only);

  std::vector<Piece> pieces;
  std::string sentence = emission.text;
  std::vector<int> splitAt;
  if (applies) {
    ++count_;
    if (every(f.overlongEvery, count_)) pieces.push_back({overlongLine(static_cast<std::size_t>(f.overlongLength))});
    if (every(f.garbageEvery, count_))
      pieces.push_back({noise_.burst(static_cast<std::size_t>(f.garbageLength)) + std::string(kLineEnd)});
    if (every(f.badChecksumEvery, count_)) sentence = withWrongChecksum(sentence);
    if (f.lowercaseChecksums) sentence = withLowercaseChecksum(sentence);
    splitAt = f.splitAt;
  }
  // The start-up message has its own cut, whatever the other faults touch.
  if (emission.startup && f.startupSplitAt > 0) splitAt = {f.startupSplitAt};

  for (Piece& p : cutAt(sentence, splitAt, f.splitPauseMs)) pieces.push_back(std::move(p));
  if (applies && every(f.zeroEvery, count_)) pieces.back().bytes.push_back('\0');
  return pieces;
}

}  // namespace quenby::modsim
