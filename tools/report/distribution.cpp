#include "tools/report/distribution.h"

#include <algorithm>
#include <cmath>

namespace quenby::report {
namespace {

// The value at fraction p of the way through the values in ascending order (nearest rank).
double percentile(std::vector<float>& values, double p) {
  const auto rank = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
  return values[rank];
}

// The step the values were written with: 1 for whole seconds, 0.01 for a ratio with two
// decimals; 0 when they have more than four decimals.
template <typename Values, typename ValueOf>
double quantumOf(const Values& values, ValueOf valueOf) {
  double quantum = 1.0;
  for (int decimals = 0; decimals <= 4; ++decimals, quantum /= 10) {
    const bool fits = std::all_of(values.begin(), values.end(), [&](const auto& item) {
      const double steps = valueOf(item) / quantum;
      return std::fabs(steps - std::round(steps)) < 1e-3 * std::max(1.0, std::fabs(steps) * 1e-4);
    });
    if (fits) return quantum;
  }
  return 0.0;
}

// Empty bins over [min, max] for values written in steps of `quantum` (0: no fixed step).
Histogram emptyHistogram(double quantum, double min, double max) {
  Histogram h;
  if (quantum > 0) {
    // Bins of whole steps, centred on the values that can occur.
    const double steps = std::round((max - min) / quantum) + 1;
    h.width = quantum * std::max(1.0, std::ceil(steps / MaxBins));
    h.start = min - quantum / 2;
  } else if (max > min) {
    h.width = (max - min) / MaxBins;
    h.start = min;
  } else {
    h.width = std::max(std::fabs(min) * 0.01, 0.01);
    h.start = min - h.width / 2;
  }
  const auto binCount = static_cast<std::size_t>(std::floor((max - h.start) / h.width)) + 1;
  h.bins.assign(std::min(binCount, MaxBins), 0);
  return h;
}

void addToHistogram(Histogram& h, double v, std::uint64_t runs) {
  const auto k = static_cast<std::size_t>(std::max(0.0, std::floor((v - h.start) / h.width)));
  h.bins[std::min(k, h.bins.size() - 1)] += runs;  // the maximum closes the last bin
}

}  // namespace

Histogram histogramOf(const std::vector<float>& values, double min, double max) {
  if (values.empty()) return {};
  Histogram h = emptyHistogram(quantumOf(values, [](float v) { return v; }), min, max);
  for (float v : values) addToHistogram(h, v, 1);
  return h;
}

void describeCountedValues(const std::vector<CountedValue>& values, MeasureFigures& f) {
  f.count = 0;
  double sum = 0.0;
  for (const auto& [v, runs] : values) {
    f.count += runs;
    sum += static_cast<double>(v) * static_cast<double>(runs);
    if (f.limit.outside(v)) f.outside += runs;
  }
  if (f.count == 0) return;
  f.min = values.front().value;
  f.max = values.back().value;
  f.mean = sum / static_cast<double>(f.count);
  double squares = 0.0;
  for (const auto& [v, runs] : values) squares += (v - f.mean) * (v - f.mean) * static_cast<double>(runs);
  f.stddev = f.count > 1 ? std::sqrt(squares / static_cast<double>(f.count - 1)) : 0.0;
  f.histogram = emptyHistogram(quantumOf(values, [](const CountedValue& c) { return c.value; }), f.min, f.max);
  for (const auto& [v, runs] : values) addToHistogram(f.histogram, v, runs);
  // Nearest rank, as for the values one by one.
  const auto at = [&](double p) {
    const auto rank = static_cast<std::uint64_t>(std::lround(p * static_cast<double>(f.count - 1)));
    std::uint64_t seen = 0;
    for (const auto& [v, runs] : values) {
      seen += runs;
      if (seen > rank) return static_cast<double>(v);
    }
    return static_cast<double>(values.back().value);
  };
  f.p5 = at(0.05);
  f.median = at(0.5);
  f.p95 = at(0.95);
}

void describeDistribution(std::vector<float>& values, MeasureFigures& f) {
  f.count = values.size();
  if (values.empty()) return;
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  f.min = *lo;
  f.max = *hi;
  double sum = 0.0;
  for (float v : values) {
    sum += v;
    if (f.limit.outside(v)) ++f.outside;
  }
  f.mean = sum / static_cast<double>(values.size());
  double squares = 0.0;
  for (float v : values) squares += (v - f.mean) * (v - f.mean);
  f.stddev = values.size() > 1 ? std::sqrt(squares / static_cast<double>(values.size() - 1)) : 0.0;
  f.histogram = histogramOf(values, f.min, f.max);
  f.p5 = percentile(values, 0.05);
  f.median = percentile(values, 0.5);
  f.p95 = percentile(values, 0.95);
}

}  // namespace quenby::report
