// The serial link on Linux: port n is the link ports/COM<n> in the program's folder (to a USB
// serial adapter, a /dev/serial/by-path name or a simulator's pseudo-terminal).
#pragma once

#include <filesystem>
#include <mutex>

#include "engine/serial_port.h"

namespace quenby {

class PosixSerialPort final : public SerialPort {
 public:
  // portsDir holds the COM<n> links; by default the ports folder beside the program.
  PosixSerialPort();
  explicit PosixSerialPort(std::filesystem::path portsDir);
  ~PosixSerialPort() override;

  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool open(std::uint16_t port, int baud) override;
  bool isOpen() const override;
  void writeText(std::string_view text) override;
  void writeFixed(std::string_view sentence13) override;
  std::size_t read(char* buffer, std::size_t max) override;
  void purge(Purge what) override;
  void close() override;

 private:
  // A call in progress holds a use of the descriptor; close() from another thread marks the port
  // closed at once, wakes a waiting read, and the last use releases the descriptor.
  int acquire();
  void release();
  void closeLocked(std::unique_lock<std::mutex>& lock);
  void writeAll(const char* data, std::size_t size);

  std::filesystem::path portsDir_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  int wakeFd_ = -1;  // eventfd that interrupts a waiting read or write when the port closes
  int users_ = 0;
  bool closing_ = false;
};

}  // namespace quenby
