#include "tools/modsim/module_session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "engine/serial_baud.h"
#include "tools/modsim/fault_shaper.h"
#include "tools/modsim/module_model.h"
#include "tools/modsim/station_commands.h"
#include "tools/modsim/uart_line.h"

namespace quenby::modsim {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes taken from the terminal in one read.
constexpr std::size_t kReadChunk = 4096;
// The loop looks at the stop request at least this often.
constexpr Millis kLongestWaitMs = 20;
// Seeds the noise of each port differently, and the same on every run.
constexpr std::uint32_t kNoiseSeedBase = 0x51u;

Millis msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

ModuleSession::ModuleSession(std::uint16_t port, ModuleScenario scenario, std::unique_ptr<PtyLink> link,
                             std::unique_ptr<Transcript> transcript)
    : port_(port),
      scenario_(std::move(scenario)),
      link_(std::move(link)),
      transcript_(transcript ? std::move(transcript) : std::make_unique<Transcript>()) {}

ModuleSession::~ModuleSession() {
  stop();
  link_->close();
}

void ModuleSession::start() { thread_ = std::thread([this] { run(); }); }

void ModuleSession::stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
}

void ModuleSession::run() {
  const int master = link_->masterFd();
  const Clock::time_point powerUp = Clock::now();
  ModuleModel model(scenario_, std::chrono::system_clock::now());
  CommandReader reader;
  const std::uint32_t seed = kNoiseSeedBase * port_ + 1;
  FaultShaper shaper(scenario_.faults, seed);
  UartLine line(master, scenario_.baud, scenario_.pace, seed ^ 0xA5A5u);

  std::uint64_t restarts = model.restarts();
  char buffer[kReadChunk];
  while (!stopping_.load()) {
    // The station's end of the line tells its baud rate; a UART at another rate understands
    // nothing of what arrives.
    const int stationBaud = currentBaud(master);
    const bool sameSpeed = stationBaud <= 0 || stationBaud == scenario_.baud;

    while (true) {
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // nothing more for now (EAGAIN), or no one on the slave side (EIO)
      const std::string_view bytes(buffer, static_cast<std::size_t>(n));
      transcript_->record(bytes);
      if (!sameSpeed) {
        reader.reset();
        continue;
      }
      const Millis now = msBetween(powerUp, Clock::now());
      for (const StationCommand& command : reader.feed(bytes)) model.receive(command, now);
    }
    if (model.restarts() != restarts) {
      // A restarting module drops whatever its UART had still to send.
      restarts = model.restarts();
      line.clear();
    }

    const Clock::time_point wall = Clock::now();
    const Millis now = msBetween(powerUp, wall);
    for (const Emission& e : model.advance(now)) line.send(shaper.shape(e));
    line.pump(wall);

    if (const std::optional<Millis> vanish = model.vanishAt(); vanish && now >= *vanish) {
      // The module is pulled off the line: its terminal and link disappear for good.
      link_->close();
      return;
    }

    Millis wait = std::min(kLongestWaitMs, model.nextDue() - now);
    if (const auto next = line.nextWriteAt()) wait = std::min(wait, msBetween(Clock::now(), *next));
    if (const std::optional<Millis> vanish = model.vanishAt()) wait = std::min(wait, *vanish - now);
    pollfd fd{master, POLLIN, 0};
    (void)::poll(&fd, 1, static_cast<int>(std::clamp<Millis>(wait, 1, kLongestWaitMs)));
  }
}

}  // namespace quenby::modsim
