// quenby-ports learn: adapters "plugged" by making their by-path links while it waits, and what
// it links, skips, refuses and prints.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "ports/device_tree.h"

namespace quenby::ports::testing {
namespace {

const std::string kSocket1 = "pci-0000:00:14.0-usb-0:1:1.0-port0";
const std::string kSocket1v2 = "pci-0000:00:14.0-usbv2-0:1:1.0-port0";
const std::string kSocket2 = "pci-0000:00:14.0-usb-0:2:1.0-port0";
// The four ports of one adapter: one interface each.
const std::vector<std::string> kQuad = {
    "pci-0000:00:14.0-usb-0:3:1.0-port0", "pci-0000:00:14.0-usb-0:3:1.1-port0",
    "pci-0000:00:14.0-usb-0:3:1.2-port0", "pci-0000:00:14.0-usb-0:3:1.3-port0"};

// A learn run in a device tree; adapters come and go as udev would make and remove their links.
class Session {
 public:
  Session(DeviceTree& tree, PortsProcess& process) : tree_(tree), process_(process) {}

  // A new adapter with these by-path names (and a by-id name).
  void plug(const std::vector<std::string>& names) {
    process_.whileStopped([&] { plugNow(names); });
  }
  void plugNow(const std::vector<std::string>& names) {
    const Pty& pty = tree_.plugPty();
    for (const auto& name : names) DeviceTree::link(tree_.byPath(), name, pty.path());
    DeviceTree::link(tree_.byId(), "usb-id-of-" + names.front(), pty.path());
  }
  // Several adapters' links at once (the ports of one multi-port adapter), last one first.
  void plugAll(const std::vector<std::string>& ports) {
    process_.whileStopped([&] {
      for (auto it = ports.rbegin(); it != ports.rend(); ++it) plugNow({*it});
    });
  }
  // The adapter's links go, and come back when it is plugged in again.
  void replug(const std::vector<std::string>& names) {
    const fs::path device = fs::read_symlink(tree_.byPath() / names.front());
    process_.whileStopped([&] {
      for (const auto& name : names) fs::remove(tree_.byPath() / name);
    });
    ASSERT_TRUE(process_.waitFor("Unplugged: ", ++unplugged_)) << process_.output();
    process_.whileStopped([&] {
      for (const auto& name : names) DeviceTree::link(tree_.byPath(), name, device);
    });
  }
  void enter() { process_.type("\n"); }
  // Waits until the learner asks for `slot` the `times`th time.
  void waitSlot(int slot, int times = 1) {
    ASSERT_TRUE(process_.waitFor("Slot " + std::to_string(slot) + ": waiting", times))
        << process_.output();
  }

