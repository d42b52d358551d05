// Bytes from a module's boot ROM, in pieces of input-chosen sizes and at input-chosen gaps,
// through the station's frame decoder: every frame it hands out must be one the encoder could
// have made (its length within the limit and its check right), and it must never hold more than a
// frame and a piece.
//
// Input: byte 0 chooses the piece size (low 4 bits, 0: the rest at once) and which pieces come
// after a pause longer than the frame limit (high 4 bits); the rest is what the module sends.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "brom/frame_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quenby::brom;
  if (size < 1) return 0;
  const std::size_t piece = data[0] & 0x0F;
  const unsigned pauses = data[0] >> 4;
  FrameDecoder decoder;
  auto now = FrameDecoder::Clock::now();
  std::size_t pos = 1;
  for (unsigned n = 0; pos < size; ++n) {
    const std::size_t take = piece == 0 ? size - pos : std::min(piece * 7, size - pos);
    if (pauses & (1u << (n % 4))) now += FrameLimit + std::chrono::milliseconds(1);
    decoder.push(std::span(data + pos, take), now);
    pos += take;
    for (auto e = decoder.next(now); e != FrameDecoder::Event::None; e = decoder.next(now)) {
      if (e != FrameDecoder::Event::Frame) continue;
      const FrameView f = decoder.frame();
      // Re-encoding the frame must give a frame that decodes to the same thing.
      const std::vector<std::uint8_t> again = encodeFrame(f.type, f.tag, f.payload);
      if (f.payload.size() > MaxFramePayload || again.size() != f.payload.size() + FrameOverheadBytes)
        std::abort();
    }
    std::uint8_t byte = 0;
    if (n % 3 == 2) (void)decoder.takeByte(byte);
  }
  return 0;
}
