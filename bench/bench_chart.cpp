// Seven stacked panels of 525,600 minute samples each (a year), saved at
// 300 dpi as PNG (10 × 10.5 in) and as SVG: time and SVG size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "bench_support.hpp"
#include "tremora/chart.hpp"

namespace tremora {
namespace {

std::unique_ptr<chart::Figure> seven_panels() {
  auto f = std::make_unique<chart::Figure>(10, 10.5);
  auto axes = f->subplots(7);
  double t0 = chart::to_days(make_timestamp(2024, 1, 1));
  std::vector<double> x(525'600);
  for (std::size_t i = 0; i < x.size(); ++i) x[i] = t0 + double(i) / 1440;
  for (std::size_t p = 0; p < axes.size(); ++p) {
    std::vector<double> y(x.size());
    for (std::size_t i = 0; i < y.size(); ++i)
      y[i] = std::sin(double(i) / (300.0 + 50 * double(p))) + 0.1 * std::sin(double(i) * 0.37 * double(p + 1));
    axes[p]->plot(x, std::move(y));
    axes[p]->set_date_axis();
    axes[p]->set_title("面板 " + std::to_string(p + 1), 11);
  }
  return f;
}

void save(benchmark::State& state, const char* ext) {
  auto f = seven_panels();
  auto path = std::filesystem::temp_directory_path() / ("tremora-bench-" + std::to_string(getpid()) + ext);
  for (auto _ : state) f->save(path, 300);
  state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
  state.counters["px_w"] = f->last_pixel_size().first;
  std::filesystem::remove(path);
}

void BM_SevenPanelsPng(benchmark::State& state) { save(state, ".png"); }
void BM_SevenPanelsSvg(benchmark::State& state) { save(state, ".svg"); }

BENCHMARK(BM_SevenPanelsPng)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);
BENCHMARK(BM_SevenPanelsSvg)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(bench::five_runs);

}  // namespace
}  // namespace tremora

BENCHMARK_MAIN();
