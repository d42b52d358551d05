#include "brom/library_objects.h"

#include "brom/result_codes.h"

namespace quenby::brom {

int checkAgentObject(const AgentObject& agent, DaCheckInfo* info) {
  if (info) {
    *info = {};
    info->words[0] = agent.chipValue;
    if (agent.file) {
      info->words[1] = static_cast<std::uint32_t>(agent.file->chips.size());
      info->words[2] = static_cast<std::uint32_t>(agent.file->payload.size());
      info->words[3] = agent.file->payloadCrc;
    }
  }
  if (!agent.file) return OpNotLoaded;
  if (!agent.file->supports(agent.chipValue)) return OpChipNotSupported;
  return OpDone;
}

int checkImageObject(const ImageObject& image, ImageCheckInfo* info) {
  if (info) {
    *info = {};
    if (image.layout) {
      info->words[0] = static_cast<std::uint32_t>(image.layout->regions.size());
      info->words[1] = static_cast<std::uint32_t>(image.layout->totalBytes());
    }
    if (image.image) info->words[2] = static_cast<std::uint32_t>(image.image->size());
    info->words[3] = image.option;
    info->words[4] = image.enabled ? 1 : 0;
  }
  if (!image.layout || !image.image) return OpNotLoaded;
  if (!image.enabled) return OpEntryDisabled;
  for (const Region& region : image.layout->regions)
    if (region.length == 0) return OpEmptyRegion;
  if (image.layout->totalBytes() > image.image->size()) return OpImageTooShort;
  return OpDone;
}

}  // namespace quenby::brom
