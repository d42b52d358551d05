#include "brom/boot_sync.h"

#include <algorithm>

#include "brom/protocol.h"

namespace quenby::brom {

SyncEnd syncBootRom(SessionLink& link, SyncWindow& window) {
  using Clock = SessionLink::Clock;
  using Wait = SessionLink::Wait;

  Clock::time_point nextSync = Clock::now();
  bool lineGone = false;
  while (Clock::now() < window.end) {
    if (!window.told && Clock::now() >= window.end - SyncEndingNotice) {
      window.told = true;
      if (window.ending) window.ending();
    }
    if (Clock::now() >= nextSync) {
      // A line that cannot be written to is as good as silent; keep trying until the limit.
      if (link.sendByte(SyncByte) == Wait::Stopped) return SyncEnd::Stopped;
      nextSync += SyncInterval;
    }
    const auto until = std::min(nextSync, window.end);
    if (lineGone) {
      if (link.pause(until) == Wait::Stopped) return SyncEnd::Stopped;
      continue;
    }
    std::uint8_t byte = 0;
    switch (link.readByte(byte, until)) {
      case Wait::Got:
        window.heard = true;
        if (byte == BootRomAlive) {
          // Sync bytes still on their way are answered too; those answers are dropped.
          if (link.discardUntil(Clock::now() + SyncDrain) == Wait::Stopped) return SyncEnd::Stopped;
          return SyncEnd::Synced;
        }
        // Anything else (NMEA of a module not yet restarted, line noise) is passed over.
        break;
      case Wait::Stopped:
        return SyncEnd::Stopped;
      case Wait::Failed:
        lineGone = true;
        break;
      case Wait::TimedOut:
        break;
    }
  }
  return window.heard ? SyncEnd::Foreign : SyncEnd::Silent;
}

}  // namespace quenby::brom
