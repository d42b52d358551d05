// The simulator's command line:
//   quenby-modsim --ports-dir DIR --com LIST [--scenario FILE] [--transcript-dir DIR]
// LIST: port numbers and ranges separated by commas ("3,5", "1-16", "1-4,9").
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quenby::modsim {

// Most modules one simulator runs.
inline constexpr std::size_t MaxSimulatedPorts = 64;

struct Options {
  std::filesystem::path portsDir;
  std::vector<std::uint16_t> ports;  // in the order given
  std::optional<std::filesystem::path> scenarioFile;
  std::optional<std::filesystem::path> transcriptDir;

  bool operator==(const Options&) const = default;
};

struct HelpRequested {};

// Options, the help request, or the message of a usage error.
using ParsedCommandLine = std::variant<Options, HelpRequested, std::string>;

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args);

// "3,5" / "1-16" / "1-4,9" -> ports, each from 1 to 65535, none twice; or the error message.
std::variant<std::vector<std::uint16_t>, std::string> parsePortList(std::string_view text);

std::string usageText();

}  // namespace quenby::modsim
