#include <gtest/gtest.h>

#include <string>

#include "engine/number_format.h"

namespace quenby {
namespace {

TEST(NumberFormat, GeneralFormOfARate) {
  const std::pair<float, std::string> cases[] = {
      {5.0f, "5"},
      {0.5f, "0.5"},
      {1000.0f / 3.0f, "333.333343505859"},
      {0.85f, "0.850000023841858"},
      {0.0f, "0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(formatGeneral(value), text) << text;
}

TEST(NumberFormat, FixedFormRoundsTheSingleValue) {
  struct Case {
    float value;
    int decimals;
    std::string text;
  };
  const Case cases[] = {
      {0.85f, 2, "0.85"},        // 0.850000023841858 as a single
      {40.92f, 3, "40.920"},     {-41.0f, 3, "-41.000"},
      {35.67f, 1, "35.7"},       {40.04f, 1, "40.0"},
      {12.35f, 1, "12.4"},       // the single is 12.3500003814697: rounds up
      {-0.0001f, 3, "0.000"},    // no sign on a value that shows as zero
  };
  for (const Case& c : cases) EXPECT_EQ(formatFixed(c.value, c.decimals), c.text) << c.text;
}

}  // namespace
}  // namespace quenby
