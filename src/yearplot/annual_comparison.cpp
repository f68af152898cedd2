// The annual comparison chart, in the order of its steps.
#include <fmt/format.h>

#include <cmath>
#include <map>

#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::yearplot {
namespace {

using logger_config::plotting_logger;

// The calendar year of each row key on its own wall clock (0 for NaT).
std::vector<int> years_of(const Column& key) {
  if (key.type() != DataType::Timestamp)
    throw TypeError("the annual comparison needs a row key of timestamps, not " + std::string(type_name(key.type())));
  ZoneClock clock(key.zone());
  std::vector<int> years(key.size(), 0);
  for (std::size_t i = 0; i < key.size(); ++i)
    if (key.int64s()[i] != Timestamp::NaT) years[i] = to_civil(clock.to_local(Timestamp{key.int64s()[i]})).year;
  return years;
}

double mean_of(const std::vector<double>& v) {
  double sum = 0;
  std::size_t n = 0;
  for (double x : v)
    if (!std::isnan(x)) sum += x, ++n;
  return n ? sum / double(n) : NAN;
}

// The centred moving average over `w` rows: row k averages rows k - w/2 to
// k - w/2 + w - 1, and is missing when one of them is outside or missing.
std::vector<double> centred_mean(const std::vector<double>& y, int64_t w) {
  std::vector<double> out(y.size(), NAN);
  if (w < 1) return out;
  auto n = int64_t(y.size());
  for (int64_t k = 0; k < n; ++k) {
    int64_t first = k - w / 2, last = first + w - 1;
    if (first < 0 || last >= n) continue;
    double sum = 0;
    bool complete = true;
    for (int64_t j = first; j <= last && complete; ++j)
      complete = !std::isnan(y[std::size_t(j)]), sum += y[std::size_t(j)];
    if (complete) out[std::size_t(k)] = sum / double(w);
  }
  return out;
}

std::string title_of(const AnnualOptions& o) {
  if (!o.station_name.empty() || !o.direction.empty()) return o.station_name + o.direction + "同年对比";
  return "同年对比曲线";
}

// One calendar year's points: x the days of the normalised date, y the values.
struct YearPoints {
  std::vector<double> x, y;
};

// The points of each year with rows (keys that are not NaT), in row order,
// each vector sized exactly.
std::map<int, YearPoints> points_by_year(const Table& df) {
  const Column& norm = df.column("datetime_norm");
  if (norm.type() != DataType::Timestamp) throw TypeError("column 'datetime_norm' holds no timestamps");
  std::vector<int> year_of_row = years_of(df.key());
  const std::vector<int64_t>& keys = df.key().int64s();
  std::map<int, YearPoints> out;
  std::map<int, std::size_t> rows;
  for (std::size_t r = 0; r < keys.size(); ++r)
    if (keys[r] != Timestamp::NaT) ++rows[year_of_row[r]];
  for (const auto& [year, n] : rows) out[year].x.reserve(n), out[year].y.reserve(n);
  ZoneClock clock(norm.zone());
  std::vector<double> values = to_number(df.column(qzdata::kObsValue)).float64s();
  for (std::size_t r = 0; r < keys.size(); ++r) {
    if (keys[r] == Timestamp::NaT) continue;
    int64_t at = norm.int64s()[r];
    YearPoints& p = out[year_of_row[r]];
    p.x.push_back(at == Timestamp::NaT ? NAN : chart::to_days(clock.to_local(Timestamp{at})));
    p.y.push_back(values[r]);
  }
  return out;
}

// One year: its faint points, its moving-average line labelled with its
// mean, and (for the last year) the band under that line. Returns the mean.
// The points move into the marks, which hold the chart's only copies.
double draw_year(chart::Axes& ax, int year, YearPoints p, const chart::Color& colour, const AnnualOptions& o,
                 bool last) {
  if (o.subtract_mean) {
    double m = mean_of(p.y);
    for (double& v : p.y) v -= m;
  }
  double mean = mean_of(p.y);
  std::vector<double> rolling = centred_mean(p.y, o.rolling_window);
  ax.scatter(p.x, std::move(p.y), {10}, {.color = colour, .alpha = 0.3});
  double lowest = INFINITY;
  if (last)
    for (double v : rolling)
      if (!std::isnan(v)) lowest = std::min(lowest, v);
  bool band = std::isfinite(lowest);
  std::vector<double> line_x = band ? p.x : std::move(p.x);
  ax.plot(std::move(line_x), band ? rolling : std::move(rolling),
          {.color = colour, .linewidth = 2.0, .alpha = 0.9, .label = fmt::format("{} (Mean: {:.2f})", year, mean)});
  if (band) ax.fill_between(std::move(p.x), std::move(rolling), lowest, {.color = colour, .alpha = 0.1});
  return mean;
}

// Saves under "./figures/" (unless the name starts with it); a failure is
// logged, not thrown.
void save_guarded(const chart::Figure& figure, const AnnualOptions& o) {
  try {
    std::string path = o.output_file.rfind("./figures/", 0) == 0 ? o.output_file : "./figures/" + o.output_file;
    figure.save(path, o.dpi);
    plotting_logger.info("Annual comparison chart saved as: " + path);
  } catch (const std::exception& e) {
    plotting_logger.error(std::string("Error saving chart: ") + e.what());
  }
}

}  // namespace

