// quenby-report: reads the station's test logs and writes one HTML report with charts and
// tables, then prints a short summary. Exit status 0 when the report was written, 1 when it
// could not be (no logs, output not writable), 2 for usage or settings errors.
#include <QApplication>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/program_folder.h"
#include "tools/report/report_charts.h"
#include "tools/report/report_options.h"
#include "tools/report/report_page.h"
#include "tools/report/text_summary.h"
#include "quenby_version.h"

namespace {

namespace fs = std::filesystem;

// Qt's notes about its environment (no runtime folder, no display) mean nothing for a report
// drawn off screen; only its errors are shown.
void qtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::cerr << "quenby-report: " << message.toStdString() << "\n";
}
using namespace quenby::report;

std::string nowText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// Writes beside the target and renames, so that a failed write never leaves half a report.
bool writeFile(const fs::path& path, const std::string& bytes) {
  fs::path partial = path;
  partial += ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
      std::error_code ec;
      fs::remove(partial, ec);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(partial, path, ec);
  if (ec) fs::remove(partial, ec);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  if (quenby::printedVersion(argc, argv, "quenby-report")) return 0;
  const ParsedOptions parsed = parseOptions({argv + 1, argv + argc});
  if (!parsed.options) {
    std::cerr << "quenby-report: " << parsed.error << "\n" << UsageText;
    return 2;
  }
  const ReportOptions& o = *parsed.options;
  if (o.help) {
    std::cout << UsageText;
    return 0;
  }

  const fs::path folder = quenby::programFolder();
  const fs::path settingsFile = o.settings.value_or(folder / "Torvane.ini");
  std::optional<Limits> limits = readLimits(settingsFile);
  if (o.settings && !limits) {
    std::cerr << "quenby-report: cannot read the settings file " << settingsFile << "\n";
    return 2;
  }
  const std::string limitsNote =
      limits ? "Limits (dashed red lines) from the settings file " + fs::absolute(settingsFile).string() + "."
             : "No settings file (" + settingsFile.string() + "): the charts show no limits.";

  const std::vector<fs::path> logs = o.logs.empty() ? stationLogs(folder, o.period) : o.logs;
  if (logs.empty()) {
    std::cerr << "quenby-report: no test logs (Test_Log_*.csv) in " << folder.string() << "\n";
    return 1;
  }
  const ReportInput input = readLogs(logs, o.period, limits.value_or(Limits{}));

  // Charts are drawn off screen: the report needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(qtMessages);
  QApplication app(argc, argv);
  const ReportCharts charts = drawCharts(input.figures);
  const std::string page = reportPage(input, charts, {nowText(), limitsNote});
  if (!writeFile(o.out, page)) {
    std::cerr << "quenby-report: cannot write " << o.out.string() << "\n";
    return 1;
  }
  std::cout << textSummary(input) << "Report: " << o.out.string() << "\n";
  return 0;
}
