#include "tools/modsim/command_line.h"

#include <algorithm>

namespace quenby::modsim {
namespace {

constexpr unsigned kHighestPort = 65535;
// Digits of the highest port number.
constexpr std::size_t kMaxPortDigits = 5;

std::optional<unsigned> portNumber(std::string_view text) {
  if (text.empty() || text.size() > kMaxPortDigits) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > kHighestPort) return std::nullopt;
  return value;
}

}  // namespace

std::string usageText() {
  return "usage: quenby-modsim --ports-dir DIR --com LIST [--scenario FILE] [--transcript-dir DIR]\n"
         "  LIST: port numbers and ranges separated by commas, e.g. 3,5 or 1-16\n";
}

std::variant<std::vector<std::uint16_t>, std::string> parsePortList(std::string_view text) {
  std::vector<std::uint16_t> ports;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t dash = item.find('-');
    const std::optional<unsigned> first = portNumber(item.substr(0, dash));
    const std::optional<unsigned> last = dash == std::string_view::npos ? first : portNumber(item.substr(dash + 1));
    if (!first || !last || *last < *first)
      return "--com: '" + std::string(item) + "' is not a port number (1 to 65535) or a range of them";
    if (*last - *first + 1 > MaxSimulatedPorts - ports.size())
      return "--com: more than " + std::to_string(MaxSimulatedPorts) + " ports";
    for (unsigned p = *first; p <= *last; ++p) {
      if (std::find(ports.begin(), ports.end(), p) != ports.end())
        return "--com: port " + std::to_string(p) + " is given twice";
      ports.push_back(static_cast<std::uint16_t>(p));
    }
    if (comma == std::string_view::npos) return ports;
    text.remove_prefix(comma + 1);
  }
}

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args) {
  Options options;
  bool havePortsDir = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::optional<std::string_view> value;
    if (name == "-h" || name == "--help") return HelpRequested{};
    if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string_view::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    const bool known = name == "--ports-dir" || name == "--com" || name == "--scenario" || name == "--transcript-dir";
    if (!known) return "unknown argument '" + std::string(args[i]) + "'";
    if (!value) {
      if (i + 1 == args.size()) return std::string(name) + " needs a value";
      value = args[++i];
    }
    if (value->empty()) return std::string(name) + " needs a value";

    if (name == "--ports-dir") {
      options.portsDir = std::string(*value);
      havePortsDir = true;
    } else if (name == "--scenario") {
      options.scenarioFile = std::string(*value);
    } else if (name == "--transcript-dir") {
      options.transcriptDir = std::string(*value);
    } else {
      auto parsed = parsePortList(*value);
      if (auto* error = std::get_if<std::string>(&parsed)) return *error;
      for (std::uint16_t p : std::get<std::vector<std::uint16_t>>(parsed)) {
        if (std::find(options.ports.begin(), options.ports.end(), p) != options.ports.end())
          return "--com: port " + std::to_string(p) + " is given twice";
        if (options.ports.size() == MaxSimulatedPorts)
          return "--com: more than " + std::to_string(MaxSimulatedPorts) + " ports";
        options.ports.push_back(p);
      }
    }
  }
  if (!havePortsDir) return std::string("--ports-dir is missing");
  if (options.ports.empty()) return std::string("--com is missing");
  return options;
}

}  // namespace quenby::modsim
