// Number texts of the settings file: integers with the accepted hexadecimal prefixes, reals as
// 15 significant digits of the widened single-precision value. Always "." as decimal separator,
// whatever the process locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenby {

// Optional leading blanks and sign, then decimal digits, or hexadecimal digits after "$", "0x",
// "0X", "x" or "X"; nothing may follow. Empty, malformed or out-of-range text gives nullopt.
// Hexadecimal values up to FFFFFFFF wrap into the signed range.
std::optional<std::int32_t> parseInteger(std::string_view text);

// A decimal number (optional blanks around it, sign, fraction, exponent) narrowed to single
// precision; nullopt when the text is empty or not a number.
std::optional<float> parseReal(std::string_view text);

// The single-precision value widened to double and written in general form with 15 significant
// digits, no trailing zeros: 0.85f -> "0.850000023841858", 40.0f -> "40".
std::string formatReal(float value);

// Leading blanks, an optional sign and the leading decimal digits; 0 when there are no digits.
// (The reading of one ComSelect piece.)
std::int64_t leadingInteger(std::string_view text);

}  // namespace quenby
