#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "engine/nmea_fields.h"

namespace quenby {
namespace {

using namespace std::string_view_literals;

TEST(NmeaFieldsChecksum, StationRules) {
  struct Case {
    std::string_view sentence;
    bool ok;
  };
  const Case cases[] = {
      {"$PMTK811*3A", true},
      {"$GPGSV,2,2,05,20,,,41*7B", true},
      {"$GPGSV,2,2,05,20,,,41*7C", false},              // wrong sum
      {"$GPRMC,205154.00,V,,,,,,,,,,,V*4e", false},     // lower-case digits never match
      {"$GPRMC,205154.00,V,,,,,,,,,,,V*4E", true},      // ... the same sentence in upper case
      {"$PMTK811*3Ajunk,after", true},                  // characters after the digits are ignored
      {"$PMTK811", false},                              // no "*"
      {"$PMTK811*3", false},                            // "*" with one character after it
      {"$PMTK811*", false},
      {"$A*4", false},                                  // shorter than 5
      {"$A*41", true},                                  // shortest that can pass
      {"", false},
      {"$J*4:", true},        // ':' counts as code - 48 = 10: 0x4A, the sum of "J"
      {"$S*ZZ", true},        // 'Z' = 35: (35 * 16 + 35) mod 256 = 0x53, the sum of "S"
      {"$\xC1*C1", true},     // characters count as unsigned bytes
      {"$PMTK811**3A", false},  // the first "*" ends the sum; "*3" is not 0x3A
  };
  for (const Case& c : cases)
    EXPECT_EQ(sentenceChecksumOk(c.sentence), c.ok) << '"' << c.sentence << '"';
}

TEST(NmeaFieldsField, TextBetweenSeparators) {
  struct Case {
    std::string_view sentence;
    int n;
    std::optional<std::string_view> field;
  };
  const Case cases[] = {
      {"$GPGSV,2,1,05,23,,,36*78", 0, "$GPGSV"sv},
      {"$GPGSV,2,1,05,23,,,36*78", 1, "2"sv},
      {"$GPGSV,2,1,05,23,,,36*78", 4, "23"sv},
      {"$GPGSV,2,1,05,23,,,36*78", 5, std::nullopt},   // empty
      {"$GPGSV,2,1,05,23,,,36*78", 7, "36"sv},         // the last field ends at "*"
      {"$GPGSV,2,1,05,23,,,36*78", 8, std::nullopt},   // fewer commas
      {"$GPGSV,2,1,05,23,,,*78", 7, std::nullopt},     // nothing before "*"
      {"$PMTK500,200*2B,9", 1, "200*2B"sv},            // a later "," wins over the "*"
      {"$X,12", 1, std::nullopt},                      // neither "," nor "*" follows
      {"$PMTK813*3C", 0, "$PMTK813"sv},
      {"$PMTK813*3C", 1, std::nullopt},
      {"$X,1", -1, std::nullopt},
      {"", 0, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(sentenceField(c.sentence, c.n), c.field) << c.sentence << " field " << c.n;
}

TEST(NmeaFieldsNumber, StandardDecimalConversionThatSaturates) {
  constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
  struct Case {
    std::string field;
    std::int32_t value;
  };
  const Case cases[] = {
      {"200", 200},        {"  42", 42},       {"-41000", -41000}, {"+5", 5},
      {"12abc", 12},       {"4 2", 4},         {"abc", 0},         {"", 0},
      {"-", 0},            {"0x1F", 0},        {"007", 7},         {"2147483647", Max},
      {"2147483648", Max}, {"99999999999999999999", Max},          {"-2147483648", Min},
      {"-2147483649", Min}, {"-99999999999999999999", Min},
  };
  for (const Case& c : cases) {
    const std::string sentence = "$PMTK815,x," + c.field + "*00";
    EXPECT_EQ(sentenceFieldNumber(sentence, 2), c.value) << '"' << c.field << '"';
  }
  EXPECT_EQ(sentenceFieldNumber("$PMTK815,1*00", 5), 0);  // absent field
}

}  // namespace
}  // namespace quenby
