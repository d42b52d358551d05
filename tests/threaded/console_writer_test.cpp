// The runner's console writer against a pipe that nobody reads: printing never waits, what the
// queue cannot hold is counted and told once the reader is back, and the end does not hang.
#include "tools/run/console_writer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <regex>
#include <string>

namespace quenby::run {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t PipeBytes = 4096;

// A pipe of the smallest size, already full of empty lines.
struct FullPipe {
  FullPipe() {
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, PipeBytes);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string filler(PipeBytes, '\n');
    while (::write(fds[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(fds[1], F_SETFL, 0);
  }
  ~FullPipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  // Reads (bounded) until the text read so far contains `until`; the text without filler lines.
  std::string readUntil(const std::string& until) {
    std::string got;
    while (got.find(until) == std::string::npos) {
      pollfd in{fds[0], POLLIN, 0};
      if (::poll(&in, 1, 10000) != 1) break;
      char buffer[PipeBytes];
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i)
        if (buffer[i] != '\n' || (!got.empty() && got.back() != '\n')) got += buffer[i];
    }
    return got;
  }
  int fds[2] = {-1, -1};
};

TEST(ConsoleWriter, LinesTheQueueCannotHoldAreCountedAndToldWhenTheReaderIsBack) {
  FullPipe pipe;
  ConsoleWriter writer(pipe.fds[1], 10);
  for (int i = 0; i < 30; ++i) writer.print("line " + std::to_string(i));

  // The first ten always found room in the queue.
  std::string got = pipe.readUntil("line 9\n");
  writer.print("after");
  got += pipe.readUntil("after\n");

  // Depending on when the writer took its batch, the lines left out are told in one or more
  // notices, each once the queue takes lines again; all of them before the line printed
  // afterwards. The writer holds at most one batch and the queue ten lines, so ten at least are
  // left out.
  const std::regex notice("quenby-run: ([0-9]+) line\\(s\\) not printed: the output did not take "
                          "them in time\n");
  ASSERT_TRUE(got.ends_with("\nafter\n")) << got;
  int left = 0;
  for (auto m = std::sregex_iterator(got.begin(), got.end(), notice); m != std::sregex_iterator(); ++m)
    left += std::stoi((*m)[1]);
  int printed = 0;
  for (int i = 0; i < 30; ++i)
    if (got.find("line " + std::to_string(i) + "\n") != std::string::npos) ++printed;
  EXPECT_GE(printed, 10);
  EXPECT_GE(left, 10) << got;
  EXPECT_EQ(printed + left, 30) << got;
  EXPECT_EQ(writer.finish(1s), static_cast<std::size_t>(left));
}

TEST(ConsoleWriter, FinishGivesUpOutputThatIsNeverRead) {
  FullPipe pipe;
  ConsoleWriter writer(pipe.fds[1]);
  for (int i = 0; i < 5; ++i) writer.print("line " + std::to_string(i));
  // Returns although a write is held back for good; nothing of it was printed.
  EXPECT_EQ(writer.finish(50ms), 5u);
  writer.print("late");
  EXPECT_EQ(writer.finish(0ms), 6u);
}

}  // namespace
}  // namespace quenby::run
