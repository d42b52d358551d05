#include "tools/report/log_generator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/test_log.h"
#include "settings/test_settings.h"

namespace quenby::report {
namespace {

constexpr int ShiftStartSecond = 6 * 3600;
constexpr int ShiftSeconds = 16 * 3600;
constexpr const char* VersionText = "\"QNB-DEMO_2.1,0042,QZ3329,SDK1.3\"";
constexpr const char* NmeaText = "\"1,1,1,1,1,1,0,0\"";

LogTime logTimeOf(std::int32_t day, int second) {
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{day}}};
  return {static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())), second / 3600, second / 60 % 60,
          second % 60};
}

std::string fixed(double v, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

struct Run {
  int second = 0;
  std::uint16_t port = 0;
  std::string serial;
};

// One run's line: the items run in the station's order and the first failure ends the run.
class RunWriter {
 public:
  RunWriter(std::mt19937& random, bool weakPort) : random_(random), cnrShift_(weakPort ? -2.6 : 0) {}

  std::string line(const Run& run, const LogTime& when) {
    std::vector<std::string> items;  // Acq ... Reset, "N/A" once the run has ended
    std::string verdict = "Pass";
    auto fail = [&](const char* code) {
      if (verdict == "Pass") verdict = std::string("Fail(") + code + ")";
    };
    auto decided = [&] { return verdict != "Pass"; };
    auto add = [&](std::string text) { items.push_back(decided() ? "N/A" : std::move(text)); };

    int total = 6 + static_cast<int>(uniform(0, 3));
    const bool stopped = chance(0.004);
    // Acquisition and bit sync: whole seconds, a time-out now and then.
    if (chance(0.006)) {
      add("Timeout(10)");
      fail("Acq");
    } else {
      const int acq = std::max(1, static_cast<int>(std::lround(normal(3.2, 1.1))));
      add(std::to_string(acq));
      total += acq;
    }
    const int bitSync = std::max(1, static_cast<int>(std::lround(normal(1.6, 0.6))));
    add(std::to_string(bitSync));
    total += bitSync;
    // Signal quality: phase, TCXO, CNR, each judged when the one before passed.
    const double phase = std::min(0.99, normal(0.95, 0.025));
    add(fixed(phase, 2));
    if (phase < 0.85) fail("Phase");
    const double offset = normal(0, 9), drift = normal(0, 0.2);
    add(fixed(offset, 3));
    add(fixed(drift, 3));
    if (std::fabs(offset) > 40.92 || std::fabs(drift) > 0.8184) fail("TCXO");
    const double cnr = normal(43.5 + cnrShift_, 1.3), sigma = std::fabs(normal(0.5, 0.18));
    add(fixed(cnr, 1));
    add(fixed(sigma, 1));
    if (cnr < 40 || sigma > 1.0) fail("CNR");
    total += 4;
    const int ttff = std::max(20, static_cast<int>(std::lround(normal(33, 4))));
    const bool ttffTimedOut = chance(0.003);
    add(ttffTimedOut ? "Timeout(90)" : std::to_string(ttff));
    if (!decided()) total += ttffTimedOut ? 90 : ttff;
    if (ttffTimedOut) fail("CTTFF");
    add(std::to_string(1 + static_cast<int>(uniform(0, 2))));
    if (stopped) verdict = "Fail(Abort)";

    std::string s = run.serial + "," + verdict + ",N/A,,COM" + std::to_string(run.port) + "," +
                    TestLog::dateText(when) + "," + TestLog::timeText(when) + ",N/A," +
                    (verdict == "Fail(Abort)" && items.empty() ? "N/A" : VersionText) + ",29,";
    for (const auto& item : items) s += item + ",";
    s += verdict == "Pass" ? NmeaText : "N/A";
    s += "," + std::to_string(total) + "\r\n";
    return s;
  }

 private:
  double normal(double mean, double sd) { return std::normal_distribution<double>(mean, sd)(random_); }
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(random_); }
  bool chance(double p) { return uniform(0, 1) < p; }

  std::mt19937& random_;
  double cnrShift_;
};

}  // namespace

std::uint64_t writeLineLogs(const std::filesystem::path& folder, const LineModel& model) {
  std::mt19937 random(model.seed);
  std::uint64_t lines = 0;
  std::uint64_t nextSerial = 10000000;
  const int spacing = ShiftSeconds / std::max(1, model.runsPerPortDay);
  for (int d = 0; d < model.days; ++d) {
    const std::int32_t day = model.firstDay + d;
    std::vector<Run> runs;
    for (std::uint16_t port = 1; port <= model.ports; ++port) {
      int second = ShiftStartSecond + static_cast<int>(random() % 120);
      for (int k = 0; k < model.runsPerPortDay && second < 86400; ++k) {
        runs.push_back({second, port, "QZ" + std::to_string(nextSerial++)});
        second += spacing / 2 + static_cast<int>(random() % static_cast<unsigned>(spacing));
      }
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
      return a.second != b.second ? a.second < b.second : a.port < b.port;
    });
    std::ofstream out(folder / TestLog::logFileName(logTimeOf(day, 0)),
                      std::ios::binary | std::ios::trunc);
    out << TestLog::headerLine(item::OfferedItems);
    std::vector<std::string> failedSerials;
    for (auto& run : runs) {
      RunWriter writer(random, run.port == model.weakPort);
      // About half of the failed modules are tested again later the same day.
      if (!failedSerials.empty() && random() % 3 == 0) {
        run.serial = failedSerials.back();
        failedSerials.pop_back();
      }
      const std::string line = writer.line(run, logTimeOf(day, run.second));
      if (line.find(",Fail(") != std::string::npos && line.find("Abort") == std::string::npos &&
          random() % 2 == 0)
        failedSerials.push_back(run.serial);
      out << line;
      ++lines;
    }
  }
  return lines;
}

}  // namespace quenby::report
