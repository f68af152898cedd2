// What the benchmark programs share.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "tremora/memory.hpp"

namespace tremora::bench {

/// Benchmarks run as the tremora program does: with freed memory kept for
/// reuse. Set before main, in every program that includes this.
inline const bool kFreedMemoryKept = (keep_freed_memory(), true);

/// The machine's speed varies from run to run: a benchmark given this is
/// run five times and reported as the mean, the median, the spread and the
/// fastest run ("_min").
inline void five_runs(benchmark::internal::Benchmark* b) {
  b->Repetitions(5)->ReportAggregatesOnly(true);
  b->ComputeStatistics("min",
                       [](const std::vector<double>& times) { return *std::min_element(times.begin(), times.end()); });
}

}  // namespace tremora::bench
