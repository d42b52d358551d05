#include "tools/modsim/module_session.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "engine/serial_baud.h"
#include "tools/modsim/bit_error_line.h"
#include "tools/modsim/fault_shaper.h"
#include "tools/modsim/station_commands.h"
#include "tools/modsim/uart_receiver.h"

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

Millis msBetweenRoundedUp(Clock::time_point from, Clock::time_point to) {
  return std::chrono::ceil<std::chrono::milliseconds>(to - from).count();
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
  UartReceiver receiver(master, scenario_.pace);
  SimulatedFlash flash(static_cast<std::uint32_t>(scenario_.boot.flashSize));
  BootRom boot(scenario_.boot, flash);
  // The boot-ROM line's bit errors and stray bytes, each direction from a seed of its own.
  const std::uint64_t lineSeed = scenario_.boot.lineSeed != 0 ? static_cast<std::uint64_t>(scenario_.boot.lineSeed) : seed;
  BitErrorLine toModule(scenario_.boot.bitErrorRate, scenario_.boot.strayRate, lineSeed * 2);
  BitErrorLine toStation(scenario_.boot.bitErrorRate, scenario_.boot.strayRate, lineSeed * 2 + 1);

  std::uint64_t restarts = model.restarts();
  char buffer[kReadChunk];
  while (!stopping_.load()) {
    // The station's end of the line tells its baud rate; a UART at another rate understands
    // nothing of what arrives.
    const int stationBaud = currentBaud(master);
    const int lineBaud = stationBaud > 0 ? stationBaud : line.moduleBaud();

    while (true) {
      const std::size_t n = receiver.read(buffer, sizeof buffer, lineBaud, Clock::now());
      if (n == 0) break;  // nothing more for now
      std::string_view bytes(buffer, n);
      transcript_->record(bytes);
      // The boot ROM hears the station through the noisy line; the firmware's NMEA line is clean.
      std::string damaged;
      if (boot.active()) {
        damaged = toModule.carry(bytes);
        bytes = damaged;
      }
      const Millis now = msBetween(powerUp, Clock::now());
      // A sync byte at the boot speed powers the module up into its boot ROM; the bytes before it
      // still reach the firmware.
      const std::string_view forFirmware = boot.receive(bytes, stationBaud, now);
      if (stationBaud > 0 && stationBaud != scenario_.baud) {
        reader.reset();
      } else {
        for (const StationCommand& command : reader.feed(forFirmware)) model.receive(command, now);
      }
      if (boot.active()) reader.reset();
      takeBootEvents(boot, model, line, toStation, now, restarts);
    }
    if (model.restarts() != restarts) {
      // A restarting module drops whatever its UART had still to send.
      restarts = model.restarts();
      line.clear();
    }

    const Clock::time_point wall = Clock::now();
    const Millis now = msBetween(powerUp, wall);
    boot.advance(now);
    takeBootEvents(boot, model, line, toStation, now, restarts);
    for (const Emission& e : model.advance(now)) line.send(shaper.shape(e));
    line.pump(wall);

    if (const std::optional<Millis> vanish = model.vanishAt(); vanish && now >= *vanish) {
      // The module is pulled off the line: its terminal and link disappear for good.
      link_->close();
      return;
    }

    const Clock::time_point after = Clock::now();
    Millis wait = std::min({kLongestWaitMs, model.nextDue() - now, boot.nextDue() - now});
    if (const auto next = line.nextWriteAt()) wait = std::min(wait, msBetweenRoundedUp(after, *next));
    if (const std::optional<Millis> vanish = model.vanishAt()) wait = std::min(wait, *vanish - now);
    // While the line has not delivered the next byte, the bytes waiting in the terminal stay there.
    const Clock::time_point nextByte = receiver.nextByteAt(lineBaud);
    const bool listen = nextByte <= after;
    if (!listen) wait = std::min(wait, msBetweenRoundedUp(after, nextByte));
    pollfd fd{master, static_cast<short>(listen ? POLLIN : 0), 0};
    (void)::poll(&fd, 1, static_cast<int>(std::clamp<Millis>(wait, 1, kLongestWaitMs)));
  }
}

void ModuleSession::takeBootEvents(BootRom& boot, ModuleModel& model, UartLine& line,
                                   BitErrorLine& toStation, Millis now, std::uint64_t& restarts) {
  for (BootEvent& e : boot.takeEvents()) {
    switch (e.kind) {
      case BootEvent::Kind::PowerUp:
        // The firmware stops, and what its UART had still to send is lost.
        model.enterBootRom();
        line.clear();
        restarts = model.restarts();
        break;
      case BootEvent::Kind::Send:
        line.send({Piece{toStation.carry(e.bytes), 0}});
        break;
      case BootEvent::Kind::SwitchSpeed:
        line.switchSpeed(e.baud);
        break;
      case BootEvent::Kind::StartFirmware:
        // The boot ROM's last answer still goes out at the download speed.
        line.switchSpeed(scenario_.baud);
        model.startFirmware(now, std::move(e.version));
        restarts = model.restarts();
        break;
    }
  }
}

}  // namespace quenby::modsim
