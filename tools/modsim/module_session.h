// One simulated module at work on its pseudo-terminal, in its own thread: reads what the station
// sends as fast as the line carries it, lets the module model (or, in a firmware download, the
// boot ROM) answer, shapes the firmware's output with the scenario's faults and paces it onto
// the line.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "tools/modsim/bit_error_line.h"
#include "tools/modsim/boot_rom.h"
#include "tools/modsim/module_model.h"
#include "tools/modsim/pty_link.h"
#include "tools/modsim/scenario.h"
#include "tools/modsim/transcript.h"
#include "tools/modsim/uart_line.h"

namespace quenby::modsim {

class ModuleSession {
 public:
  ModuleSession(std::uint16_t port, ModuleScenario scenario, std::unique_ptr<PtyLink> link,
                std::unique_ptr<Transcript> transcript);
  // Stops the thread and takes the terminal and its link away.
  ~ModuleSession();

  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  void start();
  void stop();

 private:
  void run();
  // Carries out what the boot ROM asks of the UART and the firmware; `restarts` follows the
  // model's restarts that this has already dealt with.
  void takeBootEvents(BootRom& boot, ModuleModel& model, UartLine& line, BitErrorLine& toStation,
                      Millis now, std::uint64_t& restarts);

  std::uint16_t port_;
  ModuleScenario scenario_;
  std::unique_ptr<PtyLink> link_;
  std::unique_ptr<Transcript> transcript_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace quenby::modsim
