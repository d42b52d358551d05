// Number texts of memo lines and the test log, always with "." as decimal separator.
#pragma once

#include <string>

namespace quenby {

// General form of a measured rate: the single-precision value widened to double, up to 15
// significant digits, no trailing zeros (5, 0.5, 333.333343505859).
std::string formatGeneral(float value);

// Fixed form: the value rounded to at most 7 significant digits, shown with exactly `decimals`
// decimals (0.85f with 2 -> "0.85", -41.0f with 3 -> "-41.000").
std::string formatFixed(float value, int decimals);

}  // namespace quenby
