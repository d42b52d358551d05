// quenby-ports: the station's port map, the links ports/COM<n> to the serial adapters.
//
//   quenby-ports [--folder DIR] [--dev-dir DIR] list | assign COM<n> DEVICE | remove COM<n>
//                                               | learn [--from N]
//
// Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 usage error.
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "engine/program_folder.h"
#include "quenby_version.h"
#include "tools/ports/learn.h"
#include "tools/ports/port_links.h"
#include "tools/ports/port_listing.h"
#include "tools/ports/serial_devices.h"

namespace {

using namespace quenby::ports;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: quenby-ports [--folder DIR] [--dev-dir DIR] COMMAND\n"
    "  list                  the serial adapters, their port numbers, and broken port links\n"
    "  assign COM<n> DEVICE  link ports/COM<n> to DEVICE: a name in /dev/serial/by-path or\n"
    "                        /dev/serial/by-id, a path, or a kernel name such as ttyUSB3\n"
    "  remove COM<n>         remove the link ports/COM<n>\n"
    "  learn [--from N]      link each adapter as it is plugged in: slot N (default 1), then\n"
    "                        N+1, ... until Ctrl-D\n"
    "  --folder DIR          the station's folder (default: the folder of this program)\n"
    "  --dev-dir DIR         the device folder (default: /dev)\n";

int usage(const std::string& problem) {
  std::fprintf(stderr, "quenby-ports: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

int refused(const std::string& message) {
  std::fprintf(stderr, "quenby-ports: %s\n", message.c_str());
  return 1;
}

int reported(const Outcome& outcome) {
  if (!outcome.done) return refused(outcome.message);
  std::printf("%s\n", outcome.message.c_str());
  return 0;
}

std::optional<std::uint16_t> comArgument(const std::string& text, std::string& problem) {
  auto com = parseComNumber(text);
  if (!com) problem = "'" + text + "' is not a port: give COM<n> with n from 1 to 65535";
  return com;
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-ports")) return 0;
  fs::path folder = quenby::programFolder();
  DeviceTree tree;
  std::vector<std::string> words;
  std::optional<std::string> from;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool takesValue = arg == "--folder" || arg == "--dev-dir" || arg == "--from";
    if (takesValue && i + 1 >= argc) return usage(arg + " needs a value");
    if (arg == "--folder") folder = argv[++i];
    else if (arg == "--dev-dir") tree.devDir = argv[++i];
    else if (arg == "--from") from = argv[++i];
    else if (arg == "-h" || arg == "--help") return std::fputs(kUsage, stdout), 0;
    else if (arg.starts_with("--")) return usage("unknown option '" + arg + "'");
    else words.push_back(arg);
  }
  if (words.empty()) return usage("no command");
  const std::string& command = words[0];
  const fs::path portsDir = folder / "ports";
  const auto wants = [&](std::size_t count) { return words.size() == count + 1; };
  if (from && command != "learn") return usage("--from belongs to learn");
  std::string problem;

  if (command == "list" && wants(0)) {
    std::fputs(portListing(findAdapters(tree), readPortLinks(portsDir, tree), tree, portsDir).c_str(),
               stdout);
    return 0;
  }
  if (command == "assign" && wants(2)) {
    const auto com = comArgument(words[1], problem);
    if (!com) return refused(problem);
    const auto adapter = adapterNamed(words[2], tree, problem);
    if (!adapter) return refused(problem);
    return reported(assignPort(portsDir, *com, *adapter, tree));
  }
  if (command == "remove" && wants(1)) {
    const auto com = comArgument(words[1], problem);
    if (!com) return refused(problem);
    return reported(removePort(portsDir, *com));
  }
  if (command == "learn" && wants(0)) {
    LearnOptions options;
    options.portsDir = portsDir;
    options.tree = tree;
    options.input = STDIN_FILENO;
    if (from) {
      const auto first = comArgument(*from, problem);
      if (!first) return usage(problem);
      options.from = *first;
    }
    try {
      learnPorts(options);
    } catch (const std::system_error& e) {
      return refused(e.what());
    }
    return 0;
  }
  if (command == "list" || command == "assign" || command == "remove" || command == "learn")
    return usage("wrong arguments for " + command);
  return usage("unknown command '" + command + "'");
}
