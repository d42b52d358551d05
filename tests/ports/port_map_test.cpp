// quenby-ports list, assign and remove over a device tree of pseudo-terminals: where each link
// leads afterwards, what is refused and why, and what the listing shows.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "ports/device_tree.h"

namespace quenby::ports::testing {
namespace {

const std::string kNameA = "pci-0000:00:14.0-usb-0:1.2:1.0-port0";
const std::string kNameA2 = "pci-0000:00:14.0-usbv2-0:1.2:1.0-port0";
const std::string kIdA = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const std::string kNameB = "pci-0000:00:14.0-usb-0:1.3:1.0-port0";
const std::string kIdB = "usb-Prolific_USB-Serial_Controller-if00-port0";

// Adapter A (two by-path names, as newer udev makes them, and one by-id name) linked as COM2,
// adapter B (one of each) not linked, a pseudo-terminal that udev did not name, a regular file
// where COM9 should be, and a plain file among the devices.
class StandardTree : public DeviceTree {
 public:
  StandardTree() {
    const Pty& a = plugPty();
    const Pty& b = plugPty();
    plugPty();
    link(byPath(), kNameA, a.path());
    link(byPath(), kNameA2, a.path());
    link(byId(), kIdA, a.path());
    link(byPath(), kNameB, b.path());
    link(byId(), kIdB, b.path());
    link(ports(), "COM2", byPath() / kNameA);
    std::ofstream(ports() / "COM9") << "not a link";
    std::ofstream(dev() / "plain-file") << "";
  }

  // "{A}", "{B}", "{lone}" (the kernel's paths of the three terminals) and "{dev}" in a text.
  std::string expand(std::string text) const {
    const std::pair<std::string, std::string> marks[] = {{"{A}", pty(0).path().string()},
                                                         {"{B}", pty(1).path().string()},
                                                         {"{lone}", pty(2).path().string()},
                                                         {"{dev}", dev().string()}};
    for (const auto& [mark, value] : marks)
      for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark))
        text.replace(at, mark.size(), value);
    return text;
  }
};

constexpr const char* kAbsent = "(absent)";
constexpr const char* kFile = "(file)";

