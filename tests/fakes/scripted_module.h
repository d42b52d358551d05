// A scripted module behind a fake serial port: chunks become readable at chosen moments of
// virtual time, writes are recorded and can trigger replies.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/serial_port.h"
#include "tests/fakes/virtual_clock.h"

namespace quenby::testing {

class ScriptedModule final : public SerialPort {
 public:
  explicit ScriptedModule(VirtualClock& clock) : clock_(clock) {}

  // ---- Script -------------------------------------------------------------------------
  // A chunk that the next read returns (reads return at most the asked count; the rest waits).
  void send(std::string chunk) { sendAtMs(clock_.elapsedMs(), std::move(chunk)); }
  // A chunk readable once the virtual time reaches ms (since the clock's start).
  void sendAtMs(std::int64_t ms, std::string chunk) {
    auto it = script_.begin();
    while (it != script_.end() && it->atMs <= ms) ++it;
    script_.insert(it, Timed{ms, std::move(chunk)});
  }
  // Called at the start of every read with the virtual time (ms); lets a test act mid-run.
  std::function<void(std::int64_t)> beforeRead;
  // Called with the bytes of every write (text or fixed sentence, zero byte included).
  std::function<void(std::string_view)> onWrite;

  // ---- What happened ------------------------------------------------------------------
  bool failOpen = false;
  std::string openProblemText;  // what a failed open tells
  int opens = 0;
  int lastBaud = 0;
  std::uint16_t lastPort = 0;
  std::vector<std::string> writes;  // every write, in order
  std::vector<Purge> purges;
  int closes = 0;

  // ---- SerialPort ---------------------------------------------------------------------
  bool open(std::uint16_t port, int baud) override {
    ++opens;
    lastPort = port;
    lastBaud = baud;
    open_ = !failOpen;
    return open_;
  }
  bool isOpen() const override { return open_; }
  std::string openProblem() const override { return open_ ? "" : openProblemText; }
  void writeText(std::string_view text) override { recordWrite(std::string(text)); }
  void writeFixed(std::string_view sentence13) override {
    std::string bytes(sentence13);
    bytes.push_back('\0');
    recordWrite(bytes);
  }
  std::size_t read(char* buffer, std::size_t max) override {
    if (beforeRead) beforeRead(clock_.elapsedMs());
    if (!open_) {
      clock_.advanceMs(ReadTimeoutMs);
      return 0;
    }
    if (script_.empty() || script_.front().atMs > clock_.elapsedMs()) {
      // Silence: the read waits its full time. Jump to a chunk due within that time.
      clock_.advanceMs(ReadTimeoutMs);
      return 0;
    }
    Timed& next = script_.front();
    const std::size_t n = std::min({max, next.bytes.size(), ReadChunkMax});
    std::memcpy(buffer, next.bytes.data(), n);
    if (n == next.bytes.size())
      script_.pop_front();
    else
      next.bytes.erase(0, n);
    clock_.advanceMs(20);  // the chunk's transfer time
    return n;
  }
  // Either purge drops what has reached the port and not been read.
  void purge(Purge what) override {
    purges.push_back(what);
    while (!script_.empty() && script_.front().atMs <= clock_.elapsedMs()) script_.pop_front();
  }
  void close() override {
    if (open_) ++closes;
    open_ = false;
  }

  // Everything written, concatenated.
  std::string allWritten() const {
    std::string all;
    for (const auto& w : writes) all += w;
    return all;
  }
  bool scriptDone() const { return script_.empty(); }

 private:
  struct Timed {
    std::int64_t atMs;
    std::string bytes;
  };
  void recordWrite(std::string bytes) {
    if (!open_) return;
    writes.push_back(bytes);
    if (onWrite) onWrite(writes.back());
  }

  VirtualClock& clock_;
  std::deque<Timed> script_;
  bool open_ = false;
};

}  // namespace quenby::testing
