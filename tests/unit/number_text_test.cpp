#include "settings/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace quenby {
namespace {

std::uint32_t bitsOf(float value) { return std::bit_cast<std::uint32_t>(value); }

TEST(NumberTextTest, ParseIntegerAcceptsDecimalAndHexForms) {
  struct Case {
    std::string text;
    std::optional<std::int32_t> expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"38400", 38400},
      {"   42", 42},
      {"\t42", 42},
      {"+7", 7},
      {"-7", -7},
      {"000000000000000000000000012", 12},
      {"2147483647", 2147483647},
      {"-2147483648", std::numeric_limits<std::int32_t>::min()},
      {"$FF", 255},
      {"0x9600", 38400},
      {"0X10", 16},
      {"x1F", 31},
      {"X1f", 31},
      {"-$10", -16},
      {" 0x0000000000000000ff", 255},
      {"0x7FFFFFFF", 2147483647},
      {"0x80000000", std::numeric_limits<std::int32_t>::min()},
      {"0xFFFFFFFF", -1},
      // Refused: the load falls back to the key's default.
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"abc", std::nullopt},
      {"12a", std::nullopt},
      {"12 ", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"- 5", std::nullopt},
      {"--5", std::nullopt},
      {"+", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"0xGG", std::nullopt},
      {"0x 1", std::nullopt},
      {"0x-1", std::nullopt},
      {"$-1", std::nullopt},
      {"0x100000000", std::nullopt},
      {"0x1_0", std::nullopt},
      {"0b101", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(NumberTextTest, ParseRealReadsDecimalNumbersNarrowedToFloat) {
  constexpr float maxFloat = std::numeric_limits<float>::max();
  struct Case {
    std::string text;
    std::optional<float> expected;
  };
  const Case cases[] = {
      {"0.85", 0.85f},
      {"0.850000023841858", 0.85f},
      {"40.92", 40.92f},
      {"40.9199981689453", 40.92f},
      {"0.818400025367737", 0.8184f},
      {"40", 40.0f},
      {"1", 1.0f},
      {"-2.5", -2.5f},
      {"+2.5", 2.5f},
      {"  3.5  ", 3.5f},
      {"1e3", 1000.0f},
      {"1E-2", 0.01f},
      {"2.5e+1", 25.0f},
      {".5", 0.5f},
      {"5.", 5.0f},
      {"-0", -0.0f},
      {"1.00000002004088e+20", 1e20f},
      {"3.40282346638529e+38", maxFloat},
      {"1e-50", 0.0f},
      // Refused: the load falls back to the key's default.
      {"", std::nullopt},
      {"  ", std::nullopt},
      {"abc", std::nullopt},
      {"1,5", std::nullopt},
      {"1.5x", std::nullopt},
      {"1 5", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"e5", std::nullopt},
      {"1e", std::nullopt},
      {"1e+", std::nullopt},
      {"--1", std::nullopt},
      {"+-1", std::nullopt},
      {"inf", std::nullopt},
      {"-INF", std::nullopt},
      {"nan", std::nullopt},
      {"0x1p3", std::nullopt},
      {"3.5e38", std::nullopt},
      {"1e400", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<float> got = parseReal(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << '"' << c.text << '"';
    if (got) {
      EXPECT_EQ(bitsOf(*got), bitsOf(*c.expected)) << '"' << c.text << "\" gave " << *got;
    }
  }
}

TEST(NumberTextTest, FormatRealWritesTheWidenedValueWith15Digits) {
  struct Case {
    float value;
    std::string expected;
  };
  const Case cases[] = {
      {0.85f, "0.850000023841858"},
      {40.92f, "40.9199981689453"},
      {0.8184f, "0.818400025367737"},
      {40.0f, "40"},
      {1.0f, "1"},
      {0.0f, "0"},
      {-0.0f, "-0"},
      {-2.5f, "-2.5"},
      {0.1f, "0.100000001490116"},
      {123456789.0f, "123456792"},
      {1e20f, "1.00000002004088e+20"},
      {1e-7f, "1.0000000116861e-07"},
      {-3.4e38f, "-3.39999995214436e+38"},
      {std::numeric_limits<float>::denorm_min(), "1.40129846432482e-45"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatReal(c.value), c.expected);
}

TEST(NumberTextTest, FormattedRealsReadBackBitExact) {
  // Every exponent and a spread of mantissas, both signs, subnormals included.
  std::mt19937 random(20240601);
  int checked = 0;
  for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 0x10001 + (random() & 0xFF)) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    if (!std::isfinite(value)) continue;
    const std::string text = formatReal(value);
    const std::optional<float> back = parseReal(text);
    ASSERT_TRUE(back.has_value()) << text;
    ASSERT_EQ(bitsOf(*back), bitsOf(value)) << text;
    ++checked;
  }
  EXPECT_GT(checked, 50000);
}

TEST(NumberTextTest, LeadingIntegerTakesTheLeadingDigits) {
  struct Case {
    std::string text;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"3", 3},
      {"  12abc", 12},
      {"-5", -5},
      {"+5", 5},
      {"65537", 65537},
      {"7 8", 7},
      {"3;5", 3},
      {"x", 0},
      {"", 0},
      {"   ", 0},
      {"-", 0},
      {"- 5", 0},
      {"0x10", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(leadingInteger(c.text), c.expected) << '"' << c.text << '"';

  // Beyond 64 bits the low bits stay those of the whole number (a port takes the low 16).
  EXPECT_EQ(static_cast<std::uint16_t>(leadingInteger("99999999999999999999")), 65535);
  EXPECT_EQ(static_cast<std::uint16_t>(leadingInteger("-1")), 65535);
}

}  // namespace
}  // namespace quenby