 private:
  DeviceTree& tree_;
  PortsProcess& process_;
  int unplugged_ = 0;
};

struct LearnCase {
  const char* name;
  int from;
  std::function<void(DeviceTree&)> before;  // the tree before learn starts
  std::function<void(Session&)> plugging;
  std::map<int, std::string> links;  // COM -> by-path name afterwards (every COM link there is)
  std::vector<std::string> printed;  // found in the output in this order
};

void nothing(DeviceTree&) {}

void PrintTo(const LearnCase& c, std::ostream* os) { *os << c.name; }

class Learn : public ::testing::TestWithParam<LearnCase> {};

TEST_P(Learn, LinksEachSlotToTheAdapterPluggedIn) {
  const LearnCase& c = GetParam();
  DeviceTree tree;
  fs::create_directories(tree.dev());
  c.before(tree);
  PortsProcess process(tree.withFolders({"learn", "--from", std::to_string(c.from)}));
  Session session(tree, process);
  session.waitSlot(c.from);
  c.plugging(session);
  process.endInput();
  const Finished done = process.finish();
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(done.err, "");

  std::map<int, std::string> links;
  if (fs::exists(tree.ports()))
    for (const auto& entry : fs::directory_iterator(tree.ports())) {
      const std::string name = entry.path().filename().string();
      ASSERT_TRUE(name.starts_with("COM")) << name;
      const fs::path target = fs::read_symlink(entry.path());
      EXPECT_EQ(target.parent_path(), tree.byPath()) << name;
      links[std::stoi(name.substr(3))] = target.filename().string();
    }
  EXPECT_EQ(links, c.links);

  std::size_t at = 0;
  for (const std::string& line : c.printed) {
    const std::size_t found = done.out.find(line, at);
    ASSERT_NE(found, std::string::npos) << "'" << line << "' not found in order in:\n" << done.out;
    at = found + line.size();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Plugging, Learn,
    ::testing::Values(
        // No serial adapter at the start: udev makes /dev/serial/by-path with the first one.
        // An adapter with two by-path names counts once, under its shorter name.
        LearnCase{"FirstAdaptersOfTheMachine", 3, nothing,
                  [](Session& s) {
                    s.plug({kSocket1, kSocket1v2});
                    s.waitSlot(4);
                    s.plug({kSocket2});
                    s.waitSlot(5);
                  },
                  {{3, kSocket1}, {4, kSocket2}},
                  {"COM3 -> " + kSocket1, "Slot 4: waiting", "COM4 -> " + kSocket2, "Linked:",
                   "COM3", kSocket1, "COM4", kSocket2}},
        // An adapter plugged before learn starts is unplugged and plugged in again.
        LearnCase{"AdapterPluggedAgain", 1,
                  [](DeviceTree& t) { DeviceTree::link(t.byPath(), kSocket1, t.plugPty().path()); },
                  [](Session& s) {
                    s.replug({kSocket1});
                    s.waitSlot(2);
                  },
                  {{1, kSocket1}},
                  {"Unplugged: " + kSocket1, "COM1 -> " + kSocket1}},
        // An adapter that has its port number already is refused for another slot.
        LearnCase{"AdapterWithAPortAlready", 2,
                  [](DeviceTree& t) {
                    DeviceTree::link(t.byPath(), kSocket1, t.plugPty().path());
                    DeviceTree::link(t.ports(), "COM1", t.byPath() / kSocket1);
                  },
                  [](Session& s) {
                    s.replug({kSocket1});
                    s.waitSlot(2, 2);
                    s.plug({kSocket2});
                    s.waitSlot(3);
                  },
                  {{1, kSocket1}, {2, kSocket2}},
                  {kSocket1 + " is COM1 already", "Slot 2: waiting", "COM2 -> " + kSocket2}},
        LearnCase{"EnterSkipsASlot", 5, nothing,
                  [](Session& s) {
                    s.enter();
                    s.enter();
                    s.waitSlot(7);
                    s.plug({kSocket1});
                    s.waitSlot(8);
                  },
                  {{7, kSocket1}},
                  {"Slot 5 skipped.", "Slot 6 skipped.", "COM7 -> " + kSocket1}},
        // The ports of a four-port adapter appear at once: one slot each, in interface order.
        LearnCase{"MultiPortAdapter", 1, nothing,
                  [](Session& s) {
                    s.plugAll(kQuad);
                    s.waitSlot(5);
                  },
                  {{1, kQuad[0]}, {2, kQuad[1]}, {3, kQuad[2]}, {4, kQuad[3]}},
                  {"COM1 -> " + kQuad[0], "COM4 -> " + kQuad[3]}},
        // A slot's old link to an adapter no longer there is replaced.
        LearnCase{"ReplacesABrokenLink", 1,
                  [](DeviceTree& t) { DeviceTree::link(t.ports(), "COM1", t.byPath() / "gone"); },
                  [](Session& s) {
                    s.plug({kSocket2});
                    s.waitSlot(2);
                  },
                  {{1, kSocket2}},
                  {"COM1 -> " + kSocket2, ", was "}},
        LearnCase{"EndedAtOnce", 1, nothing, [](Session&) {}, {}, {"No port linked."}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenby::ports::testing
