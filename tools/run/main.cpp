// quenby-run: the station's engine without windows. Runs the chosen ports at once with a
// settings file, prints each port's memo lines, writes the same CSV test log.
//
//   quenby-run [--settings FILE] [--com N[,N...]] [--skip-download] [--rounds K]
//
// Exit status: 0 when every run passed, 1 when any failed, 2 for usage or settings errors and
// for a Download Agent or image that fails its check when the download is to run ("DA Error!",
// "Image Error!" on stderr).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brom/brom_library.h"
#include "engine/program_folder.h"
#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "tools/run/headless_station.h"

namespace {

constexpr int ExitPassed = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int MaxRounds = 100000;

std::atomic<bool> interrupted{false};

void onSignal(int) { interrupted.store(true); }

struct Options {
  std::filesystem::path settingsFile;
  std::optional<std::vector<std::uint16_t>> ports;
  bool settingsGiven = false;
  bool skipDownload = false;
  int rounds = 1;
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "quenby-run: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: quenby-run [--settings FILE] [--com N[,N...]] [--skip-download] "
               "[--rounds K]\n");
  return ExitUsage;
}

// "3,5,12" -> {3, 5, 12}; nullopt when a piece is not a port number from 1 to 65535.
std::optional<std::vector<std::uint16_t>> parsePorts(std::string_view text) {
  std::vector<std::uint16_t> ports;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto piece = text.substr(0, comma);
    const auto value = quenby::parseInteger(piece);
    if (piece.empty() || !value || *value < 1 || *value > 65535) return std::nullopt;
    ports.push_back(static_cast<std::uint16_t>(*value));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (ports.empty() || ports.size() > quenby::MaxChosenPorts) return std::nullopt;
  return ports;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.settingsFile = quenby::programFolder() / "Torvane.ini";

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    if (arg == "--settings") {
      auto v = value();
      if (!v || v->empty()) return usage("--settings needs a file");
      options.settingsFile = std::string(*v);
      options.settingsGiven = true;
    } else if (arg == "--com") {
      auto v = value();
      if (!v) return usage("--com needs port numbers");
      options.ports = parsePorts(*v);
      if (!options.ports)
        return usage("--com takes 1 to 16 port numbers from 1 to 65535, separated by commas");
    } else if (arg == "--skip-download") {
      options.skipDownload = true;
    } else if (arg == "--rounds") {
      auto v = value();
      auto rounds = v ? quenby::parseInteger(*v) : std::nullopt;
      if (!rounds || *rounds < 1 || *rounds > MaxRounds)
        return usage("--rounds takes a whole number from 1 to " + std::to_string(MaxRounds));
      options.rounds = *rounds;
    } else if (arg == "--help" || arg == "-h") {
      usage("runs the station's tests on serial ports without windows");
      return ExitPassed;
    } else {
      return usage("unknown argument '" + std::string(arg) + "'");
    }
  }

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  // A missing Torvane.ini means a first start (every setting at its default), as for the
  // station; a settings file named on the command line must exist.
  std::error_code ec;
  if (options.settingsGiven && !std::filesystem::is_regular_file(options.settingsFile, ec))
    return usage("settings file '" + options.settingsFile.string() + "' not found");

  // The library outlives the station, which releases its handles when it ends.
  quenby::brom::BromLibrary library(quenby::defaultPortsFolder());
  quenby::run::HeadlessStation station(quenby::programFolder(), &library, stdout);
  try {
    station.loadSettings(options.settingsFile);
  } catch (const quenby::SettingsError& e) {
    std::fprintf(stderr, "quenby-run: %s: %s\n", options.settingsFile.c_str(), e.what());
    return ExitUsage;
  }

  std::vector<std::uint16_t> ports;
  if (options.ports) {
    ports = *options.ports;
  } else {
    for (auto port : station.state().chosenPorts) ports.push_back(port);
  }
  if (ports.empty()) return usage("Please select COM port first (no port in ComSelect or --com)");

  // The station checks the files when its download box is ticked; without the dialog, the
  // runner checks whenever the download will run.
  if ((static_cast<std::uint32_t>(station.settings().enableTest) & quenby::item::FlashDownload) &&
      !options.skipDownload) {
    if (const char* problem = station.downloadFilesProblem()) {
      std::fprintf(stderr, "%s\n", problem);
      return ExitUsage;
    }
  }

  const bool passed = station.run(ports, options.skipDownload, options.rounds, interrupted);
  return passed ? ExitPassed : ExitFailed;
}
