// Exporting a year of minute data of three series (1,576,800 samples, as
// fetch_data gives them) as a VUZO file with export_vuzo, and where the time
// goes: the conversion with its dictionary look-ups in a small metadata
// cache, and the file write (encoding, snappy, flush to disk); and reading
// the file back.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_support.hpp"
#include "minute_year.hpp"
#include "tremora/export.hpp"
#include "tremora/fetching.hpp"
#include "tremora/parquet.hpp"

namespace tremora {
namespace {

namespace fs = std::filesystem;

// The fetched table, and a home folder with the metadata cache of the
// sample database; the VUZO files go there too.
struct Setup {
  fs::path home = fs::temp_directory_path() / ("tremora-bench-home-" + std::to_string(getpid()));
  db::Connection* conn = bench::minute_year().conn.get();
  Table table;
  Setup() {
    fs::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    conn->info()["tremora_cache_namespace"] = "bench";
    fetching::refresh_metastash(*conn);
    table =
        *fetching::fetching_data(conn, "20240101", "20241230", "形变", "南京", "分钟值", "原始库", {.gzip_flag = true});
  }
  ~Setup() { fs::remove_all(home); }
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_ExportVuzo(benchmark::State& state) {
  Setup& s = setup();
  fs::path out = s.home / "year.vuzo";
  for (auto _ : state) fetching::DataFetcher::export_vuzo(s.conn, s.table, out, 60);
  state.counters["samples"] = double(s.table.num_rows());
  state.counters["file_MB"] = double(fs::file_size(out)) / 1e6;
}

void BM_ToVuzoOnly(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) benchmark::DoNotOptimize(fetching::DataFetcher::to_vuzo(s.conn, s.table, 60));
}

void BM_WriteFileOnly(benchmark::State& state) {
  Setup& s = setup();
  Table vuzo = *fetching::DataFetcher::to_vuzo(s.conn, s.table, 60);
  for (auto _ : state) parquet::write_table(vuzo, s.home / "only.vuzo");
}

// Reading the file back with its context (what show does).
void BM_ReadVuzo(benchmark::State& state) {
  Setup& s = setup();
  fetching::DataFetcher::export_vuzo(s.conn, s.table, s.home / "read.vuzo", 60);
  for (auto _ : state) benchmark::DoNotOptimize(exchange::read_vuzo(s.home / "read.vuzo"));
}

BENCHMARK(BM_ExportVuzo)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);
BENCHMARK(BM_ToVuzoOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);
BENCHMARK(BM_WriteFileOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);
BENCHMARK(BM_ReadVuzo)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
