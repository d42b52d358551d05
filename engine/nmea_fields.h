// Reading a received sentence: the checksum test and its comma-separated fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quenby {

// The station's checksum test: the exclusive-or of the characters after "$" up to "*" must equal
// the two characters after "*" read as upper-case hexadecimal digits (lower-case digits do not
// match). Characters after the two digits are not looked at.
bool sentenceChecksumOk(std::string_view sentence);

// Field n: the text after the n-th "," up to the next "," (or, when there is none, up to the
// next "*"); nullopt when that text is empty or neither character follows.
std::optional<std::string_view> sentenceField(std::string_view sentence, int n);

// Field n as a number by the standard decimal conversion (leading blanks, sign, digits, stop at
// the first other character); 0 when absent or not numeric.
std::int32_t sentenceFieldNumber(std::string_view sentence, int n);

}  // namespace quenby
