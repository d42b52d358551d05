// Everything the report shows, gathered from the runs one at a time, so that a year of logs
// never has to be held in memory as lines.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/report/limits.h"
#include "tools/report/logged_run.h"

namespace quenby::report {

// A port whose mean CNR lies this far below the median of the ports' means is flagged, and so is
// one whose yield lies this many points below the median of the ports' yields.
inline constexpr double LowCnrMarginDb = 2.0;
inline constexpr double LowYieldMarginPoints = 10.0;

// A stopped run (Fail(Abort)) is no module fault: it counts as a run but not in the yield.
struct YieldCounts {
  std::uint64_t runs = 0, passes = 0, aborted = 0;
  std::uint64_t judged() const { return runs - aborted; }
  std::uint64_t fails() const { return judged() - passes; }
  // passes / judged runs in percent; nullopt without a judged run.
  std::optional<double> yieldPercent() const;
  void add(Verdict v);
};

struct DayFigures {
  std::int32_t day = 0;
  YieldCounts counts;
  std::array<std::uint32_t, 24> runsPerHour{};
  std::int32_t firstSecond = 0, lastSecond = 0;  // of the day's first and last run
};

struct PortFigures {
  std::uint16_t port = 0;  // 0: runs whose ComPort column says N/A
  YieldCounts counts;
  std::uint64_t cnrCount = 0;
  double cnrMean = 0.0;
  bool lowCnr = false, lowYield = false;
};

struct FailCodeCount {
  std::string code;
  std::uint64_t count = 0;
};

struct Histogram {
  double start = 0.0, width = 1.0;  // bin k holds [start + k*width, start + (k+1)*width)
  std::vector<std::uint64_t> bins;
};

struct MeasureFigures {
  Measure measure{};
  Limit limit;
  std::uint64_t count = 0;     // numeric values
  std::uint64_t timeouts = 0;  // Timeout(n) texts
  std::uint64_t outside = 0;   // values beyond the limit
  double min = 0, max = 0, mean = 0, stddev = 0, p5 = 0, median = 0, p95 = 0;
  Histogram histogram;
  std::vector<std::pair<std::int32_t, double>> dailyMean;  // day, mean of its values
};

// First-pass yield over serial numbers: a serial passes first time when its first run that was
// not stopped passed.
struct SerialFigures {
  struct Day {
    std::int32_t day = 0;  // the day of the serials' first run
    std::uint64_t serials = 0, firstPass = 0;
  };
  struct Retested {
    std::string serial;
    std::uint64_t runs = 0;
    bool firstPassed = false, lastPassed = false;
  };
  static constexpr std::size_t MaxRetestedListed = 10;

  std::uint64_t serials = 0, firstPass = 0, passedOnRetest = 0, neverPassed = 0, retested = 0;
  std::vector<Day> days;
  std::vector<Retested> mostRetested;  // most runs first
};

struct Figures {
  YieldCounts overall;
  std::vector<DayFigures> days;         // ascending
  std::vector<PortFigures> ports;       // ascending, N/A (0) first when present
  std::optional<double> portCnrMedian, portYieldMedian;
  std::vector<FailCodeCount> failCodes;  // most frequent first; Abort is not among them
  std::vector<MeasureFigures> measures;  // those the logs hold, in column order
  std::optional<SerialFigures> serials;  // when any run has a serial number
};

// Sets the medians of the ports' CNR means and yields (ports with a number only) and flags the
// ports that lie too far below them.
void flagPorts(std::vector<PortFigures>& ports, std::optional<double>& cnrMedian,
               std::optional<double>& yieldMedian);

class RunStatistics {
 public:
  void add(const LoggedRun& run);
  // Works out the figures; the gathered values are reordered on the way, so call it once.
  Figures figures(const Limits& limits);

 private:
  struct DaySums {
    DayFigures figures;
    std::array<double, MeasureCount> sum{};
    std::array<std::uint32_t, MeasureCount> count{};
  };
  struct PortSums {
    YieldCounts counts;
    double cnrSum = 0.0;
    std::uint64_t cnrCount = 0;
  };
  struct SerialRun {
    std::uint64_t hash = 0;
    std::int64_t when = 0;  // day * 86400 + second
    std::uint32_t order = 0;
    std::uint32_t textOffset = 0;
    std::uint16_t textLength = 0;
    bool passed = false;
  };

  DaySums& dayOf(std::int32_t day);
  std::optional<SerialFigures> serialFigures();

  YieldCounts overall_;
  std::map<std::int32_t, DaySums> days_;
  DaySums* lastDay_ = nullptr;
  std::map<std::uint16_t, PortSums> ports_;
  std::unordered_map<std::string, std::uint64_t> failCodes_;
  std::array<std::vector<float>, MeasureCount> values_;
  std::array<std::uint64_t, MeasureCount> timeouts_{};
  std::vector<SerialRun> serialRuns_;
  std::string serialTexts_;
};

}  // namespace quenby::report
