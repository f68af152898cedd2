// plot_by_items of one item in 7 series of a year of minute samples
// (3,679,200 rows in one table) to one 7-panel PNG at 300 dpi, end to end:
// plain, with statistics lines, and with a Kp panel from the 2024 Kp file.
// Reports the time and the peak heap above the input table.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "bench_support.hpp"
#include "memory_counter.hpp"
#include "tremora/db.hpp"
#include "tremora/geomag.hpp"
#include "tremora/sampledb.hpp"
#include "tremora/tsplot.hpp"

namespace tremora {
namespace {

const std::vector<std::string> kStations{"37001", "37005", "32005", "41001", "34002", "13001", "11003"};

// A scratch folder for the sample database, its cache and the figures,
// removed when the program ends.
std::filesystem::path scratch() {
  static const struct Folder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tremora-bench-tsplot-" + std::to_string(getpid()));
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } folder;
  return folder.path;
}

// A plotter over the dictionaries of a small sample database.
tsplot::TSPlotter& plotter() {
  static tsplot::TSPlotter p = [] {
    sampledb::Options o;
    o.day_and_hour = {make_timestamp(2024, 5, 1), make_timestamp(2024, 5, 2)};
    o.minute = o.second = o.day_and_hour;
    sampledb::write_database(scratch() / "sample.db", o);
    auto conn = db::open_sqlite(scratch() / "sample.db");
    conn->info()["tremora_cache_namespace"] = "bench";
    return tsplot::TSPlotter(conn, {.metadata_dir = (scratch() / "cache").string(), .refresh_metadata = true});
  }();
  return p;
}

// Seven series of water level, interleaved by time as fetched data are.
const Table& minute_year() {
  static const Table table = [] {
    std::mt19937 rng(5);
    std::size_t per = 525'600, n = per * kStations.size();
    std::vector<int64_t> when(n);
    std::vector<float> value(n);
    std::vector<int32_t> station(n), zero(n, 0);
    int64_t t0 = make_timestamp(2024, 1, 1).ns;
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t s = i % kStations.size(), k = i / kStations.size();
      when[i] = t0 + int64_t(k) * kNanosPerMinute;
      station[i] = int32_t(s);
      value[i] = float(10 + s + 0.3 * std::sin(double(k) / 745.0) + 0.01 * double(rng() % 100));
    }
    Table t(std::vector<Column>{Column::from_dictionary("STATIONID", std::move(station), kStations),
                                Column::from_dictionary("POINTID", zero, {"1"}),
                                Column::from_dictionary("ITEMID", zero, {"4112"}),
                                Column::from_float32("OBSVALUE", std::move(value))});
    t.set_key_column(Column::from_timestamps("STARTDATE", std::move(when)));
    return t;
  }();
  return table;
}

void run(benchmark::State& state, const tsplot::PlotOptions& options) {
  tsplot::TSPlotter& p = plotter();
  const Table& ts = minute_year();
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(scratch());
  std::size_t peak = 0;
  for (auto _ : state) {
    bench::reset_peak();
    std::size_t before = bench::live_bytes();
    benchmark::DoNotOptimize(p.plot_by_items(ts, options));
    peak = std::max(peak, bench::peak_bytes() - before);
  }
  std::filesystem::current_path(old);
  double input = double(ts.num_rows()) * (8 + 3 * 4 + 4);
  state.counters["rows"] = double(ts.num_rows());
  state.counters["peak_MB"] = double(peak) / 1e6;
  state.counters["peak_over_input"] = double(peak) / input;
}

void BM_PlotByItems(benchmark::State& state) { run(state, {}); }
void BM_PlotByItemsStatistics(benchmark::State& state) { run(state, {.show_mean = true, .show_std = true}); }
void BM_PlotByItemsKp(benchmark::State& state) {
  static const Table kp = geomag::read_kp_file(TREMORA_KP_FILE);
  run(state, {.show_mean = true, .show_std = true, .show_geomag = true, .geomag_data = kp});
}

BENCHMARK(BM_PlotByItems)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);
BENCHMARK(BM_PlotByItemsStatistics)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);
BENCHMARK(BM_PlotByItemsKp)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
