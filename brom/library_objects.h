// The library's Download Agent and image objects, and their checks. The loaded contents are
// shared, immutable snapshots: a load replaces them whole, so a download that took them keeps
// writing what it took.
#pragma once

#include <cstdint>
#include <memory>

#include "brom/da_file.h"
#include "brom/rom_image.h"
#include "brom/scatter_file.h"
#include "engine/download_library.h"

namespace quenby::brom {

struct AgentObject {
  std::uint32_t chipValue = 0;
  std::shared_ptr<const DaFile> file;
};

struct ImageObject {
  std::shared_ptr<const Layout> layout;
  std::uint32_t option = 0;  // kept for the station; it changes nothing in the download
  std::shared_ptr<const RomBytes> image;
  bool enabled = false;
};

// 0 when the agent can go to a module of its chip value; fills info (may be null):
// word 0 chip value, 1 chip values the file supports, 2 payload length, 3 payload CRC-32.
int checkAgentObject(const AgentObject& agent, DaCheckInfo* info);

// 0 when the image can be written as laid out; fills info (may be null): word 0 region count,
// 1 bytes the regions take, 2 image length, 3 image option, 4 entry enabled.
int checkImageObject(const ImageObject& image, ImageCheckInfo* info);

}  // namespace quenby::brom
