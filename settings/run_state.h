// The run state kept beside the test settings: ports found and chosen, the download library's
// handles, the words that the user-interface thread and the workers share during a run.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "settings/library_handles.h"
#include "settings/test_settings.h"

namespace quenby {

// A list of port numbers with a fixed capacity; appending to a full list is refused.
template <std::size_t Capacity>
class PortList {
 public:
  static constexpr std::size_t capacity = Capacity;

  bool push(std::uint16_t port) {
    if (count_ >= Capacity) return false;
    ports_[count_++] = port;
    return true;
  }
  void clear() {
    ports_.fill(0);
    count_ = 0;
  }
  bool full() const { return count_ >= Capacity; }
  bool empty() const { return count_ == 0; }
  std::uint16_t size() const { return count_; }
  std::uint16_t operator[](std::size_t i) const { return ports_[i]; }
  const std::uint16_t* begin() const { return ports_.data(); }
  const std::uint16_t* end() const { return ports_.data() + count_; }
  bool contains(std::uint16_t port) const {
    for (auto p : *this)
      if (p == port) return true;
    return false;
  }
  bool operator==(const PortList& other) const {
    if (count_ != other.count_) return false;
    for (std::size_t i = 0; i < count_; ++i)
      if (ports_[i] != other.ports_[i]) return false;
    return true;
  }

 private:
  std::array<std::uint16_t, Capacity> ports_{};
  std::uint16_t count_ = 0;
};

inline constexpr std::size_t MaxChosenPorts = 16;
inline constexpr std::size_t MaxEnumeratedPorts = 255;
// A run's download stop word asking the download library to abort.
inline constexpr std::uint32_t DownloadStopRequest = 9876;

enum class WindowArrangement : int { TileVertical = 0, TileHorizontal = 1, Cascade = 2 };

struct RunState {
  PortList<MaxEnumeratedPorts> ports;      // last port enumeration, in the library's order
  PortList<MaxChosenPorts> chosenPorts;    // ComSelect, in selection order
  WindowArrangement arrangement = WindowArrangement::TileVertical;

  DaHandle daHandle = nullptr;
  DlHandle imageHandle = nullptr;
  bool daLoaded = false;   // never cleared: makes the close unload the Download Agent
  bool romLoaded = false;  // never cleared: makes the close unload the image

  // Set by Test (Skip DL), cleared by Download; read once per run by every worker.
  std::atomic<bool> skipDownload{false};
  // The test items this station offers; fixed.
  std::uint32_t offeredItems = item::OfferedItems;
  // Seconds since start, raised once a second on the user-interface thread; every item time-out
  // is measured in its ticks.
  std::atomic<std::int32_t> timeoutCounter{0};
  // Serialises the writers of the CSV test log.
  std::mutex logLock;
};

}  // namespace quenby
