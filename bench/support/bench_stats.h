#pragma once

// Figures drawn from a benchmark's samples.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

// The middle sample, or the mean of the two in the middle.
inline double bench_median(std::vector<double> samples) {
  if (samples.empty()) throw std::runtime_error("no samples for a median");
  std::sort(samples.begin(), samples.end());
  std::size_t const n = samples.size();
  return (samples[(n - 1) / 2] + samples[n / 2]) / 2;
}

// By nearest rank: the least sample that at least `fraction` of them do not exceed; 1 gives the worst.
inline double bench_percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) throw std::runtime_error("no samples for a percentile");
  std::sort(samples.begin(), samples.end());
  auto const rank = static_cast<std::size_t>(std::ceil(fraction * samples.size()));
  return samples[std::max<std::size_t>(rank, 1) - 1];
}
