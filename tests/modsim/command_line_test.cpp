#include "tools/modsim/command_line.h"

#include <gtest/gtest.h>

namespace quenby::modsim {
namespace {

using Ports = std::vector<std::uint16_t>;

TEST(PortList, NumbersAndRanges) {
  struct Case {
    std::string text;
    std::optional<Ports> ports;  // nullopt: an error
  };
  const Case cases[] = {
      {"3", Ports{3}},
      {"3,5", Ports{3, 5}},
      {"1-4,9", Ports{1, 2, 3, 4, 9}},
      {"16-16", Ports{16}},
      {"65535", Ports{65535}},
      {"1-64", [] {
         Ports p;
         for (std::uint16_t i = 1; i <= 64; ++i) p.push_back(i);
         return p;
       }()},
      {"1-65", std::nullopt},  // more modules than one simulator runs
      {"0", std::nullopt},
      {"65536", std::nullopt},
      {"5-3", std::nullopt},
      {"3,3", std::nullopt},
      {"1-4,2", std::nullopt},
      {"", std::nullopt},
      {"3,", std::nullopt},
      {",3", std::nullopt},
      {"3-", std::nullopt},
      {"-3", std::nullopt},
      {"COM3", std::nullopt},
      {" 3", std::nullopt},
      {"1-2-3", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto parsed = parsePortList(c.text);
    if (c.ports) {
      ASSERT_TRUE(std::holds_alternative<Ports>(parsed)) << c.text << ": " << std::get<std::string>(parsed);
      EXPECT_EQ(std::get<Ports>(parsed), *c.ports) << c.text;
    } else {
      EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    }
  }
}

TEST(CommandLine, OptionsInEitherFormAndErrors) {
  using Args = std::vector<std::string_view>;
  const Options full{"ports", {3, 5, 7}, std::filesystem::path("s.ini"), std::filesystem::path("tr")};
  struct Case {
    Args args;
    std::optional<Options> options;  // nullopt: an error
  };
  const Case cases[] = {
      {{"--ports-dir", "ports", "--com", "3,5", "--com=7", "--scenario=s.ini", "--transcript-dir", "tr"}, full},
      {{"--com", "1", "--ports-dir=p"}, Options{"p", {1}, std::nullopt, std::nullopt}},
      {{"--com", "1"}, std::nullopt},                              // no ports folder
      {{"--ports-dir", "p"}, std::nullopt},                        // no ports
      {{"--ports-dir", "p", "--com"}, std::nullopt},               // value missing
      {{"--ports-dir=", "--com", "1"}, std::nullopt},              // empty value
      {{"--ports-dir", "p", "--com", "1", "--com", "1"}, std::nullopt},
      {{"--ports-dir", "p", "--com", "1", "--verbose"}, std::nullopt},
      {{"--ports-dir", "p", "--com", "1", "extra"}, std::nullopt},
  };
  for (const Case& c : cases) {
    const ParsedCommandLine parsed = parseCommandLine(c.args);
    if (c.options) {
      ASSERT_TRUE(std::holds_alternative<Options>(parsed)) << std::get<std::string>(parsed);
      EXPECT_EQ(std::get<Options>(parsed), *c.options);
    } else {
      EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << c.args.size() << " arguments";
    }
  }
  EXPECT_TRUE(std::holds_alternative<HelpRequested>(parseCommandLine({"--com", "1", "--help"})));
}

}  // namespace
}  // namespace quenby::modsim
