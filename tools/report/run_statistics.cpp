#include "tools/report/run_statistics.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>

#include "tools/report/distribution.h"

namespace quenby::report {
namespace {

constexpr std::int32_t SecondsPerDay = 86400;
constexpr std::size_t MaxSerialBytes = 64;  // longer serial numbers are kept cut to this

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

std::optional<double> YieldCounts::yieldPercent() const {
  if (judged() == 0) return std::nullopt;
  return 100.0 * static_cast<double>(passes) / static_cast<double>(judged());
}

void YieldCounts::add(Verdict v) {
  ++runs;
  if (v == Verdict::Pass) ++passes;
  if (v == Verdict::Abort) ++aborted;
}

RunStatistics::DaySums& RunStatistics::dayOf(std::int32_t day) {
  // Runs come a file, that is a day, at a time.
  if (lastDay_ && lastDay_->figures.day == day) return *lastDay_;
  auto [it, added] = days_.try_emplace(day);
  if (added) {
    it->second.figures.day = day;
    it->second.figures.firstSecond = SecondsPerDay;
    it->second.figures.lastSecond = -1;
  }
  lastDay_ = &it->second;
  return it->second;
}

void RunStatistics::add(const LoggedRun& run) {
  overall_.add(run.verdict);

  DaySums& day = dayOf(run.day);
  day.figures.counts.add(run.verdict);
  ++day.figures.runsPerHour[static_cast<std::size_t>(run.second / 3600) % 24];
  day.figures.firstSecond = std::min(day.figures.firstSecond, run.second);
  day.figures.lastSecond = std::max(day.figures.lastSecond, run.second);

  PortSums& port = ports_[run.port];
  port.counts.add(run.verdict);

  if (run.verdict == Verdict::Fail) {
    auto it = failCodes_.find(std::string(run.failCode));
    if (it == failCodes_.end()) it = failCodes_.emplace(std::string(run.failCode), 0).first;
    ++it->second;
  }

  for (std::size_t m = 0; m < MeasureCount; ++m) {
    const MeasureValue& v = run.values[m];
    if (v.kind == MeasureValue::Kind::Timeout) ++timeouts_[m];
    if (v.kind != MeasureValue::Kind::Number) continue;
    values_[m].push_back(v.value);
    day.sum[m] += v.value;
    ++day.count[m];
  }
  const MeasureValue& cnr = run.values[index(Measure::CnrMean)];
  if (cnr.kind == MeasureValue::Kind::Number) {
    port.cnrSum += cnr.value;
    ++port.cnrCount;
  }

  if (!run.serial.empty() && run.verdict != Verdict::Abort &&
      serialRuns_.size() < std::numeric_limits<std::uint32_t>::max()) {
    const std::string_view text = run.serial.substr(0, MaxSerialBytes);
    SerialRun s;
    s.hash = std::hash<std::string_view>{}(run.serial);
    s.when = std::int64_t{run.day} * SecondsPerDay + run.second;
    s.order = static_cast<std::uint32_t>(serialRuns_.size());
    s.textOffset = static_cast<std::uint32_t>(serialTexts_.size());
    s.textLength = static_cast<std::uint16_t>(text.size());
    s.passed = run.verdict == Verdict::Pass;
    // The texts stay addressable by 32-bit offsets; beyond 4 GiB of serial numbers the listing
    // of the most retested shows the first ones only.
    if (serialTexts_.size() + text.size() < std::numeric_limits<std::uint32_t>::max())
      serialTexts_.append(text);
    else
      s.textLength = 0;
    serialRuns_.push_back(s);
  }
}

std::optional<SerialFigures> RunStatistics::serialFigures() {
  if (serialRuns_.empty()) return std::nullopt;
  std::sort(serialRuns_.begin(), serialRuns_.end(), [](const SerialRun& a, const SerialRun& b) {
    if (a.hash != b.hash) return a.hash < b.hash;
    if (a.when != b.when) return a.when < b.when;
    return a.order < b.order;
  });

  SerialFigures f;
  std::map<std::int32_t, SerialFigures::Day> days;
  auto byMostRuns = [](const SerialFigures::Retested& a, const SerialFigures::Retested& b) {
    return a.runs != b.runs ? a.runs > b.runs : a.serial < b.serial;
  };
  for (std::size_t i = 0; i < serialRuns_.size();) {
    std::size_t end = i;
    bool anyPassed = false;
    for (; end < serialRuns_.size() && serialRuns_[end].hash == serialRuns_[i].hash; ++end)
      anyPassed = anyPassed || serialRuns_[end].passed;
    const SerialRun& first = serialRuns_[i];
    const std::uint64_t runs = end - i;

    ++f.serials;
    auto& day = days[static_cast<std::int32_t>(first.when / SecondsPerDay)];
    day.day = static_cast<std::int32_t>(first.when / SecondsPerDay);
    ++day.serials;
    if (first.passed) {
      ++f.firstPass;
      ++day.firstPass;
    } else if (anyPassed) {
      ++f.passedOnRetest;
    } else {
      ++f.neverPassed;
    }
    if (runs > 1) {
      ++f.retested;
      SerialFigures::Retested r{serialTexts_.substr(first.textOffset, first.textLength), runs,
                                first.passed, serialRuns_[end - 1].passed};
      auto& listed = f.mostRetested;
      if (listed.size() < SerialFigures::MaxRetestedListed || byMostRuns(r, listed.back())) {
        listed.insert(std::upper_bound(listed.begin(), listed.end(), r, byMostRuns), std::move(r));
        if (listed.size() > SerialFigures::MaxRetestedListed) listed.pop_back();
      }
    }
    i = end;
  }
  for (const auto& [d, day] : days) f.days.push_back(day);
  return f;
}

void flagPorts(std::vector<PortFigures>& ports, std::optional<double>& cnrMedian,
               std::optional<double>& yieldMedian) {
  std::vector<double> cnrMeans, yields;
  for (const PortFigures& p : ports) {
    if (p.port != 0 && p.cnrCount) cnrMeans.push_back(p.cnrMean);
    if (p.port != 0 && p.counts.yieldPercent()) yields.push_back(*p.counts.yieldPercent());
  }
  cnrMedian = median(cnrMeans);
  yieldMedian = median(yields);
  for (PortFigures& p : ports) {
    if (p.port == 0) continue;
    p.lowCnr = p.cnrCount && cnrMedian && p.cnrMean < *cnrMedian - LowCnrMarginDb;
    const auto yield = p.counts.yieldPercent();
    p.lowYield = yield && yieldMedian && *yield < *yieldMedian - LowYieldMarginPoints;
  }
}

Figures RunStatistics::figures(const Limits& limits) {
  Figures f;
  f.overall = overall_;

  for (const auto& [d, sums] : days_) f.days.push_back(sums.figures);

  for (const auto& [number, sums] : ports_) {
    PortFigures p;
    p.port = number;
    p.counts = sums.counts;
    p.cnrCount = sums.cnrCount;
    if (sums.cnrCount) p.cnrMean = sums.cnrSum / static_cast<double>(sums.cnrCount);
    f.ports.push_back(p);
  }
  flagPorts(f.ports, f.portCnrMedian, f.portYieldMedian);

  for (auto& [code, count] : failCodes_) f.failCodes.push_back({code, count});
  std::sort(f.failCodes.begin(), f.failCodes.end(), [](const auto& a, const auto& b) {
    return a.count != b.count ? a.count > b.count : a.code < b.code;
  });

  for (const auto& m : Measures) {
    const std::size_t k = index(m.measure);
    if (values_[k].empty() && timeouts_[k] == 0) continue;
    MeasureFigures mf;
    mf.measure = m.measure;
    mf.limit = limits[k];
    mf.timeouts = timeouts_[k];
    describeDistribution(values_[k], mf);
    for (const auto& [d, sums] : days_)
      if (sums.count[k]) mf.dailyMean.emplace_back(d, sums.sum[k] / sums.count[k]);
    f.measures.push_back(std::move(mf));
    std::vector<float>().swap(values_[k]);  // done with them: give the memory back
  }

  f.serials = serialFigures();
  return f;
}

}  // namespace quenby::report
