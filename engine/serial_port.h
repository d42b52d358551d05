// The serial link of one port: what a worker needs of its module's serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenby {

// Bytes one read asks for, and its time limit.
inline constexpr std::size_t ReadChunkMax = 4000;
inline constexpr int ReadTimeoutMs = 300;
// A fixed sentence is 13 characters (CR LF included) followed by one zero byte.
inline constexpr std::size_t FixedSentenceBytes = 14;

enum class Purge {
  Full,     // both directions aborted and cleared
  Receive,  // receive direction aborted and cleared
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens port number n at the baud rate with the station's line settings, closing a port this
  // object had open first. False when the port is missing, held elsewhere or refuses the settings.
  virtual bool open(std::uint16_t port, int baud) = 0;
  virtual bool isOpen() const = 0;
  // Why the last open failed, for the operator: the port's path and the reason ("no such
  // device", "held by another station", "not a serial device", ...). Empty when it did not fail
  // or the link cannot tell.
  virtual std::string openProblem() const { return {}; }
  // Why the open port stopped working: its device is gone (an adapter unplugged, a fixture
  // without power), with the port's path. Empty while the line works, and after a new open.
  virtual std::string lineProblem() const { return {}; }

  // Writes the characters of text, no terminating zero. The result is not looked at by callers.
  virtual void writeText(std::string_view text) = 0;
  // Writes a 13-character sentence (CR LF included) followed by one zero byte: 14 bytes.
  virtual void writeFixed(std::string_view sentence13) = 0;

  // Reads up to max (at most ReadChunkMax) bytes; returns when max bytes arrived or ReadTimeoutMs
  // after it began. Returns the count; a failed read, or a closed port, counts as 0.
  virtual std::size_t read(char* buffer, std::size_t max) = 0;

  virtual void purge(Purge what) = 0;

  // Closes the port. Safe to call from another thread while a read or write is in progress: the
  // read returns early and the descriptor is released only when no call uses it any more.
  virtual void close() = 0;
};

}  // namespace quenby
