#include "tools/modsim/station_commands.h"

namespace quenby::modsim {
namespace {

constexpr std::string_view kCommandPrefix = "$PMTK";
constexpr std::size_t kCommandDigits = 3;
constexpr std::size_t kChecksumDigits = 2;
constexpr std::size_t kMaxFlagDigits = 4;
constexpr std::size_t kMaxSvDigits = 2;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to maxDigits hexadecimal digits and nothing else.
std::optional<unsigned> parseHex(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    const int digit = hexValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

}  // namespace

std::optional<StationCommand> parseCommand(std::string_view line) {
  if (!line.starts_with(kCommandPrefix) || line.size() > MaxCommandLine) return std::nullopt;
  const std::size_t star = line.find('*');
  if (star == std::string_view::npos || line.size() - star - 1 != kChecksumDigits) return std::nullopt;
  const std::optional<unsigned> sum = parseHex(line.substr(star + 1), kChecksumDigits);
  const std::string_view body = line.substr(0, star);
  // Compared as a number: the module takes either case of hexadecimal digits.
  unsigned expected = 0;
  for (char c : body.substr(1)) expected ^= static_cast<unsigned char>(c);
  if (!sum || *sum != expected) return std::nullopt;

  const std::string_view name = body.substr(kCommandPrefix.size(), kCommandDigits);
  if (name.size() != kCommandDigits) return std::nullopt;
  int number = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  std::string_view rest = body.substr(kCommandPrefix.size() + kCommandDigits);
  StationCommand command{number, {}};
  if (rest.empty()) return command;
  if (rest.front() != ',') return std::nullopt;
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the comma
    const std::size_t comma = rest.find(',');
    if (command.fields.size() == MaxCommandFields) return std::nullopt;
    command.fields.emplace_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma);
  }
  return command;
}

std::optional<StartRequest> parseStartRequest(const StationCommand& command) {
  if (command.number != StartTestCommand || command.fields.size() != 2) return std::nullopt;
  const std::optional<unsigned> flags = parseHex(command.fields[0], kMaxFlagDigits);
  const std::optional<unsigned> sv = parseHex(command.fields[1], kMaxSvDigits);
  if (!flags || !sv) return std::nullopt;
  return StartRequest{static_cast<std::uint16_t>(*flags), static_cast<int>(*sv)};
}

std::vector<StationCommand> CommandReader::feed(std::string_view bytes) {
  std::vector<StationCommand> commands;
  for (char c : bytes) {
    if (c == '\0') continue;
    if (c == '\r' || c == '\n') {
      if (!overflow_ && !line_.empty())
        if (auto command = parseCommand(line_)) commands.push_back(std::move(*command));
      line_.clear();
      overflow_ = false;
      continue;
    }
    if (c == '$') {
      line_.clear();
      overflow_ = false;
    }
    if (overflow_) continue;
    if (line_.size() == MaxCommandLine) {
      line_.clear();
      overflow_ = true;
      continue;
    }
    line_.push_back(c);
  }
  return commands;
}

void CommandReader::reset() {
  line_.clear();
  overflow_ = false;
}

}  // namespace quenby::modsim
