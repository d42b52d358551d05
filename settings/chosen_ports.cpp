#include "settings/chosen_ports.h"

#include <cstdint>
#include <optional>

namespace quenby {
namespace {

constexpr std::uint32_t LowestPort = 1;
constexpr std::uint32_t HighestPort = 65535;

std::string_view trimBlanks(std::string_view piece) {
  const std::size_t first = piece.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return piece.substr(first, piece.find_last_not_of(" \t") - first + 1);
}

// A trimmed piece as a port number.
std::optional<std::uint16_t> portNumber(std::string_view piece) {
  if (piece.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : piece) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > HighestPort) return std::nullopt;
  }
  if (value < LowestPort) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// The pieces of one kind that were left out.
struct LeftOut {
  std::string pieces;
  void add(std::string_view piece) {
    if (!pieces.empty()) pieces += ", ";
    pieces += piece;
  }
};

}  // namespace

ChosenPortsReading readChosenPorts(std::string_view text) {
  ChosenPortsReading reading;
  LeftOut notPorts, repeated, beyondCount;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = trimBlanks(text.substr(0, comma));
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    if (piece.empty()) continue;
    const std::optional<std::uint16_t> port = portNumber(piece);
    if (!port)
      notPorts.add(piece);
    else if (reading.ports.contains(*port))
      repeated.add(piece);
    else if (reading.ports.full())
      beyondCount.add(piece);
    else
      reading.ports.push(*port);
  }
  const auto tell = [&reading](const LeftOut& kind, const char* why) {
    if (kind.pieces.empty()) return;
    if (!reading.leftOut.empty()) reading.leftOut += "; ";
    reading.leftOut += kind.pieces + " (" + why + ")";
  };
  tell(notPorts, "not a port number from 1 to 65535");
  tell(repeated, "named before");
  tell(beyondCount, "more than 16 ports");
  return reading;
}

}  // namespace quenby
