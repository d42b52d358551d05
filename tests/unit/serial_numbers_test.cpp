// The runner's serial numbers: what --serial and --serials take, and what they refuse.
#include "tools/run/serial_numbers.h"

#include <gtest/gtest.h>

#include "tests/fakes/temp_folder.h"

namespace quenby::run {
namespace {

TEST(SerialNumbers, ArgumentsAndFilesGiveEachPortItsNumbersInOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string file;  // none when empty
    SerialNumbers taken;
    std::string problem;  // the first refusal, "" when all is taken
  };
  const std::string sixtyOne(61, '7');
  const std::vector<Case> cases{
      {"numbers with commas, quotes and blanks are kept as scanned",
       {"3=A1 \"x\",y", "COM12=B2"}, "", {{3, {"A1 \"x\",y"}}, {12, {"B2"}}}, ""},
      {"a port named twice gets one number per run", {"3=A", "com3=B"}, "", {{3, {"A", "B"}}}, ""},
      {"file with comments, blank lines and CR LF", {},
       "# line 7\r\nCOM1,A-1\r\n\r\n2,B,2\r\nCOM1,A-2\r\n", {{1, {"A-1", "A-2"}}, {2, {"B,2"}}}, ""},
      {"no equals sign", {"3"}, "", {}, "--serial takes COM=NUMBER"},
      {"port 0", {"0=A"}, "", {}, "'0' is not a port number from 1 to 65535"},
      {"port beyond 16 bits", {"COM65536=A"}, "", {}, "'COM65536' is not a port number from 1 to 65535"},
      {"negative port", {"-5=A"}, "", {}, "'-5' is not a port number from 1 to 65535"},
      {"empty number", {"3="}, "", {}, "no serial number for COM3"},
      {"longer than the entry takes", {"3=" + sixtyOne}, "", {},
       "the serial number for COM3 is longer than 60 characters"},
      {"file line without a comma", {}, "COM1,A\nCOM2 B\n", {}, "{file}, line 2: a line is COM,NUMBER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    quenby::testing::TempFolder folder;
    SerialNumbers serials;
    std::string problem;
    for (const auto& argument : c.arguments)
      if (problem.empty()) problem = addSerialArgument(argument, serials);
    if (!c.file.empty() && problem.empty()) {
      folder.write("serials.csv", c.file);
      problem = addSerialsFile(folder / "serials.csv", serials);
    }
    std::string expected = c.problem;
    if (const auto at = expected.find("{file}"); at != std::string::npos)
      expected.replace(at, 6, (folder / "serials.csv").string());
    EXPECT_EQ(problem, expected);
    if (expected.empty()) EXPECT_EQ(serials, c.taken);
  }
}

}  // namespace
}  // namespace quenby::run
