// The download's own serial descriptor: opened exclusively (flock and TIOCEXCL) like the
// station's ports, raw 8N1 at any rate, switched to another rate mid-session, and written with a
// time limit that fits the rate (a 4 KiB block takes 8.5 s at 4800 baud), watching a stop
// request all the while.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>

namespace quenby::brom {

class BromSerial {
 public:
  using Clock = std::chrono::steady_clock;
  using StopCheck = std::function<bool()>;

  enum class Open { Opened, CannotOpen, LineSettingsRefused };
  enum class Write {
    Written,        // every byte handed to the line
    StoppedBefore,  // stop requested before the first byte went
    StoppedInside,  // stop requested with part of the bytes sent
    Failed,         // line error, or the time limit passed
  };
  enum class Read { Data, Nothing, LineGone };

  BromSerial() = default;
  ~BromSerial();
  BromSerial(const BromSerial&) = delete;
  BromSerial& operator=(const BromSerial&) = delete;

  // Opens the device behind link at baud and empties both queues.
  Open open(const std::filesystem::path& link, int baud);
  bool isOpen() const { return fd_ >= 0; }
  // Switches the line to another rate at once.
  bool setBaud(int baud);
  int baud() const { return baud_; }

  // Writes all of bytes. stopRequested is asked before the first byte and whenever the line
  // has kept the writer waiting for StopPollInterval.
  Write write(std::span<const std::uint8_t> bytes, const StopCheck& stopRequested);

  // Reads what has arrived, waiting at most `wait` for the first byte.
  Read read(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait, std::size_t& got);

  // Bytes still in the transmit queue.
  std::size_t queuedOutput() const;
  // Waits until the transmit queue is empty or `limit` has passed. True when it emptied.
  bool drain(std::chrono::milliseconds limit);
  void discardOutput();
  void discardInput();

  // Gives up the port: whatever is still queued is dropped, so the close never waits for it.
  void close();

  // How long `bytes` take on the line at `baud` (ten bit times a byte).
  static std::chrono::milliseconds lineTime(std::size_t bytes, int baud);

 private:
  int fd_ = -1;
  int baud_ = 0;
  bool exclusive_ = false;
};

}  // namespace quenby::brom
