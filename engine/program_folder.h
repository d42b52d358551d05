// The program's folder (the folder of the running executable) and the COM<n> port links in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace quenby {

// The folder of /proc/self/exe. It holds Torvane.ini, ports/, scat.txt, the test logs and backup/.
std::filesystem::path programFolder();

// programFolder()/"ports".
std::filesystem::path defaultPortsFolder();

// portsDir/"COM<n>".
std::filesystem::path portLinkPath(const std::filesystem::path& portsDir, std::uint16_t port);

// The port number of a link name "COM<n>" (n from 1 to 65535, decimal digits only), else nullopt.
std::optional<std::uint16_t> portNumberOfLinkName(const std::string& name);

// Port numbers of the COM<n> entries in portsDir, ascending. Empty when the folder is missing.
std::vector<std::uint16_t> enumeratePortLinks(const std::filesystem::path& portsDir);

}  // namespace quenby
