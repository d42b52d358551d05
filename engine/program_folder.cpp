// The program's folder and the COM<n> links of its ports folder.
#include "engine/program_folder.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <system_error>

namespace quenby {
namespace {

constexpr std::string_view kPortPrefix = "COM";
// "65535" is the longest port number.
constexpr std::size_t kMaxPortDigits = 5;
constexpr unsigned long kMaxPortNumber = 65535;

}  // namespace

std::filesystem::path programFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && exe.has_parent_path()) return exe.parent_path();
  // Without /proc the working folder is the best remaining guess.
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? std::filesystem::path(".") : cwd;
}

std::filesystem::path defaultPortsFolder() { return programFolder() / "ports"; }

std::filesystem::path portLinkPath(const std::filesystem::path& portsDir, std::uint16_t port) {
  return portsDir / (std::string(kPortPrefix) + std::to_string(port));
}

std::optional<std::uint16_t> portNumberOfLinkName(const std::string& name) {
  const std::string_view text(name);
  if (!text.starts_with(kPortPrefix)) return std::nullopt;
  const std::string_view digits = text.substr(kPortPrefix.size());
  if (digits.empty() || digits.size() > kMaxPortDigits || digits.front() == '0')
    return std::nullopt;
  unsigned long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (value > kMaxPortNumber) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::vector<std::uint16_t> enumeratePortLinks(const std::filesystem::path& portsDir) {
  std::vector<std::uint16_t> ports;
  std::error_code ec;
  std::filesystem::directory_iterator it(portsDir, ec);
  if (ec) return ports;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (auto n = portNumberOfLinkName(it->path().filename().string())) ports.push_back(*n);
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

}  // namespace quenby
