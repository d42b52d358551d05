// The sync with the boot ROM: 0xA5 every SyncInterval until it answers 0x5A, at the speed the
// line is set to.
#pragma once

#include "brom/session_link.h"

namespace quenby::brom {

enum class SyncEnd {
  Synced,
  Silent,   // no byte at all within SyncLimit
  Foreign,  // bytes, but no 0x5A: something that is not a boot ROM we know
  Stopped,
};

SyncEnd syncBootRom(SessionLink& link);

}  // namespace quenby::brom
