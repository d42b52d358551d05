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
  // Reads what arrives within `wait` into text (filler lines left out); false when nothing did.
  bool readSome(std::chrono::milliseconds wait) {
    pollfd in{fds[0], POLLIN, 0};
    if (::poll(&in, 1, static_cast<int>(wait.count())) != 1) return false;
    char buffer[PipeBytes];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[i] != '\n' || (!text.empty() && text.back() != '\n')) text += buffer[i];
    return n > 0;
  }
  // Reads (bounded) until the text contains `until`.
  void readUntil(const std::string& until) {
    while (text.find(until) == std::string::npos && readSome(10s)) {
    }
  }
  std::string text;
  int fds[2] = {-1, -1};
};

TEST(ConsoleWriter, LinesTheQueueCannotHoldAreCountedAndToldWhenTheReaderIsBack) {
  FullPipe pipe;
  ConsoleWriter writer(pipe.fds[1], 10);
  for (int i = 0; i < 30; ++i) writer.print("line " + std::to_string(i));

  // The first ten always found room in the queue.
  pipe.readUntil("line 9\n");
  // The reader is back: once the writer has taken what waits (bounded), the queue has room.
  for (int i = 0; i < 1000 && writer.waiting() > 0; ++i) pipe.readSome(10ms);
  ASSERT_EQ(writer.waiting(), 0u);
  writer.print("after");
  pipe.readUntil("after\n");
  const std::string& got = pipe.text;

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
