// Writing and reading a 10,000,000-row observation table (timestamp,
// float32 and three dictionary-encoded code columns) as Parquet: in-memory
// megabytes per second each way, and the file size per codec.
#include <benchmark/benchmark.h>

#include <random>

#include "bench_support.hpp"
#include "tremora/parquet.hpp"

namespace tremora {
namespace {

constexpr std::size_t kRows = 10'000'000;

const Table& observations() {
  static const Table table = [] {
    std::mt19937 rng(5);
    std::vector<int64_t> times(kRows);
    std::vector<float> values(kRows);
    std::vector<int32_t> stations(kRows), points(kRows), items(kRows);
    int64_t t0 = make_timestamp(2024, 1, 1).ns;
    for (std::size_t i = 0; i < kRows; ++i) {
      std::size_t series = i / (kRows / 6);
      times[i] = t0 + int64_t(i % (kRows / 6)) * kNanosPerMinute;
      values[i] = 1000.0f + float(rng() % 100000) / 1000.0f;
      stations[i] = int32_t(series % 3);
      points[i] = int32_t(series % 2);
      items[i] = int32_t(series % 3);
    }
    Table t;
    t.add_column(Column::from_timestamps("STARTDATE", std::move(times)));
    t.add_column(Column::from_float32("OBSVALUE", std::move(values)));
    t.add_column(Column::from_dictionary("STATIONID", std::move(stations), {"37001", "32005", "41009"}));
    t.add_column(Column::from_dictionary("POINTID", std::move(points), {"1", "2"}));
    t.add_column(Column::from_dictionary("ITEMID", std::move(items), {"4112", "3121", "2311"}));
    return t;
  }();
  return table;
}

constexpr double kInMemoryBytes = double(kRows) * (8 + 4 + 3 * 4);

parquet::Compression codec(int64_t c) { return parquet::Compression(c); }

void BM_Write(benchmark::State& state) {
  const Table& t = observations();
  std::size_t size = 0;
  for (auto _ : state) {
    std::string bytes = parquet::write_table_to_bytes(t, {.compression = codec(state.range(0))});
    size = bytes.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["MB_per_s"] = benchmark::Counter(kInMemoryBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file_MB"] = double(size) / 1e6;
}

void BM_Read(benchmark::State& state) {
  std::string bytes = parquet::write_table_to_bytes(observations(), {.compression = codec(state.range(0))});
  for (auto _ : state) {
    Table t = parquet::read_table_from_bytes(bytes);
    benchmark::DoNotOptimize(t);
  }
  state.counters["MB_per_s"] = benchmark::Counter(kInMemoryBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
}

// Arguments: 0 none, 1 snappy, 2 gzip, 3 zstd.
BENCHMARK(BM_Write)->Arg(1)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Read)->Arg(1)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
