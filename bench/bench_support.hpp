// What the benchmark programs share.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace tremora::bench {

/// The machine's speed varies from run to run: a benchmark given this is
/// run five times and reported as the mean, the median, the spread and the
/// fastest run ("_min").
inline void five_runs(benchmark::internal::Benchmark* b) {
  b->Repetitions(5)->ReportAggregatesOnly(true);
  b->ComputeStatistics("min",
                       [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); });
}

}  // namespace tremora::bench
