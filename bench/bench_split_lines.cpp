// split_lines on a year of minute data of three series and on a week of
// second data: samples per second, result bytes per sample, and the peak
// heap while splitting relative to the result and the input.
#include <benchmark/benchmark.h>

#include <random>

#include "bench_support.hpp"
#include "memory_counter.hpp"
#include "tremora/cleaning.hpp"

namespace tremora {
namespace {

// Day rows as fetched: STARTDATE, STATIONID, POINTID, ITEMID, OBSVALUE.
Table make_day_rows(int series, int days, int samples_per_day) {
  std::mt19937_64 rng(1);
  std::vector<int64_t> starts;
  std::vector<std::optional<std::string>> stations, points, items;
  StringColumnBuilder values;
  int64_t first = make_timestamp(2024, 1, 1).ns;
  char buf[32];
  for (int s = 0; s < series; ++s) {
    for (int d = 0; d < days; ++d) {
      starts.push_back(first + d * kNanosPerDay);
      stations.push_back(std::to_string(37001 + s));
      points.push_back("1");
      items.push_back("4112");
      std::string text;
      text.reserve(std::size_t(samples_per_day) * 9);
      for (int k = 0; k < samples_per_day; ++k) {
        if (k) text += ' ';
        if (rng() % 50 == 0) {
          text += "NULL";
        } else {
          int n = snprintf(buf, sizeof buf, "%.3f", 1000.0 + double(rng() % 500000) / 1000.0);
          text.append(buf, std::size_t(n));
        }
      }
      values.append(text);
    }
  }
  Table t;
  t.add_column(Column::from_timestamps("STARTDATE", std::move(starts)));
  t.add_column(Column::from_strings("STATIONID", stations));
  t.add_column(Column::from_strings("POINTID", points));
  t.add_column(Column::from_strings("ITEMID", items));
  t.add_column(values.finish("OBSVALUE"));
  return t;
}

std::size_t result_bytes(const Table& t) {
  std::size_t bytes = t.key().int64s().size() * sizeof(int64_t);
  for (const auto& c : t.columns()) {
    if (c.type() == DataType::Float32) bytes += c.float32s().size() * sizeof(float);
    else if (c.is_dictionary()) bytes += c.codes().size() * sizeof(int32_t);
  }
  return bytes;
}

void run_split(benchmark::State& state, int series, int days, int samples_per_day, double rate) {
  const Table input = make_day_rows(series, days, samples_per_day);
  std::size_t input_bytes = bench::live_bytes();
  std::size_t samples = 0, peak = 0, result = 0;
  for (auto _ : state) {
    std::size_t before = bench::live_bytes();
    bench::reset_peak();
    Table out = cleaning::split_lines(input, rate);
    peak = bench::peak_bytes() - before;
    samples = out.num_rows();
    result = result_bytes(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(int64_t(state.iterations() * samples));
  state.counters["samples"] = double(samples);
  state.counters["Msamples_per_s"] =
      benchmark::Counter(double(samples) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["result_B_per_sample"] = double(result) / double(samples);
  state.counters["peak_B_per_sample"] = double(peak) / double(samples);
  state.counters["peak_over_2result_plus_input"] = double(peak) / double(2 * result + input_bytes);
}

void BM_SplitMinuteYear(benchmark::State& state) { run_split(state, 3, 365, 1440, 60); }
void BM_SplitSecondWeek(benchmark::State& state) { run_split(state, 1, 7, 86400, 1); }

BENCHMARK(BM_SplitMinuteYear)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SplitSecondWeek)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
