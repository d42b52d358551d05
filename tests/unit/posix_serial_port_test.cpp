// The serial link over real pseudo-terminals: the test holds the master side (the module's end),
// the port under test opens the slave through a COM<n> link in a temporary ports folder. Termios
// requests on the master act on the slave, so the master shows the line settings the port set.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/nmea_sentence.h"
#include "engine/posix_serial_port.h"
#include "engine/serial_baud.h"

namespace quenby {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quenby-ports-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The module's end of one line.
class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0) ::fcntl(master_, F_SETFL, O_NONBLOCK);
    char name[128] = {};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0)
      return;
    slave_ = name;
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  bool ok() const { return !slave_.empty(); }
  // The module side goes away, as an unplugged adapter does.
  void hangUp() {
    ::close(master_);
    master_ = -1;
  }
  int master() const { return master_; }
  const std::string& slave() const { return slave_; }

  // Writes bytes as the line takes them; gives up when it takes nothing for two seconds.
  void send(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      pollfd p{master_, POLLOUT, 0};
      if (::poll(&p, 1, 2000) <= 0) return;
    }
  }

  // Everything the port sends until `quiet` passes without a byte (or `limit` bytes arrived).
  std::string receive(milliseconds quiet = milliseconds(100), std::size_t limit = 1 << 20) const {
    std::string got;
    char buf[4096];
    while (got.size() < limit) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(quiet.count())) <= 0 || !(p.revents & POLLIN)) break;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

class PosixSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ports_.path().empty());
    ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal available";
    link(1, pty_);
  }

  void link(std::uint16_t n, const Pty& pty) {
    fs::create_symlink(pty.slave(), ports_.path() / ("COM" + std::to_string(n)));
  }

  TempFolder ports_;
  Pty pty_;
};

TEST_F(PosixSerialPortTest, OpensWithRawLineSettings) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  EXPECT_TRUE(port.isOpen());

  termios t{};
  ASSERT_EQ(::tcgetattr(pty_.master(), &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PosixSerialPortTest, AppliesEveryStationBaudRate) {
  PosixSerialPort port(ports_.path());
  for (int baud : {4800, 9600, 14400, 19200, 38400, 57600, 115200, 230400, 460800, 921600}) {
    ASSERT_TRUE(port.open(1, baud)) << baud;  // reopening closes the previous descriptor first
    EXPECT_EQ(currentBaud(pty_.master()), baud);
  }
}

TEST_F(PosixSerialPortTest, OpensEveryPortNumberThroughItsLink) {
  for (std::uint16_t n : {10, 16, 65535}) link(n, pty_);
  for (std::uint16_t n : {1, 10, 16, 65535}) {
    PosixSerialPort port(ports_.path());
    ASSERT_TRUE(port.open(n, 38400)) << "COM" << n;
    port.writeText("x");
    EXPECT_EQ(pty_.receive(), "x") << "COM" << n;
  }
}

TEST_F(PosixSerialPortTest, OpenFailsWithoutAUsableDevice) {
  fs::create_symlink("/nonexistent/ttyUSB9", ports_.path() / "COM2");
  std::ofstream(ports_.path() / "COM3") << "not a terminal";
  struct Case {
    std::uint16_t port;
    int baud;
    const char* what;
    std::string reason;  // told after the port's path
  };
  const Case cases[] = {
      {4, 38400, "no link", "no such device"},
      {2, 38400, "link to a missing device", "no such device"},
      {3, 38400, "not a terminal", "not a serial device"},
      {0, 38400, "port number 0", "no such device"},
      {1, 0, "baud rate 0", "does not take 0 baud"},
      {1, -9600, "negative baud rate", "does not take -9600 baud"},
  };
  for (const Case& c : cases) {
    PosixSerialPort port(ports_.path());
    EXPECT_FALSE(port.open(c.port, c.baud)) << c.what;
    EXPECT_FALSE(port.isOpen()) << c.what;
    EXPECT_EQ(port.openProblem(),
              (ports_.path() / ("COM" + std::to_string(c.port))).string() + ": " + c.reason)
        << c.what;
  }
  // A refused open leaves nothing held behind.
  PosixSerialPort port(ports_.path());
  EXPECT_TRUE(port.open(1, 38400));
}

TEST_F(PosixSerialPortTest, HeldPortCannotBeOpenedAgain) {
  PosixSerialPort holder(ports_.path());
  ASSERT_TRUE(holder.open(1, 38400));

  PosixSerialPort other(ports_.path());
  EXPECT_FALSE(other.open(1, 38400));
  EXPECT_FALSE(other.isOpen());
  EXPECT_EQ(other.openProblem(), (ports_.path() / "COM1").string() + ": held by another station");
  EXPECT_EQ(currentBaud(pty_.master()), 38400);  // the refused open did not touch the line

  holder.writeText("still mine");
  EXPECT_EQ(pty_.receive(), "still mine");

  holder.close();
  EXPECT_TRUE(other.open(1, 38400));
}

TEST_F(PosixSerialPortTest, OpeningAnotherPortOrDestroyingReleasesTheFirst) {
  Pty second;
  ASSERT_TRUE(second.ok());
  link(2, second);
  {
    PosixSerialPort port(ports_.path());
    ASSERT_TRUE(port.open(1, 38400));
    ASSERT_TRUE(port.open(2, 38400));
    PosixSerialPort other(ports_.path());
    EXPECT_TRUE(other.open(1, 38400));
  }
  PosixSerialPort again(ports_.path());
  EXPECT_TRUE(again.open(1, 38400));
  EXPECT_TRUE(again.open(2, 38400));
}

TEST_F(PosixSerialPortTest, SentencesGoOutExactly) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));

  port.writeFixed(EndTestModeSentence);
  EXPECT_EQ(pty_.receive(), std::string("$PMTK811*3A\r\n\0", 14));
  port.writeFixed(FactoryResetSentence);
  EXPECT_EQ(pty_.receive(), std::string("$PMTK104*37\r\n\0", 14));

  const std::string start = startSentence(0x000A, 1);
  port.writeText(start);
  const std::string got = pty_.receive();
  EXPECT_EQ(got, start);
  EXPECT_EQ(got.find('\0'), std::string::npos);
}

