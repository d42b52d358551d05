// Every command-line program prints "<name> <version>" for --version, the one version of the
// build.
#include <gtest/gtest.h>

#include <sstream>

#include "ports/device_tree.h"

namespace quenby::ports::testing {
namespace {

TEST(ProgramVersion, EveryProgramPrintsTheBuildsVersion) {
  std::istringstream list(QUENBY_PROGRAMS);
  int programs = 0;
  for (std::string entry; std::getline(list, entry, ',');) {
    const std::string name = entry.substr(0, entry.find('='));
    const std::string path = entry.substr(entry.find('=') + 1);
    ++programs;
    const Finished done = PortsProcess({"--version"}, path).finish();
    EXPECT_EQ(done.status, 0) << name;
    EXPECT_EQ(done.out, name + " " + QUENBY_VERSION_TEXT + "\n");
  }
  EXPECT_GE(programs, 3) << QUENBY_PROGRAMS;
  EXPECT_STRNE(QUENBY_VERSION_TEXT, "");
}

}  // namespace
}  // namespace quenby::ports::testing
