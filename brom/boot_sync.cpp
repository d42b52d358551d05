#include "brom/boot_sync.h"

#include <algorithm>

#include "brom/protocol.h"

namespace quenby::brom {

SyncEnd syncBootRom(SessionLink& link) {
  using Clock = SessionLink::Clock;
  using Wait = SessionLink::Wait;

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + SyncLimit;
  const Clock::time_point graceEnd = start + SyncGrace;
  Clock::time_point nextSync = start;
  bool heardAnything = false;
  bool lineGone = false;
  int foreignBytes = 0;

  while (Clock::now() < deadline) {
    if (Clock::now() >= nextSync) {
      // A line that cannot be written to is as good as silent; keep trying until the limit.
      const Wait sent = link.sendByte(SyncByte);
      if (sent == Wait::Stopped) return SyncEnd::Stopped;
      nextSync += SyncInterval;
    }
    if (lineGone) {
      if (link.pause(std::min(nextSync, deadline)) == Wait::Stopped) return SyncEnd::Stopped;
      continue;
    }
    std::uint8_t byte = 0;
    switch (link.readByte(byte, std::min(nextSync, deadline))) {
      case Wait::Got:
        heardAnything = true;
        if (byte == BootRomAlive) {
          // Sync bytes still on their way are answered too; those answers are dropped.
          if (link.discardUntil(Clock::now() + SyncDrain) == Wait::Stopped) return SyncEnd::Stopped;
          return SyncEnd::Synced;
        }
        if (Clock::now() >= graceEnd && ++foreignBytes >= MaxForeignSyncBytes)
          return SyncEnd::Foreign;
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
  return heardAnything ? SyncEnd::Foreign : SyncEnd::Silent;
}

}  // namespace quenby::brom
