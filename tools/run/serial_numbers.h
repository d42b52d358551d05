// The serial numbers the runner is given for the modules it tests: `--serial COM=NUMBER` on the
// command line, or a file of `COM,NUMBER` lines from an automated line. A port named more than
// once gets one number per run, in order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quenby::run {

// Serial numbers by port, each port's in the order of its runs.
using SerialNumbers = std::map<std::uint16_t, std::vector<std::string>>;

// The longest serial number, as the station's entry takes it.
inline constexpr std::size_t MaxSerialNumber = 60;

// Adds one "COM=NUMBER" (COM: "3" or "COM3"). Returns why it is refused, or "" when taken.
std::string addSerialArgument(std::string_view argument, SerialNumbers& serials);

// Adds every "COM,NUMBER" line of the file; blank lines and lines starting with "#" are passed
// over. Returns why the file is refused (naming the file and the line), or "" when taken.
std::string addSerialsFile(const std::filesystem::path& file, SerialNumbers& serials);

}  // namespace quenby::run