TEST_F(PosixSerialPortTest, EveryByteValuePassesUntranslatedBothWays) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));  // CR, LF, XON, XOFF, ^C ...

  port.writeText(all);
  EXPECT_EQ(pty_.receive(), all);

  pty_.send(all);
  std::string got(ReadChunkMax, '\0');
  got.resize(port.read(got.data(), got.size()));
  EXPECT_EQ(got, all);
  EXPECT_EQ(pty_.receive(milliseconds(50)), "");  // nothing echoed back to the module
}

TEST_F(PosixSerialPortTest, SilentLineReadsNothingAfterTheTimeLimit) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  char buf[ReadChunkMax + 1];
  const auto start = Clock::now();
  EXPECT_EQ(port.read(buf, ReadChunkMax), 0u);
  EXPECT_GE(msSince(start), 250);
  EXPECT_LT(msSince(start), 3000);
}

TEST_F(PosixSerialPortTest, ReadsNeverMoreThanAskedAndLoseNothing) {
  struct Case {
    std::size_t waiting;
    std::size_t max;
    std::size_t first;
  };
  const Case cases[] = {
      {10000, 10000, ReadChunkMax},  // the chunk limit caps a larger buffer
      {10000, ReadChunkMax, ReadChunkMax},
      {100, 10, 10},
      {5, ReadChunkMax, 5},  // a short chunk comes back at the time limit
  };
  for (const Case& c : cases) {
    PosixSerialPort port(ports_.path());
    ASSERT_TRUE(port.open(1, 38400));
    std::string sent;
    for (std::size_t i = 0; i < c.waiting; ++i) sent.push_back(static_cast<char>('a' + i % 26));
    // A pseudo-terminal buffers only a few kilobytes: the module side keeps feeding meanwhile.
    std::thread feeder([&] { pty_.send(sent); });
    if (c.waiting < ReadChunkMax) feeder.join();

    std::vector<char> buf(c.max + 16, '#');
    const std::size_t first = port.read(buf.data(), c.max);
    EXPECT_EQ(first, c.first) << c.waiting << " waiting, max " << c.max;
    EXPECT_EQ(buf[c.max], '#') << "wrote past max";

    std::string got(buf.data(), first);
    while (got.size() < sent.size()) {
      const std::size_t n = port.read(buf.data(), c.max);
      EXPECT_LE(n, std::min(c.max, ReadChunkMax));
      if (n == 0) break;
      got.append(buf.data(), n);
    }
    if (feeder.joinable()) feeder.join();
    EXPECT_EQ(got, sent) << c.waiting << " waiting, max " << c.max;
  }
}

TEST_F(PosixSerialPortTest, HungUpLineNeitherSpinsNorBlocks) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  pty_.hangUp();

  // The read still lasts its time, mostly asleep, so that the caller's loop keeps its pace.
  char buf[ReadChunkMax];
  timespec cpuBefore{}, cpuAfter{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuBefore);
  const auto start = Clock::now();
  EXPECT_EQ(port.read(buf, sizeof buf), 0u);
  EXPECT_GE(msSince(start), 250);
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuAfter);
  const long long cpuMs = (cpuAfter.tv_sec - cpuBefore.tv_sec) * 1000LL +
                          (cpuAfter.tv_nsec - cpuBefore.tv_nsec) / 1000000;
  EXPECT_LT(cpuMs, 100) << "the read spun on the dead line";

  const auto writeStart = Clock::now();
  port.writeText(std::string(1 << 16, 'x'));
  EXPECT_LT(msSince(writeStart), 500) << "a write to a dead line waited out its time limit";
}

