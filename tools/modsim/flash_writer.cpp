#include "tools/modsim/flash_writer.h"

#include <algorithm>
#include <cmath>

namespace quenby::modsim {
namespace {

constexpr std::uint32_t kSectorsPerBlock = FlashBlockSize / FlashSectorSize;
constexpr double kMicrosPerMs = 1000.0;
constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kBytesPerKib = 1024;
// Read back in pieces of this size, so that programming never waits long behind a read.
constexpr std::uint32_t kReadChunk = 4096;

}  // namespace

FlashWriter::FlashWriter(SimulatedFlash& flash, const BootSettings& settings)
    : flash_(flash),
      timing_(settings.flashTiming),
      sectorEraseMs_(settings.sectorEraseMs),
      blockEraseMs_(settings.blockEraseMs),
      pageProgramMs_(settings.pageProgramMs),
      readKibPerSecond_(std::max(1, settings.readKibPerSecond)) {}

std::int64_t FlashWriter::us(double ms) const { return timing_ ? std::llround(ms * kMicrosPerMs) : 0; }

void FlashWriter::newSession() {
  erasedSectors_.clear();
  erases_.clear();
  queue_.clear();
  queuedBytes_ = 0;
  running_ = false;
}

void FlashWriter::beginRegion(std::uint32_t address, std::uint32_t length) {
  queue_.clear();
  queuedBytes_ = 0;
  erases_.clear();
  writeAt_ = address;
  readAt_ = address;
  if (length == 0) return;
  // Whole sectors, skipping those this session has erased already (a sector shared with the
  // region before keeps that region's bytes); a whole 64 KiB block at once where one fits.
  const std::uint32_t first = address / FlashSectorSize;
  const std::uint32_t last = static_cast<std::uint32_t>((static_cast<std::uint64_t>(address) + length - 1) / FlashSectorSize);
  std::uint32_t s = first;
  while (s <= last) {
    if (erasedSectors_.count(s)) {
      ++s;
      continue;
    }
    const bool wholeBlock = s % kSectorsPerBlock == 0 && s + kSectorsPerBlock - 1 <= last &&
                            std::none_of(erasedSectors_.lower_bound(s), erasedSectors_.end(),
                                         [&](std::uint32_t e) { return e < s + kSectorsPerBlock; });
    const std::uint32_t n = wholeBlock ? kSectorsPerBlock : 1;
    erases_.push_back({static_cast<std::uint32_t>(s * FlashSectorSize), static_cast<std::uint32_t>(n * FlashSectorSize)});
    s += n;
  }
}

void FlashWriter::queue(std::string data) {
  queuedBytes_ += data.size();
  queue_.push_back(std::move(data));
}

bool FlashWriter::erased(std::uint32_t address, std::uint32_t length) const {
  for (std::uint32_t s = address / FlashSectorSize; s <= (address + length - 1) / FlashSectorSize; ++s)
    if (!erasedSectors_.count(s)) return false;
  return true;
}

bool FlashWriter::start(std::int64_t at) {
  // Programming frees the module's memory, so it goes first; the flash erases ahead meanwhile.
  if (!queue_.empty() && erased(writeAt_, static_cast<std::uint32_t>(queue_.front().size()))) {
    const auto pages = (queue_.front().size() + FlashPageSize - 1) / FlashPageSize;
    op_ = Op::Program;
    busyUntilUs_ = at + us(pageProgramMs_ * static_cast<double>(pages));
  } else if (!erases_.empty()) {
    op_ = Op::Erase;
    erasing_ = erases_.front();
    erases_.pop_front();
    busyUntilUs_ = at + us(erasing_.length == FlashBlockSize ? blockEraseMs_ : sectorEraseMs_);
  } else if (readAt_ < writeAt_) {
    op_ = Op::Read;
    reading_ = std::min<std::uint32_t>(writeAt_ - readAt_, kReadChunk);
    busyUntilUs_ = at + (timing_ ? static_cast<std::int64_t>(reading_) * kMicrosPerSecond /
                                       (static_cast<std::int64_t>(readKibPerSecond_) * kBytesPerKib)
                                 : 0);
  } else {
    return false;
  }
  running_ = true;
  return true;
}

void FlashWriter::finish() {
  running_ = false;
  if (op_ == Op::Read) {
    readAt_ += reading_;
    return;
  }
  if (op_ == Op::Erase) {
    flash_.erase(erasing_.address, erasing_.length);
    for (std::uint32_t s = 0; s < erasing_.length / FlashSectorSize; ++s)
      erasedSectors_.insert(erasing_.address / static_cast<std::uint32_t>(FlashSectorSize) + s);
    return;
  }
  const std::string data = std::move(queue_.front());
  queue_.pop_front();
  queuedBytes_ -= data.size();
  flash_.write(writeAt_, data);
  writeAt_ += static_cast<std::uint32_t>(data.size());
}

void FlashWriter::advance(std::int64_t nowUs) {
  // Each operation starts when the one before ended, so a late look loses no flash time.
  std::int64_t at = nowUs;
  for (;;) {
    if (running_) {
      if (busyUntilUs_ > nowUs) return;
      at = busyUntilUs_;
      finish();
    }
    if (!start(at)) return;
  }
}

std::optional<std::int64_t> FlashWriter::nextDueUs() const {
  if (!running_) return std::nullopt;
  return busyUntilUs_;
}

}  // namespace quenby::modsim
