// Learning the port map by plugging in adapters: inotify on the by-path folder (and on the
// folders above it, which udev creates with the first serial adapter).
#include "tools/ports/learn.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "tools/ports/port_links.h"
#include "tools/ports/text_table.h"

namespace quenby::ports {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kMaxPort = 65535;
constexpr std::size_t kEventBuffer = 4096;
constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_ONLYDIR;

class FolderWatch {
 public:
  explicit FolderWatch(const DeviceTree& tree) : tree_(tree) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "inotify");
    rewatch();
    if (::inotify_add_watch(fd_, tree_.devDir.c_str(), kFolderEvents) < 0)
      throw std::system_error(errno, std::generic_category(), "cannot watch " + tree_.devDir.string());
  }
  ~FolderWatch() { ::close(fd_); }
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  int fd() const { return fd_; }

  // Reads the pending events and watches the folders that exist now (serial/ and by-path/ come
  // and go with the first and the last adapter).
  void drain() {
    alignas(inotify_event) char buffer[kEventBuffer];
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
    rewatch();
  }

 private:
  void rewatch() {
    ::inotify_add_watch(fd_, (tree_.devDir / "serial").c_str(), kFolderEvents);
    ::inotify_add_watch(fd_, tree_.byPathDir().c_str(), kFolderEvents);
  }

  const DeviceTree& tree_;
  int fd_ = -1;
};

class Learner {
 public:
  explicit Learner(const LearnOptions& options) : o_(options), slot_(options.from) {}

  std::vector<LearnedPort> run() {
    FolderWatch watch(o_.tree);
    const auto names = entryNames(o_.tree.byPathDir());
    present_.insert(names.begin(), names.end());
    say("Learning the port map of " + o_.portsDir.string() + " from the adapters in " +
        o_.tree.byPathDir().string() + ".\nPlug in each slot's adapter (or unplug it and plug it "
        "in again) when asked. Enter skips a slot, Ctrl-D ends.");
    prompt();
    while (slot_ <= kMaxPort) {
      std::optional<Clock::time_point> settled;
      if (!appeared_.empty()) settled = lastChange_ + o_.settle;
      int timeout = -1;
      if (settled) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*settled - Clock::now());
        timeout = static_cast<int>(std::max<long long>(0, left.count()));
      }
      pollfd fds[2] = {{watch.fd(), POLLIN, 0}, {o_.input, POLLIN, 0}};
      const int ready = ::poll(fds, 2, timeout);
      if (ready < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) {
        watch.drain();
        noteChanges();
      }
      if (fds[1].revents & (POLLIN | POLLHUP | POLLERR) && !readInput()) break;
      if (settled && Clock::now() >= *settled && !appeared_.empty()) linkAppeared();
    }
    sayTable();
    return learned_;
  }

 private:
  void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), o_.out);
    std::fflush(o_.out);
  }

  void prompt() {
    if (slot_ <= kMaxPort) say("Slot " + std::to_string(slot_) + ": waiting for its adapter ...");
  }

  // Entries that appeared since the last look (and are still there); those gone are forgotten,
  // so that unplugging and plugging an adapter in again shows it as new.
  void noteChanges() {
    const auto names = entryNames(o_.tree.byPathDir());
    const std::set<std::string> now(names.begin(), names.end());
    for (const std::string& name : now)
      if (!present_.count(name)) appeared_.insert(name);
    for (auto it = appeared_.begin(); it != appeared_.end();)
      it = now.count(*it) ? std::next(it) : appeared_.erase(it);
    std::string gone;
    for (const std::string& name : present_)
      if (!now.count(name)) gone += (gone.empty() ? "" : ", ") + name;
    if (!gone.empty()) say("Unplugged: " + gone);
    present_ = now;
    lastChange_ = Clock::now();
  }

  // False at the end of the input.
  bool readInput() {
    char buffer[256];
    const ssize_t n = ::read(o_.input, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') continue;
      say("Slot " + std::to_string(slot_) + " skipped.");
      ++slot_;
      prompt();
    }
    return true;
  }

  // Links the adapters that appeared to this slot and the next ones, in the order of their
  // by-path names (the ports of a multi-port adapter in the order of its interfaces).
  void linkAppeared() {
    std::set<dev_t> devices;
    for (const std::string& name : appeared_) {
      std::string problem;
      if (auto device = charDeviceAt(o_.tree.byPathDir() / name, problem))
        devices.insert(device->number);
    }
    appeared_.clear();
    const std::uint32_t before = slot_;
    bool refused = false;
    for (const SerialAdapter& adapter : findAdapters(o_.tree)) {
      if (!devices.count(adapter.device.number) || slot_ > kMaxPort) continue;
      const auto com = static_cast<std::uint16_t>(slot_);
      const Outcome outcome = assignPort(o_.portsDir, com, adapter, o_.tree);
      say(outcome.message);
      if (!outcome.done) {
        refused = true;
        continue;
      }
      learned_.push_back({com, adapter.stableName(), adapter.kernelName()});
      ++slot_;
    }
    if (slot_ != before || refused) prompt();
  }

  void sayTable() {
    if (learned_.empty()) {
      say("No port linked.");
      return;
    }
    std::vector<TextRow> rows{{"COM", "device", "by-path"}};
    for (const auto& port : learned_) rows.push_back({comName(port.com), port.device, port.byPath});
    std::fputs(("Linked:\n" + alignedTable(rows)).c_str(), o_.out);
    std::fflush(o_.out);
  }

  const LearnOptions& o_;
  std::uint32_t slot_;
  std::set<std::string> present_;
  std::set<std::string> appeared_;
  Clock::time_point lastChange_;
  std::vector<LearnedPort> learned_;
};

}  // namespace

std::vector<LearnedPort> learnPorts(const LearnOptions& options) { return Learner(options).run(); }

}  // namespace quenby::ports
