// Line settings through the kernel's termios2 interface. termios2 carries the baud rate as a
// number, so rates without a Bxxx constant (14400) are set with BOTHER. <asm/termbits.h> defines
// its own struct termios, which clashes with <termios.h>: this file must not include it.
#include "engine/serial_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace quenby {
namespace {

// The rates with a classic speed code; any other rate goes out as BOTHER with the number itself.
struct SpeedCode {
  int baud;
  unsigned code;
};
constexpr SpeedCode kSpeedCodes[] = {
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
    {921600, B921600},
};

unsigned speedCodeOf(int baud) {
  for (const SpeedCode& s : kSpeedCodes)
    if (s.baud == baud) return s.code;
  return BOTHER;
}

int ioctlRetrying(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

bool applyLineSettings(int fd, int baud) {
  if (baud <= 0) return false;  // zero would mean "hang up", not a line speed
  struct termios2 tio {};
  if (ioctlRetrying(fd, TCGETS2, &tio) < 0) return false;

  // Raw bytes both ways: no parity checks, no break or CR/LF handling, no XON/XOFF.
  tio.c_iflag = 0;
  tio.c_oflag = 0;
  tio.c_lflag = 0;

  // 8 data bits, no parity, one stop bit, no RTS/CTS; the modem status lines are ignored and
  // DTR drops when the last descriptor closes.
  const unsigned code = speedCodeOf(baud);
  tio.c_cflag = CS8 | CREAD | CLOCAL | HUPCL | code | (code << IBSHIFT);
  tio.c_ispeed = static_cast<speed_t>(baud);
  tio.c_ospeed = static_cast<speed_t>(baud);

  // A read takes whatever has arrived; the caller's poll loop does the waiting.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;

  return ioctlRetrying(fd, TCSETS2, &tio) == 0;
}

int currentBaud(int fd) {
  struct termios2 tio {};
  if (ioctlRetrying(fd, TCGETS2, &tio) < 0) return -1;
  const speed_t speed = tio.c_ispeed != 0 ? tio.c_ispeed : tio.c_ospeed;
  return static_cast<int>(speed);
}

}  // namespace quenby
