// The host's side of one download session, from the first sync byte to FINISH: sync and HELLO
// at the boot speed, the speed change, the Download Agent, FLASH_INFO, every region of the
// image with its verify, and the result code the station shows.
#pragma once

#include <cstdint>
#include <memory>

#include "brom/da_file.h"
#include "brom/progress_meter.h"
#include "brom/rom_image.h"
#include "brom/scatter_file.h"
#include "brom/session_link.h"
#include "engine/download_library.h"

namespace quenby::brom {

// What one download writes, taken from the handles when it starts; later loads do not touch it.
struct DownloadPlan {
  int baud = 0;                 // the download speed
  std::uint32_t chipValue = 0;  // set on the Download Agent handle
  std::shared_ptr<const DaFile> agent;
  std::shared_ptr<const Layout> layout;
  std::shared_ptr<const RomBytes> image;
  PhaseCallbacks agentPhase;
  PhaseCallbacks imagePhase;
};

// The download report's words as this library fills them.
namespace report_word {
inline constexpr int ModuleChip = 0;         // chip value in HELLO_ACK
inline constexpr int FlashDevice = 1;        // FLASH_INFO's device number
inline constexpr int BootRomVersion = 2;     // boot ROM version in HELLO_ACK
inline constexpr int RegionsWritten = 3;     // regions written and verified
inline constexpr int FlashIdentified = 4;    // FLASH_INFO's identified flag
inline constexpr int ImageBytesWritten = 5;  // bytes of those regions
}  // namespace report_word

// Runs the session on a link whose port is open at the boot speed. A stopped session ends with
// ABORT. Returns the download result (0, or the error class and boot-ROM sub-code).
std::uint32_t runDownloadSession(SessionLink& link, const DownloadPlan& plan,
                                 DownloadReport& report);

}  // namespace quenby::brom
