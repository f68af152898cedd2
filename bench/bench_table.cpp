// Tables of very many columns, as a CSV header can make them: reading
// 200,000 columns of one row and printing the table (what `tremora show`
// does), which stays linear in the number of columns.
#include <benchmark/benchmark.h>

#include <sstream>

#include "bench_support.hpp"
#include "tremora/csv.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

std::string wide_csv(std::size_t columns) {
  std::string header, row;
  for (std::size_t i = 0; i < columns; ++i) {
    header += i ? ",c" : "c";
    header += std::to_string(i);
    row += i ? ",1" : "1";
  }
  return header + "\n" + row + "\n";
}

void BM_ReadAndPrintWideCsv(benchmark::State& state) {
  std::string text = wide_csv(std::size_t(state.range(0)));
  for (auto _ : state) {
    Table t = parse_csv(text, "wide.csv");
    std::ostringstream out;
    out << t;
    benchmark::DoNotOptimize(out.str().size());
  }
  state.counters["columns"] = double(state.range(0));
}
BENCHMARK(BM_ReadAndPrintWideCsv)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
