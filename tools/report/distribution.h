// The figures of one measured value's distribution: extremes, mean, spread, percentiles and a
// histogram whose bins suit the values (whole seconds get whole-second bins).
#pragma once

#include <cstdint>
#include <vector>

#include "tools/report/run_statistics.h"

namespace quenby::report {

// Fills count, min, max, mean, stddev, p5, median, p95, outside and histogram of `figures` from
// the values (reordered on the way). Nothing is filled for no values.
void describeDistribution(std::vector<float>& values, MeasureFigures& figures);

// Histogram bins for values from min to max: when the values were written with a fixed number of
// decimals (whole seconds, a ratio with two), every bin is a whole number of such steps wide and
// one step each while they fit in MaxBins; else MaxBins bins of equal width.
Histogram histogramOf(const std::vector<float>& values, double min, double max);

inline constexpr std::size_t MaxBins = 40;

// A value and how many runs had it: a distribution as a database sums it up.
struct CountedValue {
  float value = 0.0f;
  std::uint64_t runs = 0;
};

// The same figures as describeDistribution, from distinct values (ascending) with their counts.
void describeCountedValues(const std::vector<CountedValue>& values, MeasureFigures& figures);

}  // namespace quenby::report
