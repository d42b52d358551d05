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
double quantumOf(const std::vector<float>& values) {
  double quantum = 1.0;
  for (int decimals = 0; decimals <= 4; ++decimals, quantum /= 10) {
    const bool fits = std::all_of(values.begin(), values.end(), [quantum](float v) {
      const double steps = v / quantum;
      return std::fabs(steps - std::round(steps)) < 1e-3 * std::max(1.0, std::fabs(steps) * 1e-4);
    });
    if (fits) return quantum;
  }
  return 0.0;
}

}  // namespace

Histogram histogramOf(const std::vector<float>& values, double min, double max) {
  Histogram h;
  if (values.empty()) return h;
  if (const double quantum = quantumOf(values); quantum > 0) {
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
  for (float v : values) {
    const auto k = static_cast<std::size_t>(std::max(0.0, std::floor((v - h.start) / h.width)));
    ++h.bins[std::min(k, h.bins.size() - 1)];  // the maximum closes the last bin
  }
  return h;
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
