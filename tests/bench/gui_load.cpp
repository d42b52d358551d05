// quenby-gui-load: what the station with its windows costs while its ports take in a steady NMEA
// stream, and how long a worker's hand-off takes meanwhile. Runs the real main window and port
// windows in this process (offscreen platform unless QT_QPA_PLATFORM says otherwise) over
// simulated modules at 115200 baud that never report their acquisition, so every worker only
// reads, parses and shows (memo, chart refresh once per GSV cycle) for the whole measurement.
//
//   quenby-gui-load [--seconds S] [--ports N] [--fix-interval MS] [--modsim PATH]
//
// Prints: CPU of the whole process (user-interface thread and workers) as a share of one core
// over the measured time, peak resident set (VmHWM), and the round trip of probe hand-offs made
// every 20 ms from a thread of their own (median, 99th percentile, maximum), and the bars shown on
// the charts at the end as a check that the stream was parsed and shown. Not a test.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "brom/brom_library.h"
#include "tests/bench/bench_processes.h"
#include "tests/fakes/temp_folder.h"
#include "ui/child_form.h"
#include "ui/cnr_chart.h"
#include "ui/main_form.h"
#include "ui/message_box.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int seconds = 30;
  int ports = 16;
  int fixIntervalMs = 1000;
  std::string modsim = QUENBY_MODSIM_PATH;
};

constexpr char kUsage[] =
    "usage: quenby-gui-load [--seconds S] [--ports N] [--fix-interval MS] [--modsim PATH]\n";

[[noreturn]] void usage(const char* problem) {
  std::fprintf(stderr, "quenby-gui-load: %s\n%s", problem, kUsage);
  std::exit(2);
}

Options parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
    const std::string text = argv[++i];
    const int value = std::atoi(text.c_str());
    if (arg == "--seconds" && value >= 1) o.seconds = value;
    else if (arg == "--ports" && value >= 1 && value <= 16) o.ports = value;
    else if (arg == "--fix-interval" && value >= 100) o.fixIntervalMs = value;
    else if (arg == "--modsim") o.modsim = text;
    else usage(("bad option " + arg).c_str());
  }
  return o;
}

double cpuSeconds() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(use.ru_utime) + seconds(use.ru_stime);
}

double peakRssMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::bench::answeredHelp(argc, argv, kUsage)) return 0;
  const Options options = parseOptions(argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  quenby::ui::setMessageSink([](const QString& text) {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  });

  quenby::testing::TempFolder folder;
  std::string chosen;
  for (int p = 1; p <= options.ports; ++p) chosen += std::to_string(p) + ",";
  quenby::bench::writeFile(folder / "Torvane.ini",
                           "[System]\nComSelect=" + chosen +
                               "\nBaudrate_NMEA=115200\nEnable_Test=4\n"
                               "[Basic]\nAcqTime_Timeout=7200\n");
  quenby::bench::writeFile(folder / "scenario.ini",
                           "[default]\nbaud=115200\nacq_delay=3600000\nfix_interval=" +
                               std::to_string(options.fixIntervalMs) + "\n");
  std::optional<quenby::bench::ReadySimulator> simulator;
  try {
    simulator.emplace(std::vector<std::string>{options.modsim, "--ports-dir",
                                               (folder / "ports").string(), "--com",
                                               "1-" + std::to_string(options.ports), "--scenario",
                                               (folder / "scenario.ini").string()},
                      std::chrono::seconds(10));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quenby-gui-load: %s (%s)\n", e.what(), options.modsim.c_str());
    return 1;
  }

  quenby::brom::BromLibrary library(folder / "ports");
  auto form = std::make_unique<quenby::ui::TMainForm>(folder.path(), &library);
  form->resize(1280, 1024);
  form->show();
  form->MenuStartClick();
  form->TestSkipDL1Click();

  // Serves the event loop for a while. (The application's quit would close the windows.)
  auto serve = [](int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  };
  // Warm-up: ports opened, first GSV cycles shown.
  serve(3000);

  std::atomic<bool> probing{true};
  std::vector<double> roundTripsMs;
  std::thread probe([&] {
    while (probing.load()) {
      const auto start = Clock::now();
      form->bridge().synchronize([] {});
      roundTripsMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  const double cpu0 = cpuSeconds();
  const auto wall0 = Clock::now();
  serve(options.seconds * 1000);
  const double cpu = cpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  probing.store(false);
  // The probe's last hand-off needs the event loop once more.
  serve(200);
  probe.join();

  // As a check that the stream was parsed and shown: the bars on each port's chart.
  int bars = 0;
  for (auto* w : form->portWindows()) bars += static_cast<int>(w->findChild<quenby::ui::CnrChart*>("ChartCNR")->bars().size());
  std::printf("| %d | %d | %.1f s | %.2f %% | %.1f MiB | %zu | %.2f ms | %.2f ms | %.2f ms | %d |\n",
              options.ports, options.fixIntervalMs, wall, 100.0 * cpu / wall, peakRssMiB(),
              roundTripsMs.size(), percentile(roundTripsMs, 0.5), percentile(roundTripsMs, 0.99),
              percentile(roundTripsMs, 1.0), bars);
  form->MenuStopClick();
  form->close();
  return 0;
}
