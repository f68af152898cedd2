// The post-processing treatments on a million samples and on a year of
// minute data of three series (1,576,800 samples).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "bench_support.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora {
namespace {

// A year of minute samples of three series, in time order as split_lines leaves them.
const Table& minute_year() {
  static const Table table = [] {
    std::mt19937 rng(3);
    std::size_t per_series = 365 * 1440, n = 3 * per_series;
    std::vector<int64_t> when(n);
    std::vector<float> value(n);
    std::vector<int32_t> station(n), point(n), item(n);
    int64_t t0 = make_timestamp(2024, 1, 1).ns;
    for (std::size_t i = 0; i < n; ++i) {
      when[i] = t0 + int64_t(i / 3) * kNanosPerMinute;
      value[i] = rng() % 50 == 0 ? NAN : 1000.0f + float(rng() % 10000) / 100.0f;
      station[i] = int32_t(i % 3);
      item[i] = int32_t(i % 3);
    }
    Table t;
    t.add_column(Column::from_timestamps("STARTDATE", std::move(when)));
    t.add_column(Column::from_dictionary("STATIONID", std::move(station), {"32005", "37001", "41001"}));
    t.add_column(Column::from_dictionary("POINTID", std::move(point), {"1"}));
    t.add_column(Column::from_dictionary("ITEMID", std::move(item), {"2111", "2112", "2311"}));
    t.add_column(Column::from_float32("OBSVALUE", std::move(value)));
    return t;
  }();
  return table;
}

Column million_samples() {
  std::mt19937 rng(7);
  std::vector<float> v(1'000'000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = float(std::sin(double(i) / 500)) * 10 + float(rng() % 1000) / 500;
  return Column::from_float32("OBSVALUE", std::move(v));
}

void BM_MadFilter(benchmark::State& state) {
  Column x = million_samples();
  for (auto _ : state) benchmark::DoNotOptimize(postprocessing::filter_with_fast_mad(x, state.range(0)));
}

// The table's three series, each filtered on its own (series in parallel).
void BM_MadFilterSeries(benchmark::State& state) {
  const Table& t = minute_year();
  for (auto _ : state) benchmark::DoNotOptimize(postprocessing::filter_with_fast_mad(t, state.range(0)));
}

void BM_Resample(benchmark::State& state, const char* freq, const char* agg) {
  const Table& t = minute_year();
  for (auto _ : state) benchmark::DoNotOptimize(postprocessing::resample_timeseries_data(t, freq, agg));
}

void BM_FirstDifference(benchmark::State& state) {
  Table t = minute_year();
  t.set_key("STARTDATE");
  for (auto _ : state) benchmark::DoNotOptimize(postprocessing::first_difference(t));
}

void repeated(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMillisecond)->MinTime(0.5);
  bench::five_runs(b);
}

BENCHMARK(BM_MadFilter)->Arg(15)->Arg(301)->Apply(repeated);
BENCHMARK(BM_MadFilterSeries)->Arg(15)->Apply(repeated);
BENCHMARK_CAPTURE(BM_Resample, hour_mean, "1h", "mean")->Apply(repeated);
BENCHMARK_CAPTURE(BM_Resample, day_median, "1D", "median")->Apply(repeated);
BENCHMARK(BM_FirstDifference)->Apply(repeated);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
