// quenby-run: the station's engine without windows. Runs the chosen ports at once with a
// settings file, prints each port's memo lines, writes the same CSV test log.
//
//   quenby-run [--settings FILE] [--com N[,N...]] [--skip-download] [--rounds K]
//              [--serial COM=NUMBER]... [--serials FILE]
//
// Exit status: 0 when every run passed, 1 when any failed, 2 for usage or settings errors and
// for a Download Agent or image that fails its check when the download is to run ("DA Error!",
// "Image Error!" on stderr), 3 when a run's line could not be written to the test log (results
// not recorded), whatever the verdicts.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brom/brom_library.h"
#include "engine/program_folder.h"
#include "engine/station_folder_lock.h"
#include "settings/file_readability.h"
#include "settings/ini_file.h"
#include "settings/number_text.h"
#include "tools/run/headless_station.h"
#include "tools/run/serial_numbers.h"
#include "tools/run/stop_signals.h"
#include "quenby_version.h"

namespace {

constexpr int ExitPassed = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitNotRecorded = 3;
constexpr int MaxRounds = 100000;

struct Options {
  std::filesystem::path settingsFile;
  std::optional<std::vector<std::uint16_t>> ports;
  bool settingsGiven = false;
  bool skipDownload = false;
  int rounds = 1;
  quenby::run::SerialNumbers serials;
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "quenby-run: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: quenby-run [--settings FILE] [--com N[,N...]] [--skip-download] "
               "[--rounds K] [--serial COM=NUMBER]... [--serials FILE]\n");
  return ExitUsage;
}

// "3,5,12" -> {3, 5, 12}, or why the list is refused: a piece that is not a port number from 1
// to 65535, more than 16 ports, or a port named twice (two runs would fight over one module).
struct PortChoice {
  std::vector<std::uint16_t> ports;
  std::string problem;
};

PortChoice parsePorts(std::string_view text) {
  constexpr const char* Form =
      "--com takes 1 to 16 port numbers from 1 to 65535, separated by commas";
  PortChoice choice;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto piece = text.substr(0, comma);
    const auto value = quenby::parseInteger(piece);
    if (piece.empty() || !value || *value < 1 || *value > 65535) return {{}, Form};
    const auto port = static_cast<std::uint16_t>(*value);
    if (std::find(choice.ports.begin(), choice.ports.end(), port) != choice.ports.end())
      return {{}, "--com names port " + std::to_string(port) + " more than once"};
    choice.ports.push_back(port);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (choice.ports.empty() || choice.ports.size() > quenby::MaxChosenPorts) return {{}, Form};
  return choice;
}

