// plot_annual_comparison of three years of daily values and of hourly
// values (26,304 rows) to a 12 x 8 in PNG at 300 dpi, end to end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "bench_support.hpp"
#include "tremora/yearplot.hpp"

namespace tremora {
namespace {

// Three years of a seasonal series, one row every `step` nanoseconds.
Table years_of(int64_t step) {
  std::vector<int64_t> t;
  std::vector<float> v;
  int64_t first = make_timestamp(2022, 1, 1).ns, end = make_timestamp(2025, 1, 1).ns;
  for (int64_t at = first; at < end; at += step) {
    double day = double(at - first) / double(kNanosPerDay);
    t.push_back(at);
    v.push_back(float(11.5 + 0.3 * std::sin(day / 58.1) + 0.02 * std::sin(day * 7.3)));
  }
  Table out(std::vector<Column>{Column::from_float32("OBSVALUE", std::move(v))});
  out.set_key_column(Column::from_timestamps("STARTDATE", std::move(t)));
  return out;
}

void run(benchmark::State& state, int64_t step) {
  auto dir = std::filesystem::temp_directory_path() / ("tremora-bench-yearplot-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  Table source = years_of(step);
  for (auto _ : state) {
    Table df = source;
    benchmark::DoNotOptimize(yearplot::plot_annual_comparison(df));
  }
  std::filesystem::current_path(old);
  std::filesystem::remove_all(dir);
  state.counters["rows"] = double(source.num_rows());
}

void BM_AnnualDaily(benchmark::State& state) { run(state, kNanosPerDay); }
void BM_AnnualHourly(benchmark::State& state) { run(state, kNanosPerHour); }

BENCHMARK(BM_AnnualDaily)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);
BENCHMARK(BM_AnnualHourly)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
