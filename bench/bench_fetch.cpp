// Fetching a year of minute data of three series (1095 day rows with gzip
// values, 1,576,800 samples) from a sample database through fetch_data, the
// bytes per sample of the result, and parts of the time: the query and the
// inflating (the split has its own benchmark). The same fetch through the
// oracle driver, over the stand-in client library of the tests serving the
// same file, shows what the driver itself costs.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench_support.hpp"
#include "minute_year.hpp"
#include "tremora/cleaning.hpp"
#include "tremora/fetching.hpp"
#include "tremora/gzip.hpp"

namespace tremora {
namespace {

struct Setup {
  std::shared_ptr<db::Connection> conn = bench::minute_year().conn;
  std::string sql;
  Setup() {
    Table names(std::vector<Column>{Column::from_strings("table_name", {"QZ_211_DYS_01", "QZ_231_DYS_01"})});
    Table stations(std::vector<Column>{Column::from_strings("stationid", {"32005"})});
    sql = *fetching::QueryBuilder::build_data_query(names, "20240101", "20241230", stations);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

// Bytes a column holds per row.
double bytes_per_row(const Column& c) {
  switch (c.type()) {
    case DataType::Float32: return 4;
    case DataType::Float64:
    case DataType::Int64:
    case DataType::Timestamp:
    case DataType::Duration: return 8;
    case DataType::Bool: return 1;
    default:
      if (c.is_dictionary()) return 4;
      std::size_t chars = 0;
      for (std::size_t i = 0; i < c.size(); ++i) chars += c.text(i).size();
      return 8 + double(chars) / double(std::max<std::size_t>(1, c.size()));
  }
}

double bytes_per_sample(const Table& t) {
  double b = t.has_key() ? bytes_per_row(t.key()) : 0;
  for (const auto& c : t.columns()) b += bytes_per_row(c);
  return b;
}

#ifdef TREMORA_OCI_STANDIN_DIR
// The oracle driver's connection to the benchmark's file, through the stand-in.
std::shared_ptr<db::Connection> oracle_connection() {
  static std::shared_ptr<db::Connection> conn = [] {
    std::string map = "standin:1521/BENCH=" + bench::minute_year().file.string();
    setenv("TREMORA_OCI_STANDIN_DATABASES", map.c_str(), 1);
    db::oracle::init_client(TREMORA_OCI_STANDIN_DIR, "");
    return db::open_oracle({.host = "standin", .port = "1521", .username = "qz", .password = "pw", .tnsname = "BENCH"});
  }();
  return conn;
}
#endif

void fetch(benchmark::State& state, const char* base_type, db::Connection* conn) {
  std::size_t samples = 0;
  double per_sample = 0;
  for (auto _ : state) {
    auto t =
        fetching::fetching_data(conn, "20240101", "20241230", "形变", "南京", "分钟值", base_type, {.gzip_flag = true});
    samples = t->num_rows();
    per_sample = bytes_per_sample(*t);
    benchmark::DoNotOptimize(t);
  }
  state.counters["samples"] = double(samples);
  state.counters["result_B_per_sample"] = per_sample;
}

// Raw tables: codes, time and value only.
void BM_FetchRaw(benchmark::State& state) { fetch(state, "原始库", setup().conn.get()); }
// Preprocessed tables also carry a SAMPLERATE number on every row.
void BM_FetchPreprocessed(benchmark::State& state) { fetch(state, "预处理库", setup().conn.get()); }
#ifdef TREMORA_OCI_STANDIN_DIR
// The same through the oracle driver (to compare with BM_FetchPreprocessed).
void BM_FetchPreprocessedOracleDriver(benchmark::State& state) { fetch(state, "预处理库", oracle_connection().get()); }
BENCHMARK(BM_FetchPreprocessedOracleDriver)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

void BM_QueryOnly(benchmark::State& state) {
  Setup& s = setup();
  std::size_t rows = 0;
  for (auto _ : state) {
    Table t = s.conn->query(s.sql);
    rows = t.num_rows();
    benchmark::DoNotOptimize(t);
  }
  state.counters["day_rows"] = double(rows);
}

void BM_InflateOnly(benchmark::State& state) {
  Table t = setup().conn->query(setup().sql);
  const Column& obs = t.column("OBSVALUE");
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < obs.size(); ++i) bytes += gzip_decompress(obs.text(i)).size();
    benchmark::DoNotOptimize(bytes);
  }
}

BENCHMARK(BM_FetchRaw)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FetchPreprocessed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueryOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_InflateOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
