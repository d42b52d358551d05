#include "tools/modsim/line_noise.h"

#include <cmath>

namespace quenby::modsim {
namespace {

// xorshift32 must not start from zero.
constexpr std::uint32_t kNonZeroSeed = 0x9E3779B9u;
// Most garbled bytes one call may produce for each byte sent (a station far faster than the
// module sees each bit as several bytes).
constexpr double kMaxGarbleRatio = 64.0;

}  // namespace

NoiseSource::NoiseSource(std::uint32_t seed) : state_(seed != 0 ? seed : kNonZeroSeed) {}

std::uint32_t NoiseSource::next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return state_;
}

std::string NoiseSource::burst(std::size_t n) {
  std::string bytes;
  bytes.reserve(n);
  while (bytes.size() < n) {
    const char c = static_cast<char>(next() & 0xFF);
    if (c == '\0' || c == '$' || c == '\r' || c == '\n') continue;
    bytes.push_back(c);
  }
  return bytes;
}

std::string NoiseSource::garble(std::string_view bytes, int stationBaud, int moduleBaud) {
  if (stationBaud <= 0 || moduleBaud <= 0) return {};
  const double ratio = std::min(static_cast<double>(stationBaud) / moduleBaud, kMaxGarbleRatio);
  const double owed = carry_ + static_cast<double>(bytes.size()) * ratio;
  const auto count = static_cast<std::size_t>(std::floor(owed));
  carry_ = owed - static_cast<double>(count);
  std::string out;
  out.reserve(count);
  // The rubbish keeps a trace of the data: each received byte mixes a sent byte with noise.
  for (std::size_t i = 0; i < count; ++i) {
    const auto sent = bytes.empty() ? 0u : static_cast<unsigned char>(bytes[i * bytes.size() / count]);
    char c = static_cast<char>((sent ^ next()) & 0xFF);
    if (c == '$') c = '\xA4';  // a "$" with its top bit flipped by the framing error
    out.push_back(c);
  }
  return out;
}

}  // namespace quenby::modsim
