// The faults a scenario gives a module's output: wrong or lower-case checksums, sentences cut
// into several writes, noise bursts, zero bytes and overlong lines between sentences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/modsim/line_noise.h"
#include "tools/modsim/module_model.h"
#include "tools/modsim/scenario.h"

namespace quenby::modsim {

// Bytes written in one go, then a pause before the next piece.
struct Piece {
  std::string bytes;
  int pauseAfterMs = 0;

  bool operator==(const Piece&) const = default;
};

class FaultShaper {
 public:
  FaultShaper(FaultSettings faults, std::uint32_t seed);

  // The writes that carry one sentence. "Every Nth" counts the sentences the faults apply to
  // (all, or those whose name begins with FaultSettings::only).
  std::vector<Piece> shape(const Emission& emission);

 private:
  FaultSettings faults_;
  NoiseSource noise_;
  std::uint64_t count_ = 0;
};

// The sentence with its checksum digits replaced by a different, valid-looking pair.
std::string withWrongChecksum(const std::string& sentence);
// The sentence with the checksum's letters A-F in lower case.
std::string withLowercaseChecksum(const std::string& sentence);

}  // namespace quenby::modsim
