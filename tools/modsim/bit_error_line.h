// One direction of the boot-ROM line with the faults of a worn cable: every bit flips with a
// given probability (the bit-error rate), and stray bytes appear between the bytes sent. Both come
// from a seeded generator, so a scenario gives the same damage on every run.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace quenby::modsim {

class BitErrorLine {
 public:
  // bitErrorRate: probability that a bit flips; strayRate: probability that a stray byte comes
  // before a byte. Both 0: the line carries every byte as it is.
  BitErrorLine(double bitErrorRate, double strayRate, std::uint64_t seed);

  // What the far end receives when `bytes` are sent.
  std::string carry(std::string_view bytes);

  std::uint64_t bitsFlipped() const { return bitsFlipped_; }
  std::uint64_t straysInserted() const { return straysInserted_; }

 private:
  // Draws how many units pass before the next event at probability p (none: never).
  std::uint64_t gap(double p);

  double bitErrorRate_;
  double strayRate_;
  std::mt19937_64 random_;
  std::uint64_t bitsToFlip_;    // unflipped bits before the next flipped one
  std::uint64_t bytesToStray_;  // bytes before the next stray byte
  std::uint64_t bitsFlipped_ = 0;
  std::uint64_t straysInserted_ = 0;
};

}  // namespace quenby::modsim
