#include "settings/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace quenby {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view skipLeadingBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view trimBlanks(std::string_view text) {
  text = skipLeadingBlanks(text);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Takes an optional sign off the front; true when it was a minus.
bool takeSign(std::string_view& text) {
  if (text.empty()) return false;
  if (text.front() == '-') {
    text.remove_prefix(1);
    return true;
  }
  if (text.front() == '+') text.remove_prefix(1);
  return false;
}

// Takes a hexadecimal prefix ("$", "0x", "0X", "x", "X") off the front; true when there was one.
bool takeHexPrefix(std::string_view& text) {
  if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
    text.remove_prefix(1);
    return true;
  }
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    return true;
  }
  return false;
}

// True when text is a plain decimal number: digits with an optional fraction (at least one digit
// on either side of the point) and an optional exponent. No sign, no blanks, no "inf" or "nan".
bool isDecimalNumber(std::string_view text) {
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < text.size() && isDecimalDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDecimalDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < text.size() && isDecimalDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

}  // namespace

std::optional<std::int32_t> parseInteger(std::string_view text) {
  text = skipLeadingBlanks(text);
  const bool negative = takeSign(text);
  const bool hex = takeHexPrefix(text);
  if (text.empty()) return std::nullopt;

  std::uint64_t magnitude = 0;
  if (hex) {
    for (char c : text) {
      const int digit = hexDigitValue(c);
      if (digit < 0) return std::nullopt;
      magnitude = magnitude * 16 + static_cast<std::uint64_t>(digit);
      if (magnitude > 0xFFFFFFFFu) return std::nullopt;
    }
    // Up to FFFFFFFF the bits are taken as they are (wrapping into the signed range).
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
  }

  constexpr std::uint64_t maxMagnitude =
      static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + 1;  // 2^31
  for (char c : text) {
    if (!isDecimalDigit(c)) return std::nullopt;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
    if (magnitude > maxMagnitude) return std::nullopt;
  }
  if (negative) return static_cast<std::int32_t>(0 - static_cast<std::int64_t>(magnitude));
  if (magnitude == maxMagnitude) return std::nullopt;
  return static_cast<std::int32_t>(magnitude);
}

std::optional<float> parseReal(std::string_view text) {
  text = trimBlanks(text);
  const bool negative = takeSign(text);
  if (!isDecimalNumber(text)) return std::nullopt;

  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                            std::chars_format::general);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  // Narrowing is defined only below the point where rounding would give infinity (halfway
  // between the largest float and 2^128); beyond it the value is no single-precision number.
  constexpr double floatLimit = 0x1.ffffffp127;
  if (!(std::fabs(value) < floatLimit)) return std::nullopt;
  const float narrowed = static_cast<float>(value);
  return negative ? -narrowed : narrowed;
}

std::string formatReal(float value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer,
                                          static_cast<double>(value), std::chars_format::general, 15);
  if (error != std::errc{}) return {};  // cannot happen: 64 characters hold any 15-digit double
  return std::string(buffer, end);
}

std::int64_t leadingInteger(std::string_view text) {
  text = skipLeadingBlanks(text);
  const bool negative = takeSign(text);
  // Digits beyond the 64-bit range wrap, so the low bits are always those of the whole number.
  std::uint64_t magnitude = 0;
  for (char c : text) {
    if (!isDecimalDigit(c)) break;
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (negative) magnitude = 0 - magnitude;
  return static_cast<std::int64_t>(magnitude);
}

}  // namespace quenby
