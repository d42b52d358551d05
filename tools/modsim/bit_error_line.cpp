#include "tools/modsim/bit_error_line.h"

#include <limits>

namespace quenby::modsim {
namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kBitsPerByte = 8;  // data bits: start and stop bits carry no data

}  // namespace

BitErrorLine::BitErrorLine(double bitErrorRate, double strayRate, std::uint64_t seed)
    : bitErrorRate_(bitErrorRate), strayRate_(strayRate), random_(seed) {
  bitsToFlip_ = gap(bitErrorRate_);
  bytesToStray_ = gap(strayRate_);
}

std::uint64_t BitErrorLine::gap(double p) {
  if (p <= 0) return kNever;
  if (p >= 1) return 0;
  return std::geometric_distribution<std::uint64_t>(p)(random_);
}

std::string BitErrorLine::carry(std::string_view bytes) {
  if (bitsToFlip_ == kNever && bytesToStray_ == kNever) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 4);
  for (char c : bytes) {
    if (bytesToStray_ == 0) {
      out.push_back(static_cast<char>(random_() & 0xFF));
      ++straysInserted_;
      bytesToStray_ = gap(strayRate_);
    } else if (bytesToStray_ != kNever) {
      --bytesToStray_;
    }
    auto byte = static_cast<std::uint8_t>(c);
    // The bits of this byte that flip: skip whole bytes while the next flip lies beyond them.
    std::uint64_t bit = 0;
    while (bitsToFlip_ != kNever && bitsToFlip_ < kBitsPerByte - bit) {
      bit += bitsToFlip_;
      byte ^= static_cast<std::uint8_t>(1u << bit);
      ++bitsFlipped_;
      ++bit;
      bitsToFlip_ = gap(bitErrorRate_);
    }
    if (bitsToFlip_ != kNever) bitsToFlip_ -= kBitsPerByte - bit;
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

}  // namespace quenby::modsim
