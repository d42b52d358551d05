#include "tools/run/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace quenby::run {
namespace {

TEST(TerminalText, ControlCharactersAreShownEscapedAndTextStays) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"Pass!!   [M-core_1.8,0000,,]", "Pass!!   [M-core_1.8,0000,,]"},
      {"\tGGA :\t1\t1", "\tGGA :\t1\t1"},  // the output-rate table keeps its tabs
      {"\x1b[2J\x1b]0;title\x07\x1b[32mPass!!", "\\x1b[2J\\x1b]0;title\\x07\\x1b[32mPass!!"},
      {std::string("a\0b\r\n\x7f", 6), "a\\x00b\\x0d\\x0a\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x9b\xb0", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x9b\xb0"},
      // C1 controls, as UTF-8 and as single bytes, and bytes that are no UTF-8 at all.
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},
      {"\x9b" "2J \xff \xc3", "\\x9b2J \\xff \\xc3"},
      {"\xc0\xaf \xed\xa0\x80", "\\xc0\\xaf \\xed\\xa0\\x80"},  // overlong, surrogate
  };
  for (const auto& c : cases) EXPECT_EQ(printableText(c.text), c.shown) << c.shown;
}

}  // namespace
}  // namespace quenby::run
