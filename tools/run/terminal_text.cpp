#include "tools/run/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace quenby::run {
namespace {

void escape(std::string& out, unsigned char byte) {
  char code[5];
  std::snprintf(code, sizeof code, "\\x%02x", byte);
  out += code;
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 sequence at the start of text whose code point is not a
// C1 control, or 0.
std::size_t printableSequence(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length;
  std::uint32_t point;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!isContinuation(byte)) return 0;
    point = (point << 6) | (byte & 0x3F);
  }
  const std::uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < shortest[length] || point > 0x10FFFF) return 0;  // overlong or out of range
  if (point >= 0xD800 && point <= 0xDFFF) return 0;            // surrogate halves
  if (point <= 0x9F) return 0;                                   // C1 controls
  return length;
}

}  // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    std::size_t take = 1;
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
        escape(out, byte);
      else
        out += text[0];
    } else if ((take = printableSequence(text)) > 0) {
      out.append(text.substr(0, take));
    } else {
      take = 1;
      escape(out, byte);
    }
    text.remove_prefix(take);
  }
  return out;
}

}  // namespace quenby::run
