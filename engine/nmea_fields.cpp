#include "engine/nmea_fields.h"

#include <limits>

namespace quenby {
namespace {

// Shortest text that can hold "$", one summed character, "*" and two digits.
constexpr std::size_t ChecksumSentenceMin = 5;
// Characters after "*": the two checksum digits.
constexpr std::size_t ChecksumDigits = 2;

// One checksum digit as the station reads it: "A" and above count as code - 55, anything else
// as code - 48. Only upper-case digits give their hexadecimal value.
int checksumDigitValue(char c) {
  const int code = static_cast<unsigned char>(c);
  return code >= 'A' ? code - 55 : code - 48;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool sentenceChecksumOk(std::string_view sentence) {
  const std::size_t length = sentence.size();
  if (length < ChecksumSentenceMin) return false;

  unsigned char sum = static_cast<unsigned char>(sentence[1]);
  std::size_t star = 2;
  for (; star < length - ChecksumDigits; ++star) {
    if (sentence[star] == '*') break;
    sum ^= static_cast<unsigned char>(sentence[star]);
  }
  if (star >= length - ChecksumDigits) return false;  // no "*" with two characters after it

  const int sent = (checksumDigitValue(sentence[star + 1]) * 16 +
                    checksumDigitValue(sentence[star + 2])) & 0xFF;
  return sent == sum;
}

std::optional<std::string_view> sentenceField(std::string_view sentence, int n) {
  if (n < 0) return std::nullopt;
  std::size_t start = 0;
  for (int i = 0; i < n; ++i) {
    const std::size_t comma = sentence.find(',', start);
    if (comma == std::string_view::npos) return std::nullopt;
    start = comma + 1;
  }
  std::size_t end = sentence.find(',', start);
  if (end == std::string_view::npos) end = sentence.find('*', start);
  if (end == std::string_view::npos || end == start) return std::nullopt;
  return sentence.substr(start, end - start);
}

std::int32_t sentenceFieldNumber(std::string_view sentence, int n) {
  const auto field = sentenceField(sentence, n);
  if (!field) return 0;
  const std::string_view text = *field;

  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // Digits beyond the 32-bit range saturate rather than overflow.
  constexpr std::int64_t Max = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t MinMagnitude = Max + 1;
  const std::int64_t limit = negative ? MinMagnitude : Max;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace quenby