// A last word on stderr that must not hold up the exit: written only when the output takes it
// at once (a stopped terminal or a full pipe does not).
void tellIfItTakesIt(const std::string& text) {
  pollfd out{STDERR_FILENO, POLLOUT, 0};
  if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT))
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-run")) return 0;
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
      PortChoice choice = parsePorts(*v);
      if (!choice.problem.empty()) return usage(choice.problem);
      options.ports = std::move(choice.ports);
    } else if (arg == "--skip-download") {
      options.skipDownload = true;
    } else if (arg == "--rounds") {
      auto v = value();
      auto rounds = v ? quenby::parseInteger(*v) : std::nullopt;
      if (!rounds || *rounds < 1 || *rounds > MaxRounds)
        return usage("--rounds takes a whole number from 1 to " + std::to_string(MaxRounds));
      options.rounds = *rounds;
    } else if (arg == "--serial" || arg == "--serials") {
      auto v = value();
      if (!v || v->empty()) return usage(std::string(arg) + " needs a value");
      const std::string problem =
          arg == "--serial" ? quenby::run::addSerialArgument(*v, options.serials)
                            : quenby::run::addSerialsFile(std::string(*v), options.serials);
      if (!problem.empty()) return usage(problem);
    } else if (arg == "--help" || arg == "-h") {
      usage("runs the station's tests on serial ports without windows");
      return ExitPassed;
    } else {
      return usage("unknown argument '" + std::string(arg) + "'");
    }
  }

  std::signal(SIGPIPE, SIG_IGN);

  // One station per folder: a second one would open the same modules' ports.
  const quenby::StationFolderLock folderLock(quenby::programFolder());
  if (folderLock.heldElsewhere()) {
    std::fprintf(stderr, "quenby-run: %s\n", folderLock.refusal().c_str());
    return ExitUsage;
  }

  // A missing Torvane.ini means a first start (every setting at its default), as for the
  // station; a settings file named on the command line must exist. A file that is there but
  // cannot be read is named with the reason: a named one stops the runner, the station's own
  // falls back to the defaults (the load says so).
  std::error_code ec;
  if (options.settingsGiven) {
    const std::string settingsProblem = quenby::unreadableReason(options.settingsFile);
    if (!settingsProblem.empty())
      return usage("cannot read the settings file '" + options.settingsFile.string() +
                   "': " + settingsProblem);
    if (!std::filesystem::is_regular_file(options.settingsFile, ec))
      return usage("settings file '" + options.settingsFile.string() + "' not found");
  }

  // Before any other thread: the ending signals act as Stop, taken by a thread of their own
  // that lives shorter than the station it wakes.
  quenby::run::blockStopSignals();
  // The library outlives the station, which releases its handles when it ends.
  quenby::brom::BromLibrary library(quenby::defaultPortsFolder());
  quenby::run::HeadlessStation station(quenby::programFolder(), &library, STDOUT_FILENO);
  const quenby::run::StopSignals stopSignals([&station] { station.wake(); });
  try {
    station.loadSettings(options.settingsFile, [](const std::string& notice) {
      std::fprintf(stderr, "quenby-run: %s\n", notice.c_str());
    });
  } catch (const quenby::SettingsError& e) {
    std::fprintf(stderr, "quenby-run: %s: %s\n", options.settingsFile.c_str(), e.what());
    return ExitUsage;
  }

  const quenby::PortList<quenby::MaxChosenPorts>& chosen = station.state().chosenPorts;
  const std::vector<std::uint16_t> ports =
      options.ports ? *options.ports : std::vector<std::uint16_t>(chosen.begin(), chosen.end());
  if (ports.empty()) return usage("Please select COM port first (no port in ComSelect or --com)");
  for (const auto& [port, numbers] : options.serials)
    if (std::find(ports.begin(), ports.end(), port) == ports.end())
      return usage("a serial number is given for COM" + std::to_string(port) +
                   ", which is not among the ports run");
  if (!options.serials.empty()) {
    // Given numbers make this a line that scans: each number belongs to one run, and a run
    // without one says so.
    station.settings().serialEntry = 1;
    station.setSerialNumbers(options.serials);
  }

  // The station checks the files when its download box is ticked; without the dialog, the
  // runner checks whenever the download will run.
  if ((static_cast<std::uint32_t>(station.settings().enableTest) & quenby::item::FlashDownload) &&
      !options.skipDownload) {
    if (const char* problem = station.downloadFilesProblem()) {
      std::fprintf(stderr, "%s\n", problem);
      return ExitUsage;
    }
  }

  const quenby::run::RunOutcome outcome =
      station.run(ports, options.skipDownload, options.rounds, stopSignals.stopRequested());
  if (outcome.linesNotPrinted > 0)
    tellIfItTakesIt("quenby-run: " + std::to_string(outcome.linesNotPrinted) +
                    " line(s) could not be printed: standard output did not take them\n");
  if (!outcome.allRecorded) {
    tellIfItTakesIt(
        "quenby-run: results not recorded: a run's line could not be written to the test log "
        "(see the memo); no further round was started\n");
    return ExitNotRecorded;
  }
  return outcome.allPassed ? ExitPassed : ExitFailed;
}
