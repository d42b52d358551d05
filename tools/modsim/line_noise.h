// Bytes that are not sentences: noise bursts on the line, and what the station's UART makes of
// the module's bytes when the two ends run at different baud rates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quenby::modsim {

// A repeatable stream of pseudo-random bytes (xorshift), one per port.
class NoiseSource {
 public:
  explicit NoiseSource(std::uint32_t seed);

  // n bytes from 1 to 255, never "$", CR or LF: a burst that cannot start or end a sentence.
  std::string burst(std::size_t n);

  // What a UART at stationBaud receives while moduleBaud bytes arrive: about
  // bytes.size() x stationBaud / moduleBaud bytes of rubbish, never a "$", so that no sentence
  // can come out of it. Fractions of a byte carry over to the next call.
  std::string garble(std::string_view bytes, int stationBaud, int moduleBaud);

 private:
  std::uint32_t next();

  std::uint32_t state_;
  double carry_ = 0;  // fraction of a garbled byte owed from the last call
};

}  // namespace quenby::modsim
