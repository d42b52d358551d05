// The per-port run state of a worker: received-text buffers, satellite table, item result slots,
// run fail code, verdict word, ticks, and the test-item set still to do.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/download_library.h"
#include "engine/satellite_table.h"
#include "engine/serial_port.h"

namespace quenby {

// The pending text is thrown away once it grows beyond this many characters (a module that sends
// no sentence start for that long is sending garbage).
inline constexpr std::size_t PendingTextLimit = 3750;
// The work text holds the pending text plus one full read and the terminating zero.
inline constexpr std::size_t WorkTextCapacity = PendingTextLimit + ReadChunkMax + 1;
// The pending text is cut from the work text, so it can be as long.
inline constexpr std::size_t PendingTextCapacity = WorkTextCapacity;

// A received-text buffer with a zero-terminated view of its contents.
template <std::size_t Capacity>
struct TextBuffer {
  std::array<char, Capacity> bytes{};
  std::size_t length = 0;

  void clear() {
    bytes.fill(0);
    length = 0;
  }
  std::string_view view() const { return {bytes.data(), length}; }
};

// One item's result: recorded once the item has a result, a failure or a time-out.
struct ItemSlot {
  bool recorded = false;
  std::string value;
  bool operator==(const ItemSlot&) const = default;
};

// A result with two values (TCXO offset and drift; CNR mean and sigma).
struct PairSlot {
  bool recorded = false;
  std::string first;
  std::string second;
  bool operator==(const PairSlot&) const = default;
};

struct UpdateHzSlot {
  float rate = 0.0f;  // measured rate, Hz
  std::string value;  // time-out text when the item timed out
  bool recorded = false;
  bool operator==(const UpdateHzSlot&) const = default;
};

struct ItemResults {
  ItemSlot flashDownload;    // flash type or download error text
  ItemSlot firmwareVersion;  // version text
  ItemSlot nmeaType;         // output-rate text
  ItemSlot acquisitionTime;  // seconds
  ItemSlot bitSyncTime;      // seconds
  ItemSlot phase;            // phase ratio
  PairSlot tcxo;             // offset; drift
  PairSlot cnr;              // mean; sigma
  ItemSlot coldStartTtff;    // seconds
  ItemSlot factoryReset;     // seconds
  ItemSlot bluetoothMac;     // address text
  UpdateHzSlot updateHz;
  bool operator==(const ItemResults&) const = default;
};

// The run fail code before any verdict sets one.
inline constexpr const char* AbortFailCode = "Abort";

struct WorkerRecord {
  std::uint16_t port = 0;

  TextBuffer<PendingTextCapacity> pendingText;  // the unfinished tail of the received text
  TextBuffer<WorkTextCapacity> workText;
  SatelliteTable satellites{};
  bool ttffArmed = false;
  DownloadReport downloadReport;

  std::int32_t itemStartTick = 0;
  std::int32_t runStartTick = 0;
  std::int32_t commandTick = 0;

  ItemResults results;
  std::string runFailCode = AbortFailCode;
  bool resetWait = false;
  bool commandSent = false;

  // Download result, then each verdict's pass (1) or fail (0); decides the log's Pass/Fail.
  // Zeroed by Stop from the user-interface thread.
  std::atomic<std::uint32_t> verdictWord{0};
  // The items still to do in this run. Emptied by Stop and port-window close from the
  // user-interface thread at any moment; the run loop ends once it reads zero.
  std::atomic<std::uint32_t> testItems{0};
  // This run's download stop word, watched by the download library: 0 from the run start,
  // DownloadStopRequest once Stop, the port window's close or the station's close asked the run
  // to end. Each run has its own, so that no later run can take back a stop made for this one.
  std::atomic<std::uint32_t> downloadStopWord{0};

  std::uint32_t gaugeColor = 0x0000FF;  // red
  std::uint16_t gaugePosition = 0;

  // The last bytes of the previous raw chunk, so that the module's start-up message is seen even
  // when a read ends inside it.
  std::string startupCarry;

  bool hasItem(std::uint32_t bits) const { return (testItems.load() & bits) != 0; }
  void clearItem(std::uint32_t bits) { testItems.fetch_and(~bits); }
  void clearAllItems() { testItems.store(0); }
};

}  // namespace quenby
