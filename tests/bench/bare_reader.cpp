// The bare reader: what reading the same serial lines costs without anything the station does
// with the bytes. The same serial link class as the station's workers, one thread per port,
// each only reading (up to 4000 bytes or 300 ms a read).
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "engine/posix_serial_port.h"
#include "tests/bench/station_load.h"

namespace quenby::bench {

int bareReaderMain(const std::filesystem::path& portsDir, int count) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  constexpr int Baud = 115200;
  std::atomic<bool> stop{false};
  std::atomic<long long> bytes{0};
  std::vector<std::unique_ptr<PosixSerialPort>> ports;
  for (int n = 1; n <= count; ++n) {
    ports.push_back(std::make_unique<PosixSerialPort>(portsDir));
    if (!ports.back()->open(static_cast<std::uint16_t>(n), Baud)) {
      std::fprintf(stderr, "bare reader: %s\n", ports.back()->openProblem().c_str());
      return 1;
    }
  }
  std::vector<std::thread> readers;
  for (auto& port : ports) {
    readers.emplace_back([&stop, &bytes, serial = port.get()] {
      std::vector<char> buffer(ReadChunkMax);
      while (!stop.load()) bytes += static_cast<long long>(serial->read(buffer.data(), buffer.size()));
    });
  }
  int number = 0;
  ::sigwait(&stopSignals, &number);
  stop.store(true);
  for (auto& reader : readers) reader.join();
  std::printf("%lld\n", bytes.load());
  return 0;
}

}  // namespace quenby::bench
