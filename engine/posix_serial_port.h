// The serial link on Linux: port n is the link ports/COM<n> in the program's folder (to a USB
// serial adapter, a /dev/serial/by-path name or a simulator's pseudo-terminal).
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

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
  std::string openProblem() const override;
  std::string lineProblem() const override;
  void writeText(std::string_view text) override;
  void writeFixed(std::string_view sentence13) override;
  std::size_t read(char* buffer, std::size_t max) override;
  void purge(Purge what) override;
  void close() override;

 private:
  // One opened port: its descriptor and the eventfd that wakes calls waiting on it. Every call
  // holds a reference while it uses the descriptor; close() drops the object's own reference and
  // wakes the waiters, and the last reference closes the descriptor, so its number cannot be
  // reused while a read or write still runs.
  struct Link;

  std::shared_ptr<Link> acquire() const;
  static void writeAll(const Link& link, const char* data, std::size_t size);
  // Remembers why an open failed; returns false for the open to return.
  bool refuse(const std::filesystem::path& path, const std::string& reason);
  // A read found the line failed (error: the read's errno, 0 for a hang-up): remembers why, when
  // it means the device has gone.
  void noteLineGone(int error);

  std::filesystem::path portsDir_;
  mutable std::mutex mutex_;
  std::shared_ptr<Link> link_;  // null while closed
  std::string openProblem_;
  std::filesystem::path openedPath_;
  std::string lineProblem_;
};

}  // namespace quenby
