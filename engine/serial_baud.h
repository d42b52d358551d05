// Line settings of a serial descriptor: raw 8N1 without flow control at any baud rate the
// station uses (4800 to 921600, 14400 included).
#pragma once

namespace quenby {

// Applies the station's line settings at baud to fd. False when the device refuses them.
bool applyLineSettings(int fd, int baud);

// The baud rate currently set on fd (input speed), or -1.
int currentBaud(int fd);

}  // namespace quenby
