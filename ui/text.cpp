#include "ui/text.h"

namespace quenby::ui {
namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at text[at], or 0 when the byte there starts none
// (a stray continuation byte, an overlong form, a surrogate, a code point beyond U+10FFFF, a
// sequence cut short).
std::size_t sequenceLength(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte, narrowed for some leads
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (!continuation(byte(k))) return 0;
  return length;
}

}  // namespace

QString fromEngine(const std::string& text) {
  QString shown;
  shown.reserve(static_cast<qsizetype>(text.size()));
  std::size_t runStart = 0;  // the valid UTF-8 not yet appended
  std::size_t at = 0;
  const auto flush = [&] {
    shown += QString::fromUtf8(text.data() + runStart, static_cast<qsizetype>(at - runStart));
  };
  while (at < text.size()) {
    const std::size_t length = sequenceLength(text, at);
    if (length > 0) {
      at += length;
      continue;
    }
    flush();
    shown += QChar(static_cast<unsigned char>(text[at]));  // the byte's Latin-1 character
    runStart = ++at;
  }
  flush();
  return shown;
}

std::string toEngine(const QString& text) { return text.toStdString(); }

}  // namespace quenby::ui