TEST_F(PosixSerialPortTest, PurgeDropsWhatHasArrived) {
  for (Purge what : {Purge::Receive, Purge::Full}) {
    PosixSerialPort port(ports_.path());
    ASSERT_TRUE(port.open(1, 38400));
    pty_.send("$GPGGA,stale\r\n");
    char buf[ReadChunkMax];
    ASSERT_EQ(port.read(buf, 1), 1u);  // the line has delivered
    port.purge(what);
    EXPECT_EQ(port.read(buf, sizeof buf), 0u);
  }
}

TEST_F(PosixSerialPortTest, InputFromBeforeTheOpenIsDropped) {
  {
    PosixSerialPort port(ports_.path());
    ASSERT_TRUE(port.open(1, 38400));
  }
  pty_.send("$GPGGA,old\r\n");
  // Until the old line has reached the slave's input (bounded): a look with an fd of its own
  // that reads nothing.
  {
    const int look = ::open(pty_.slave().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(look, 0);
    int waiting = 0;
    for (int i = 0; i < 500 && (::ioctl(look, FIONREAD, &waiting) != 0 || waiting == 0); ++i)
      std::this_thread::sleep_for(milliseconds(10));
    ::close(look);
    ASSERT_GT(waiting, 0);
  }
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  char buf[ReadChunkMax];
  EXPECT_EQ(port.read(buf, sizeof buf), 0u);
}

TEST_F(PosixSerialPortTest, CloseFromAnotherThreadEndsAWaitingRead) {
  PosixSerialPort port(ports_.path());
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(port.open(1, 38400));
    std::size_t got = 1;
    long long took = 0;
    std::thread reader([&] {
      char buf[ReadChunkMax];
      const auto start = Clock::now();
      got = port.read(buf, sizeof buf);
      took = msSince(start);
    });
    std::this_thread::sleep_for(milliseconds(30 + 10 * round));
    port.close();
    EXPECT_FALSE(port.isOpen());
    reader.join();
    EXPECT_EQ(got, 0u);
    EXPECT_LT(took, 250) << "the read waited out its time limit";

    // Closed means inert, and the port is free again for the next opener.
    char buf[16];
    const auto start = Clock::now();
    EXPECT_EQ(port.read(buf, sizeof buf), 0u);
    EXPECT_LT(msSince(start), 100);
    port.writeText("ignored");
    port.writeFixed(EndTestModeSentence);
    port.purge(Purge::Full);
    EXPECT_EQ(pty_.receive(milliseconds(30)), "");
    PosixSerialPort other(ports_.path());
    EXPECT_TRUE(other.open(1, 38400));
  }
}

// Nobody reads the module side, so a large write fills the line and then waits.
TEST_F(PosixSerialPortTest, StuckWriteEndsAtItsTimeLimitOrOnClose) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  const std::string flood(1 << 20, 'x');

  auto start = Clock::now();
  port.writeText(flood);
  EXPECT_GE(msSince(start), 900);
  EXPECT_LT(msSince(start), 5000);
  EXPECT_TRUE(port.isOpen());

  long long took = 0;
  std::thread writer([&] {
    const auto begin = Clock::now();
    port.writeText(flood);
    took = msSince(begin);
  });
  std::this_thread::sleep_for(milliseconds(50));
  port.close();
  writer.join();
  EXPECT_LT(took, 900) << "the write waited out its time limit after the close";
  PosixSerialPort other(ports_.path());
  EXPECT_TRUE(other.open(1, 38400));
}

TEST_F(PosixSerialPortTest, PurgeAndWriteFromAnotherThreadDuringARead) {
  PosixSerialPort port(ports_.path());
  ASSERT_TRUE(port.open(1, 38400));
  std::thread reader([&] {
    char buf[ReadChunkMax];
    for (int i = 0; i < 3; ++i) (void)port.read(buf, sizeof buf);
  });
  for (int i = 0; i < 20; ++i) {
    port.purge(i % 2 ? Purge::Full : Purge::Receive);
    port.writeFixed(EndTestModeSentence);
    std::this_thread::sleep_for(milliseconds(10));
  }
  port.close();
  reader.join();
  EXPECT_FALSE(port.isOpen());
}

}  // namespace
}  // namespace quenby
