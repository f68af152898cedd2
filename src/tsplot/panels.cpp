// One series panel of a layout, in the order of its steps.
#include <algorithm>
#include <cmath>
#include <exception>
#include <tuple>

#include <fmt/format.h>

#include "layout_steps.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/parallel.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::plotting_logger;

// A bound on the clock of the series keys: for zoned keys the instant (a
// bound without zone read in their zone); for naive keys, which are on the
// chart's clock (`chart_zone`), the wall time there (a bound with a zone is
// that instant on the chart's clock, a bound without one stays as it is).
Timestamp bound_on_clock(const geomag::TimeBound& bound, const Column& key, const std::string& chart_zone) {
  const std::string& zone = key.zone();
  if (const auto* t = std::get_if<Timestamp>(&bound)) return zone.empty() ? *t : local_to_utc(*t, zone);
  if (const auto* z = std::get_if<geomag::ZonedTime>(&bound))
    return zone.empty() ? utc_to_local(z->utc, chart_zone) : z->utc;
  ParsedDate d = parse_date_text(std::get<std::string>(bound));
  if (zone.empty()) return d.utc_offset_seconds ? utc_to_local(d.instant(), chart_zone) : d.wall;
  return d.utc_offset_seconds ? d.instant() : local_to_utc(d.wall, zone);
}

// start_time and end_time on the clock of the series keys, found once per
// layout call from the first series' key; a bound that cannot be read
// fails at the first series with rows.
void resolve_time_bounds(LayoutRun& run, const Column& key) {
  const PlotOptions& o = run.options;
  if (run.start || (!o.start_time && !o.end_time)) return;
  run.start = o.start_time ? std::optional(bound_on_clock(*o.start_time, key, o.time_timezone)) : std::nullopt;
  run.end = o.end_time ? std::optional(bound_on_clock(*o.end_time, key, o.time_timezone)) : std::nullopt;
}

// The rows whose key lies from start_time to end_time, both included.
Table cut_to_bounds(const LayoutRun& run, Table series) {
  if (!run.start) return series;
  const auto& keys = series.key().int64s();
  return filter_rows(series, [&](std::size_t i) {
    return keys[i] != Timestamp::NaT && (!*run.start || keys[i] >= (*run.start)->ns) &&
           (!*run.end || keys[i] <= (*run.end)->ns);
  });
}

// "/base=" and the offset rounded to a tenth as Python prints it: 25.0, -3.2.
std::string base_suffix(double offset) {
  double tenth = std::strtod(fmt::format("{:.1f}", offset).c_str(), nullptr);
  return "/base=" + python_float_text(tenth);
}

// The values in the panel's style: stems, marks or (any other style) a
// line, which keeps 32-bit values as they are.
void draw_values(chart::Axes& ax, const std::string& kind, std::vector<double> x, const Column& values,
                 const std::string& title, const chart::StyleOptions& drawing, bool label_scatter) {
  if (!contains(kind, "line") && contains(kind, "stem")) {
    ax.stem(std::move(x), numbers_of(values), {.color = chart::parse_color("b")});
    return;
  }
  bool scatter = !contains(kind, "line") && contains(kind, "scatter");
  chart::Style style{.label = scatter && !label_scatter ? "" : title};
  chart::apply_style_options(style, drawing);
  if (scatter) ax.scatter(std::move(x), numbers_of(values), {36}, style);
  else if (values.type() == DataType::Float32) ax.plot_float32(std::move(x), values.float32s(), style);
  else ax.plot(std::move(x), numbers_of(values), style);
}

// The earliest and latest time of a key on its wall clock (NaT ignored).
std::pair<Timestamp, Timestamp> time_span(const Column& key) {
  int64_t lo = INT64_MAX, hi = INT64_MIN;
  for (int64_t t : key.int64s())
    if (t != Timestamp::NaT) lo = std::min(lo, t), hi = std::max(hi, t);
  if (lo > hi) return {Timestamp{}, Timestamp{}};
  const std::string& zone = key.zone();
  if (zone.empty()) return {Timestamp{lo}, Timestamp{hi}};
  return {utc_to_local(Timestamp{lo}, zone), utc_to_local(Timestamp{hi}, zone)};
}

enum class PanelOutcome { Blank, UnknownItem, Drawn };

// A series panel's data, made ready apart from drawing, on any thread.
struct PanelData {
  Table series;  // processed and cut to the time bounds
  double offset = 0;
  std::optional<std::pair<double, double>> range;
  Timestamp first, last;
  std::vector<double> x;                   // the chart days of the series' keys
  std::optional<plotkit::Stats> stats;     // when statistics lines are shown
  std::vector<logger_config::Record> log;  // what making it logged
  std::exception_ptr failure;              // why it could not be made
};

