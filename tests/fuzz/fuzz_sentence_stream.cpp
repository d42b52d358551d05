// Received text from a module, in reads of input-chosen sizes, through the start-up watch, the
// text assembler and the sentence parser of a worker wired to fakes.
//
// Input: byte 0 chooses the items still to do (low 3 bits), TTFF armed (bit 3) and how many
// seconds the current item has run (high 4 bits); bytes 1 and 2 choose the read sizes; the rest
// is what the module sends.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/nmea_sentence.h"
#include "engine/sentence_parser.h"
#include "engine/text_assembler.h"
#include "tests/fakes/worker_harness.h"

namespace {

using namespace quenby;

constexpr std::size_t HeaderBytes = 3;
// Read sizes go up to this many bytes unless byte 1 asks for whole reads.
constexpr std::size_t SmallReadMax = 300;

constexpr std::array<std::uint32_t, 8> ItemChoices = {
    0,
    item::ColdStartTtff,
    item::AcquisitionTime | item::SignalQuality,
    item::AcquisitionTime,
    item::VersionGroup,
    item::SignalQuality | item::ColdStartTtff,
    item::BluetoothMac | item::FactoryReset,
    item::OfferedItems | item::VersionGroup | item::BluetoothMac,
};

testing::WorkerHarness& harness() {
  static testing::WorkerHarness h;
  static const bool started = [] {
    h.settings.enableTest = item::FirmwareVersion;
    h.worker->startRun();
    return true;
  }();
  (void)started;
  return h;
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < HeaderBytes) return 0;
  testing::WorkerHarness& h = harness();
  WorkerRecord& r = h.worker->record();

  const std::uint8_t mode = data[0];
  r.pendingText.clear();
  r.workText.clear();
  r.satellites = {};
  r.results = {};
  r.startupCarry.clear();
  r.verdictWord.store(0);
  r.testItems.store(ItemChoices[mode & 0x7]);
  r.ttffArmed = (mode & 0x8) != 0;
  r.itemStartTick = h.clock.counter() - (mode >> 4);
  h.view.memo.clear();
  h.view.events.clear();
  h.module->purges.clear();

  const std::size_t base = data[1];
  const std::size_t step = data[2];
  const std::string_view stream(reinterpret_cast<const char*>(data + HeaderBytes),
                                size - HeaderBytes);
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t readSize =
        base == 0 ? ReadChunkMax : 1 + (base * (i + 1) + step * i) % SmallReadMax;
    const std::string_view chunk = stream.substr(at, readSize);
    at += chunk.size();

    chunkHasStartupMessage(r, chunk);
    assembleWorkText(r, chunk);
    check(r.workText.length < r.workText.bytes.size() && r.workText.bytes[r.workText.length] == 0);
    check(r.pendingText.length < r.pendingText.bytes.size());
    parseWorkText(*h.worker);
    check(r.startupCarry.size() < StartupMessage.size());
    // Reply texts are kept whole, so they are bounded by the work text they came from.
    check(r.results.firmwareVersion.value.size() < WorkTextCapacity);
    check(r.results.nmeaType.value.size() < WorkTextCapacity);
    h.clock.advanceMs(ReadTimeoutMs);
  }
  return 0;
}
