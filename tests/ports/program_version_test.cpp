// Every command-line program prints "<name> <version>" for --version, the one version of the
// build.
#include <gtest/gtest.h>

#include <sstream>

#include "ports/device_tree.h"

namespace quenby::ports::testing {
namespace {

// Runs `program` with the arguments; its exit status and stdout.
Finished runProgram(const std::string& program, const std::vector<std::string>& args) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDERR_FILENO);
    ::dup2(null, STDIN_FILENO);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Finished done;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
    done.out.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  done.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return done;
}

TEST(ProgramVersion, EveryProgramPrintsTheBuildsVersion) {
  std::istringstream list(QUENBY_PROGRAMS);
  int programs = 0;
  for (std::string entry; std::getline(list, entry, ',');) {
    const std::string name = entry.substr(0, entry.find('='));
    const std::string path = entry.substr(entry.find('=') + 1);
    ++programs;
    const Finished done = runProgram(path, {"--version"});
    EXPECT_EQ(done.status, 0) << name;
    EXPECT_EQ(done.out, name + " " + QUENBY_VERSION_TEXT + "\n");
  }
  EXPECT_GE(programs, 3) << QUENBY_PROGRAMS;
  EXPECT_STRNE(QUENBY_VERSION_TEXT, "");
}

}  // namespace
}  // namespace quenby::ports::testing
