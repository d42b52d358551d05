// quenby-modsim: simulated GPS modules on pseudo-terminals, linked as COM<n> into a ports folder,
// so that the station runs end to end without hardware. Prints "ready" when every link exists;
// SIGINT or SIGTERM removes the links and ends it.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "engine/program_folder.h"
#include "tools/modsim/command_line.h"
#include "tools/modsim/module_session.h"
#include "tools/modsim/pty_link.h"
#include "tools/modsim/scenario.h"
#include "tools/modsim/transcript.h"
#include "quenby_version.h"

namespace {

using namespace quenby::modsim;

constexpr int kExitDone = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& message) {
  std::fprintf(stderr, "quenby-modsim: %s\n%s", message.c_str(), usageText().c_str());
  return kExitUsage;
}

int run(const Options& options) {
  namespace fs = std::filesystem;
  if (options.scenarioFile) {
    std::error_code ec;
    if (!fs::is_regular_file(*options.scenarioFile, ec))
      return usageError("scenario file " + options.scenarioFile->string() + " not found");
  }
  std::error_code ec;
  fs::create_directories(options.portsDir, ec);
  if (!fs::is_directory(options.portsDir)) {
    std::fprintf(stderr, "quenby-modsim: cannot use ports folder %s\n", options.portsDir.c_str());
    return kExitFailure;
  }
  if (options.transcriptDir) fs::create_directories(*options.transcriptDir, ec);

  // Only this thread takes the stop signals; the module threads inherit the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::vector<std::unique_ptr<ModuleSession>> sessions;
  for (std::uint16_t port : options.ports) {
    LoadedScenario loaded;
    if (options.scenarioFile) loaded = loadScenario(IniScenarioSource(*options.scenarioFile, port));
    for (const std::string& problem : loaded.problems)
      std::fprintf(stderr, "quenby-modsim: COM%u: %s\n", static_cast<unsigned>(port), problem.c_str());

    std::unique_ptr<PtyLink> link;
    try {
      link = std::make_unique<PtyLink>(quenby::portLinkPath(options.portsDir, port), loaded.scenario.baud);
    } catch (const PtyError& e) {
      std::fprintf(stderr, "quenby-modsim: COM%u: %s\n", static_cast<unsigned>(port), e.what());
      return kExitFailure;  // the sessions made so far remove their links
    }
    auto transcript = options.transcriptDir ? std::make_unique<Transcript>(
                                                  *options.transcriptDir / ("COM" + std::to_string(port) + ".txt"))
                                            : nullptr;
    sessions.push_back(
        std::make_unique<ModuleSession>(port, std::move(loaded.scenario), std::move(link), std::move(transcript)));
  }
  for (auto& session : sessions) session->start();

  std::fputs("ready\n", stdout);
  std::fflush(stdout);

  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  sessions.clear();  // each stops its module and removes its link
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-modsim")) return 0;
  std::vector<std::string_view> args(argv + 1, argv + argc);
  const ParsedCommandLine parsed = parseCommandLine(args);
  if (const auto* error = std::get_if<std::string>(&parsed)) return usageError(*error);
  if (std::holds_alternative<HelpRequested>(parsed)) {
    std::fputs(usageText().c_str(), stdout);
    return kExitDone;
  }
  try {
    return run(std::get<Options>(parsed));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quenby-modsim: %s\n", e.what());
    return kExitFailure;
  }
}
