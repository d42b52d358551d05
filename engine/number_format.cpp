#include "engine/number_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "settings/number_text.h"

namespace quenby {
namespace {

// Significant digits of a single-precision measurement shown in a fixed-point text.
constexpr int FixedSignificantDigits = 7;
constexpr std::size_t NumberBuffer = 64;

}  // namespace

std::string formatGeneral(float value) { return formatReal(value); }

std::string formatFixed(float value, int decimals) {
  const double wide = static_cast<double>(value);
  if (!std::isfinite(wide) || decimals < 0 || decimals > 15) return formatGeneral(value);

  // The value's first 7 significant digits, as decimal digits and a decimal exponent.
  std::array<char, NumberBuffer> buf{};
  auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), wide,
                                 std::chars_format::scientific, FixedSignificantDigits - 1);
  if (ec != std::errc()) return formatGeneral(value);
  const std::string_view sci(buf.data(), static_cast<std::size_t>(end - buf.data()));
  const bool negative = sci.front() == '-';
  const std::string_view body = negative ? sci.substr(1) : sci;
  const auto ePos = body.find('e');
  std::string digits;  // "1235000" for 1.235000e+01
  for (char c : body.substr(0, ePos))
    if (c != '.') digits.push_back(c);
  const int exponent = std::atoi(std::string(body.substr(ePos + 1)).c_str());

  if (exponent >= FixedSignificantDigits) {
    // More digits before the decimal point than the measurement has: general form.
    auto [endG, ecG] = std::to_chars(buf.data(), buf.data() + buf.size(), wide,
                                     std::chars_format::general, FixedSignificantDigits);
    return ecG == std::errc() ? std::string(buf.data(), endG) : std::string();
  }

  // Place the digits: integer part has exponent + 1 digits (none when the exponent is
  // negative, which adds leading zeros to the fraction).
  std::string integerPart;
  std::string fraction;
  if (exponent >= 0) {
    integerPart = digits.substr(0, static_cast<std::size_t>(exponent) + 1);
    fraction = digits.substr(static_cast<std::size_t>(exponent) + 1);
  } else {
    integerPart = "0";
    fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  }

  // Round the decimal digits half away from zero to the wanted number of decimals.
  const bool roundUp = fraction.size() > static_cast<std::size_t>(decimals) &&
                       fraction[static_cast<std::size_t>(decimals)] >= '5';
  fraction.resize(static_cast<std::size_t>(decimals), '0');
  std::string all = integerPart + fraction;
  if (roundUp) {
    int i = static_cast<int>(all.size()) - 1;
    while (i >= 0 && all[static_cast<std::size_t>(i)] == '9') all[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0)
      ++all[static_cast<std::size_t>(i)];
    else
      all.insert(all.begin(), '1');
  }
  const std::size_t integerDigits = all.size() - static_cast<std::size_t>(decimals);
  std::string text = all.substr(0, integerDigits);
  if (decimals > 0) text += "." + all.substr(integerDigits);

  // A value that rounds to zero is shown without a sign.
  if (negative && text.find_first_not_of("0.") != std::string::npos) text.insert(0, "-");
  return text;
}

}  // namespace quenby
