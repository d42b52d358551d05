#include "tools/run/serial_numbers.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "settings/number_text.h"

namespace quenby::run {
namespace {

// "3" or "COM3" (any letter case, blanks around): a port number from 1 to 65535.
bool portNumber(std::string_view text, std::uint16_t& port) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com"))
    text.remove_prefix(3);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    return false;
  const auto value = parseInteger(text);
  if (!value || *value < 1 || *value > 65535) return false;
  port = static_cast<std::uint16_t>(*value);
  return true;
}

// A scanned number as the log takes it: what the operator's entry would hold. Control
// characters and commas are left to the log's own field rules.
std::string addOne(std::string_view com, std::string_view number, SerialNumbers& serials) {
  std::uint16_t port = 0;
  if (!portNumber(com, port)) return "'" + std::string(com) + "' is not a port number from 1 to 65535";
  if (number.empty()) return "no serial number for COM" + std::to_string(port);
  if (number.size() > MaxSerialNumber)
    return "the serial number for COM" + std::to_string(port) + " is longer than " +
           std::to_string(MaxSerialNumber) + " characters";
  serials[port].emplace_back(number);
  return {};
}

}  // namespace

std::string addSerialArgument(std::string_view argument, SerialNumbers& serials) {
  const auto equals = argument.find('=');
  if (equals == std::string_view::npos) return "--serial takes COM=NUMBER";
  return addOne(argument.substr(0, equals), argument.substr(equals + 1), serials);
}

std::string addSerialsFile(const std::filesystem::path& file, SerialNumbers& serials) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return "cannot read the serials file '" + file.string() + "': " + std::strerror(errno);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    const auto comma = line.find(',');
    const std::string problem =
        comma == std::string::npos
            ? "a line is COM,NUMBER"
            : addOne(std::string_view(line).substr(0, comma),
                     std::string_view(line).substr(comma + 1), serials);
    if (!problem.empty())
      return file.string() + ", line " + std::to_string(number) + ": " + problem;
  }
  return {};
}

}  // namespace quenby::run
