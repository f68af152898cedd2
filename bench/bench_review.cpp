// tremora review of a week of minute data of the whole sample network
// (eight stations, every item), with the catalogue and the 2024 Kp file:
// fetch of the period, the 30 reference days and the log, the checks, the
// table, the SVG charts and the page, end to end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "bench_support.hpp"
#include "tremora/db.hpp"
#include "tremora/fetching.hpp"
#include "tremora/geomag.hpp"
#include "tremora/review.hpp"
#include "tremora/sampledb.hpp"

namespace tremora {
namespace {

namespace fs = std::filesystem;

// A scratch folder for the sample database, its cache and the pages,
// removed when the program ends.
fs::path scratch() {
  static const struct Folder {
    fs::path path = fs::temp_directory_path() / ("tremora-bench-review-" + std::to_string(getpid()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } folder;
  return folder.path;
}

// The sample database with its minute data of April and May 2024.
std::shared_ptr<db::Connection> sample() {
  static std::shared_ptr<db::Connection> conn = [] {
    sampledb::Options o;
    o.rates = {"01", "60", "90"};
    o.day_and_hour = {make_timestamp(2024, 3, 1), make_timestamp(2024, 5, 31)};
    sampledb::write_database(scratch() / "sample.db", o);
    sampledb::write_catalogue(scratch() / "catalogue.txt", o);
    auto c = db::open_sqlite(scratch() / "sample.db");
    c->info()["tremora_cache_namespace"] = "bench";
    fetching::refresh_metastash(*c, (scratch() / "cache").string());
    return c;
  }();
  return conn;
}

void BM_ReviewWeekOfMinutes(benchmark::State& state) {
  auto conn = sample();
  review::ReviewOptions o{.gzip = true,
                          .quakecat = scratch() / "catalogue.txt",
                          .geomag = true,
                          .geomag_data = geomag::read_kp_file(TREMORA_KP_FILE),
                          .cache_dir = (scratch() / "cache").string()};
  std::size_t series = 0;
  for (auto _ : state) series = review::review(conn, "20240508", "20240514", scratch() / "page", o).num_rows();
  state.counters["series"] = double(series);
}

BENCHMARK(BM_ReviewWeekOfMinutes)->Unit(benchmark::kMillisecond)->Iterations(3)->Apply(bench::five_runs);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
