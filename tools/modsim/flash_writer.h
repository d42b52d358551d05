// The Download Agent's work on the flash, with the flash's timing: at REGION_BEGIN it plans the
// erase of every 4 KiB sector the region touches (a 64 KiB block at a time where it can) and
// erases ahead whenever the flash has nothing to program; received data is programmed page by
// page in order once its sectors are erased, and read back for VERIFY whenever the flash would
// otherwise be idle, so that VERIFY waits only for what is left. The flash does one operation at
// a time; time is in microseconds since the simulator started.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>

#include "tools/modsim/scenario.h"
#include "tools/modsim/simulated_flash.h"

namespace quenby::modsim {

inline constexpr std::uint32_t FlashBlockSize = 65536;
inline constexpr std::uint32_t FlashPageSize = 256;

class FlashWriter {
 public:
  FlashWriter(SimulatedFlash& flash, const BootSettings& settings);

  // A new session: every sector may need erasing again.
  void newSession();
  // A region begins at `address`: its data comes next, in order.
  void beginRegion(std::uint32_t address, std::uint32_t length);
  // The region's next bytes, to be programmed after those queued before.
  void queue(std::string data);
  // Bytes received and not yet programmed.
  std::size_t queuedBytes() const { return queuedBytes_; }
  // True when nothing is queued, planned or running, and everything programmed is read back.
  bool idle() const { return !running_ && queue_.empty() && erases_.empty() && readAt_ == writeAt_; }

  // Carries out the operations due by nowUs.
  void advance(std::int64_t nowUs);
  // When the running operation ends, if one runs.
  std::optional<std::int64_t> nextDueUs() const;

 private:
  struct Erase {
    std::uint32_t address = 0;
    std::uint32_t length = 0;
  };
  enum class Op { Erase, Program, Read };

  bool erased(std::uint32_t address, std::uint32_t length) const;
  // Starts the next operation at `at`; false when there is none.
  bool start(std::int64_t at);
  void finish();
  std::int64_t us(double ms) const;

  SimulatedFlash& flash_;
  bool timing_;
  double sectorEraseMs_, blockEraseMs_, pageProgramMs_;
  int readKibPerSecond_;
  std::set<std::uint32_t> erasedSectors_;  // in this session
  std::deque<Erase> erases_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  std::uint32_t writeAt_ = 0;  // flash address of the next queued byte
  std::uint32_t readAt_ = 0;   // flash address of the next byte to read back
  std::uint32_t reading_ = 0;  // bytes of the read running
  bool running_ = false;
  Op op_ = Op::Erase;
  Erase erasing_;
  std::int64_t busyUntilUs_ = 0;
};

}  // namespace quenby::modsim
