// The sync with the boot ROM: 0xA5 every SyncInterval until it answers 0x5A, at the speed the
// line is set to, for the whole power-up window whatever else the line carries (a module still
// running its firmware streams NMEA until it is power-cycled).
#pragma once

#include <functional>

#include "brom/session_link.h"

namespace quenby::brom {

enum class SyncEnd {
  Synced,
  Silent,   // no byte at all within the window
  Foreign,  // bytes, but no 0x5A: something that is not a boot ROM we know
  Stopped,
};

// One power-up window, which may take several syncs (a HELLO that goes unanswered syncs again).
struct SyncWindow {
  SessionLink::Clock::time_point end;
  bool heard = false;  // any byte came during the window
  // Called once when SyncEndingNotice of the window is left and the boot ROM has not answered.
  std::function<void()> ending;
  bool told = false;
};

SyncEnd syncBootRom(SessionLink& link, SyncWindow& window);

}  // namespace quenby::brom