struct Case {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string printed;  // found in stdout or stderr
  int com = 0;          // the port whose entry is checked afterwards (0: none)
  std::string after;    // the by-path name it leads to, kAbsent or kFile
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class PortMapCommand : public ::testing::TestWithParam<Case> {};

TEST_P(PortMapCommand, ChangesOrRefusesOneLink) {
  const Case& c = GetParam();
  StandardTree tree;
  std::vector<std::string> args;
  for (const auto& arg : c.args) args.push_back(tree.expand(arg));
  const Finished done = tree.run(args);
  EXPECT_EQ(done.status, c.status) << done.out << done.err;
  EXPECT_NE((done.out + done.err).find(tree.expand(c.printed)), std::string::npos)
      << "wanted: " << c.printed << "\nstdout: " << done.out << "stderr: " << done.err;
  if (c.status == 1) {
    EXPECT_EQ(done.out, "") << "a refusal goes to stderr";
  }
  if (c.com == 0) return;
  const fs::path entry = tree.portLink(c.com);
  if (c.after == kAbsent) {
    EXPECT_FALSE(fs::is_symlink(entry) || fs::exists(entry));
  } else if (c.after == kFile) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entry)));
  } else {
    ASSERT_TRUE(fs::is_symlink(entry));
    EXPECT_EQ(fs::read_symlink(entry), tree.byPath() / c.after);
  }
  // A link is written under a temporary name and renamed: none of those stays behind.
  if (!fs::exists(tree.ports())) return;
  for (const auto& leftover : fs::directory_iterator(tree.ports()))
    EXPECT_NE(leftover.path().filename().string().front(), '.') << "temporary link left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PortMapCommand,
    ::testing::Values(
        Case{"ByPathName", {"assign", "COM3", kNameB}, 0, "COM3 -> " + kNameB, 3, kNameB},
        Case{"FullPathLowerCaseCom", {"assign", "com4", "{dev}/serial/by-path/" + kNameB}, 0,
             "COM4 -> " + kNameB, 4, kNameB},
        Case{"KernelPath", {"assign", "5", "{B}"}, 0, "COM5 -> " + kNameB, 5, kNameB},
        Case{"ByIdNameLinksByPath", {"assign", "COM6", kIdB}, 0, "COM6 -> " + kNameB, 6, kNameB},
        Case{"SecondComForOneAdapter", {"assign", "COM7", kIdA}, 1, "is COM2 already", 7, kAbsent},
        Case{"SecondComThroughOtherName", {"assign", "COM7", kNameA2}, 1, "is COM2 already", 7,
             kAbsent},
        Case{"OtherByPathNameNamed", {"assign", "COM2", kNameA2}, 0, "COM2 -> " + kNameA2, 2,
             kNameA2},
        Case{"SameLinkAgain", {"assign", "COM2", kNameA}, 0, "as it was", 2, kNameA},
        Case{"ReplacesOtherAdapter", {"assign", "COM2", "{B}"}, 0, "was {dev}/serial/by-path/" + kNameA,
             2, kNameB},
        Case{"ComZero", {"assign", "COM0", kNameB}, 1, "'COM0' is not a port", 0, ""},
        Case{"ComTooLarge", {"assign", "COM65536", kNameB}, 1, "from 1 to 65535", 0, ""},
        Case{"ComLargest", {"assign", "COM65535", kNameB}, 0, "COM65535 -> ", 65535, kNameB},
        Case{"ComLeadingZero", {"assign", "COM03", kNameB}, 1, "is not a port", 3, kAbsent},
        Case{"ComNoNumber", {"assign", "COMx", kNameB}, 1, "is not a port", 0, ""},
        Case{"NullDevice", {"assign", "COM8", "/dev/null"}, 1, "is not a serial device", 8, kAbsent},
        Case{"PtyMaster", {"assign", "COM8", "/dev/ptmx"}, 1, "is not a serial device", 8, kAbsent},
        Case{"RegularFile", {"assign", "COM8", "plain-file"}, 1, "not a character device", 8,
             kAbsent},
        Case{"NoSuchDevice", {"assign", "COM8", "ttyUSB42"}, 1, "ttyUSB42: no such device", 8,
             kAbsent},
        Case{"NoStableName", {"assign", "COM8", "{lone}"}, 1, "has no name in", 8, kAbsent},
        Case{"ComIsNoLink", {"assign", "COM9", kNameB}, 1, "is not a link; it is left alone", 9,
             kFile},
        Case{"Remove", {"remove", "COM2"}, 0, "COM2 removed (was {dev}/serial/by-path/" + kNameA, 2,
             kAbsent},
        Case{"RemoveMissing", {"remove", "COM3"}, 1, "COM3 has no link", 3, kAbsent},
        Case{"RemoveNoLink", {"remove", "COM9"}, 1, "is not a link; it is left alone", 9, kFile},
        Case{"RemoveComZero", {"remove", "COM0"}, 1, "is not a port", 0, ""},
        Case{"AssignWithoutDevice", {"assign", "COM3"}, 2, "wrong arguments for assign", 3, kAbsent},
        Case{"UnknownCommand", {"plug"}, 2, "unknown command 'plug'", 0, ""},
        Case{"NoCommand", {}, 2, "no command", 0, ""},
        Case{"FromOutsideLearn", {"list", "--from", "3"}, 2, "--from belongs to learn", 0, ""},
        Case{"LearnFromZero", {"learn", "--from", "0"}, 2, "is not a port", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// The printed lines, each cut into its columns (cells are two or more blanks apart).
std::vector<std::vector<std::string>> cells(const std::string& text) {
  static const std::regex gap(" {2,}");
  std::vector<std::vector<std::string>> rows;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    rows.emplace_back(std::sregex_token_iterator(line.begin(), line.end(), gap, -1),
                      std::sregex_token_iterator());
    start = end + 1;
  }
  return rows;
}

TEST(PortMapList, ShowsAdaptersTheirPortsAndBrokenLinks) {
  StandardTree tree;
  const std::string gone = (tree.byPath() / "pci-0000:00:14.0-usb-0:4:1.0-port0").string();
  DeviceTree::link(tree.ports(), "COM11", gone);
  DeviceTree::link(tree.ports(), "COM12", "/dev/null");
  DeviceTree::link(tree.ports(), "COM13", tree.pty(2).path());
  DeviceTree::link(tree.ports(), "COM14", tree.pty(1).path());
  const Finished done = tree.run({"list"});
  EXPECT_EQ(done.status, 0) << done.err;
  using Row = std::vector<std::string>;
  const std::vector<Row> expected{
      {"COM", "device", "driver", "USB path", "by-path", "by-id"},
      {"COM2", tree.pty(0).kernelName(), "pty", "1.2:1.0-port0", kNameA, kIdA},
      {"-", tree.pty(1).kernelName(), "pty", "1.3:1.0-port0", kNameB, kIdB},
      {""},
      {"Port links in " + tree.ports().string() + " that lead to no adapter above:"},
      {"COM9", "->", "-", "broken: not a link"},
      {"COM11", "->", gone, "broken: no such device"},
      {"COM12", "->", "/dev/null", "broken: not a serial device"},
      {"COM13", "->", tree.pty(2).path().string(), "no stable name: not in " + tree.byPath().string()},
      {"COM14", "->", tree.pty(1).path().string(), "no stable name: not in " + tree.byPath().string()},
  };
  EXPECT_EQ(cells(done.out), expected) << done.out;
}

TEST(PortMapList, SaysWhenThereIsNothing) {
  DeviceTree tree;
  const Finished done = tree.run({"list"});
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.out, "No serial adapter in " + (tree.dev() / "serial").string() +
                          ".\n\nNo port link in " + tree.ports().string() + ".\n");
}

}  // namespace
}  // namespace quenby::ports::testing
