// plot_annual_comparison of three years of daily values and of hourly
// values (26,304 rows) to a 12 x 8 in PNG at 300 dpi, end to end; and of
// 1,000,000 minute values, with the memory the chart takes above its input
// (the growth of the process's peak resident size, as Cairo's allocations
// are not the program's own).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "bench_support.hpp"
#include "tremora/yearplot.hpp"

namespace tremora {
namespace {

// A seasonal series from 2022, one row every `step` nanoseconds: three
// years, or `rows` rows when given.
Table years_of(int64_t step, std::size_t rows = 0) {
  std::vector<int64_t> t;
  std::vector<float> v;
  int64_t first = make_timestamp(2022, 1, 1).ns, end = make_timestamp(2025, 1, 1).ns;
  for (int64_t at = first; rows ? t.size() < rows : at < end; at += step) {
    double day = double(at - first) / double(kNanosPerDay);
    t.push_back(at);
    v.push_back(float(11.5 + 0.3 * std::sin(day / 58.1) + 0.02 * std::sin(day * 7.3)));
  }
  Table out(std::vector<Column>{Column::from_float32("OBSVALUE", std::move(v))});
  out.set_key_column(Column::from_timestamps("STARTDATE", std::move(t)));
  return out;
}

// The peak resident size of the process so far, in bytes.
double peak_resident_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024;
}

void run(benchmark::State& state, int64_t step, std::size_t rows = 0) {
  auto dir = std::filesystem::temp_directory_path() / ("tremora-bench-yearplot-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  Table source = years_of(step, rows);
  double growth = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Table df = source;  // the chart's input, which it extends by a column
    double before = peak_resident_bytes();
    state.ResumeTiming();
    benchmark::DoNotOptimize(yearplot::plot_annual_comparison(df));
    growth = std::max(growth, peak_resident_bytes() - before);
  }
  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
  state.counters["rows"] = double(source.num_rows());
  if (rows) state.counters["peak_bytes_per_row"] = growth / double(source.num_rows());
}

void BM_AnnualDaily(benchmark::State& state) { run(state, kNanosPerDay); }
void BM_AnnualHourly(benchmark::State& state) { run(state, kNanosPerHour); }
// Runs first in its own process (--benchmark_filter) for a meaningful peak.
void BM_AnnualMillionMinutes(benchmark::State& state) { run(state, kNanosPerMinute, 1'000'000); }

BENCHMARK(BM_AnnualDaily)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);
BENCHMARK(BM_AnnualHourly)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);
BENCHMARK(BM_AnnualMillionMinutes)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