void prepare_panel(const LayoutRun& run, const PanelRequest& r, PanelData& d) {
  const PlotOptions& o = run.options;
  auto [processed, offset] = prepare_series(r.rows(), o.set_zero, o.reindex, r.resample);
  d.series = cut_to_bounds(run, std::move(processed));
  d.offset = offset;
  if (d.series.num_rows()) d.range = value_range(d.series.column(qzdata::kObsValue));
  std::tie(d.first, d.last) = time_span(d.series.key());
  if (!d.range || d.first.is_nat()) return;
  d.x = chart_days(d.series.key());
  d.stats = line_statistics(d.series, o.show_mean, o.show_std, o.std_multiplier);
}

PanelOutcome draw_prepared_panel(LayoutRun& run, chart::Axes& ax, const PanelRequest& r, PanelData d,
                                 std::size_t type_index) {
  const PlotOptions& o = run.options;
  if (!r.rows) {
    plotting_logger.warning(r.missing_message);
    return PanelOutcome::Blank;
  }
  logger_config::pass_on(d.log);
  if (d.failure) std::rethrow_exception(d.failure);
  if (!d.range || d.first.is_nat()) {
    plotting_logger.warning(r.empty_message);
    return PanelOutcome::Blank;
  }
  run.bounds.emplace_back(d.first, d.last);
  std::optional<ItemFacts> item = r.item_facts ? r.item_facts : item_facts(run.plotter.items_table, r.item);
  if (!item) {
    plotting_logger.warning("未找到测项信息: " + r.item);
    return PanelOutcome::UnknownItem;
  }
  std::string title = r.station_facts.name + "/" + r.point + "/" + item->name;
  if (o.set_zero) title += base_suffix(d.offset);
  std::string kind = run.plotter._get_plot_type(type_index, o.plot_type, o.plot_types);
  draw_values(ax, kind, std::move(d.x), d.series.column(qzdata::kObsValue), title, run.drawing, r.label_scatter);
  auto [lo, hi] = *d.range;
  std::vector<double> ticks =
      o.set_zero ? std::vector<double>{lo, 0, hi} : std::vector<double>{lo, (lo + hi) / 2.0, hi};
  run.plotter._setup_axis(ax, title, item->unit, ticks, o.invert_y, o.xlabel);
  if (d.stats) add_statistics_lines(ax, *d.stats, run.plotter.stats_style, o.show_mean, o.show_std, o.std_multiplier);
  if (auto by_item = o.annotations.find(r.item); by_item != o.annotations.end())
    if (auto entries = by_item->second.find(r.station + "_" + r.point); entries != by_item->second.end())
      run.plotter._add_annotations(ax, entries->second);
  const StationFacts& st = r.station_facts;
  if (run.events && st.latitude && st.longitude)
    mark_nearby_quakes(run.plotter, ax, *run.events, st, d.first, d.last, o.quakecat_filters);
  return PanelOutcome::Drawn;
}

}  // namespace

void draw_series_panels(LayoutRun& run, const Column& key, const std::vector<chart::Axes*>& axes,
                        const std::vector<PanelRequest>& requests) {
  // The time bounds are read once; a bound that cannot be read fails at the
  // first panel with rows, when its turn comes.
  std::exception_ptr unreadable_bound;
  if (std::any_of(requests.begin(), requests.end(), [](const PanelRequest& r) { return bool(r.rows); })) {
    try {
      resolve_time_bounds(run, key);
    } catch (...) {
      unreadable_bound = std::current_exception();
    }
  }
  std::size_t drawn = 0, batch = std::max<std::size_t>(1, thread_count());
  for (std::size_t from = 0; from < requests.size(); from += batch) {
    std::vector<PanelData> data(std::min(batch, requests.size() - from));
    parallel_for(data.size(), [&](std::size_t i) {
      const PanelRequest& r = requests[from + i];
      if (!r.rows) return;
      PanelData& d = data[i];
      logger_config::HeldLog held;
      try {
        if (unreadable_bound) std::rethrow_exception(unreadable_bound);
        prepare_panel(run, r, d);
      } catch (...) {
        d.failure = std::current_exception();
      }
      d.log = held.take();
    });
    for (std::size_t i = 0; i < data.size(); ++i) {
      const PanelRequest& r = requests[from + i];
      drawn += draw_prepared_panel(run, *axes[from + i], r, std::move(data[i]), r.type_index.value_or(drawn)) ==
               PanelOutcome::Drawn;
    }
  }
}

}  // namespace tremora::tsplot