AnnualChart plot_annual_comparison(Table& df, const AnnualOptions& o) {
  plotkit::create_figures_folder();
  if (!df.has_column("datetime_norm")) postprocessing::create_normalized_dates(df);
  if (!df.has_key()) throw TypeError("the annual comparison needs a row key of timestamps");
  auto figure = std::make_shared<chart::Figure>(o.figsize.first, o.figsize.second);
  chart::Axes* ax = figure->subplots(1)[0];
  std::map<int, double> year_data_stats;
  std::map<int, YearPoints> years = points_by_year(df);
  std::size_t i = 0;
  for (auto& [year, points] : years) {
    chart::Color colour = chart::viridis(double(i) / double(years.size()));
    year_data_stats[year] = draw_year(*ax, year, std::move(points), colour, o, i + 1 == years.size());
    ++i;
  }
  if (o.invert_y) ax->invert_yaxis();
  ax->set_title(title_of(o), plotkit::text_style(plotkit::font_title), 15);
  ax->set_xlabel("日期 (月-日)", plotkit::text_style(plotkit::font_xlabel), 10);
  ax->set_ylabel(o.y_label, plotkit::text_style(plotkit::font_unit), 10);
  figure->text(0.99, 0.01, "Generated: " + format_timestamp(local_now(), "%Y-%m-%d %H:%M"),
               {.size = 8, .color = {0, 0, 0, 0.5}, .italic = true}, "right", "baseline");
  std::vector<double> all_means;
  for (const auto& [year, mean] : year_data_stats) all_means.push_back(mean);
  double overall_mean = NAN;
  if (!all_means.empty()) {
    overall_mean = 0;
    for (double m : all_means) overall_mean += m;
    overall_mean /= double(all_means.size());
  }
  if (std::isfinite(overall_mean))
    ax->axhline(
        overall_mean,
        {.color = chart::parse_color("red"), .linewidth = 1, .linestyle = chart::LineStyle::Dashed, .alpha = 0.6});
  ax->set_month_ticks("%m-%d");
  ax->set_xtick_rotation(45, "right");
  if (o.y_axis_format) ax->set_ytick_formatter(o.y_axis_format);
  ax->legend(plotkit::text_style(plotkit::legend_font, {.size = 9}), "年份 (年平均值)", 0.8, "upper left");
  if (o.grid) ax->grid(true, chart::LineStyle::Dashed, 0.3);
  figure->tight_layout();
  save_guarded(*figure, o);
  return {figure, ax};
}

}  // namespace tremora::yearplot
