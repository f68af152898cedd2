// One series panel of a layout, in the order of its steps.
#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "layout_steps.hpp"
#include "tremora/logger_config.hpp"
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

// The rows whose key lies from start_time to end_time, both included.
Table cut_to_bounds(LayoutRun& run, Table series) {
  const PlotOptions& o = run.options;
  if (!o.start_time && !o.end_time) return series;
  if (!run.start) {
    run.start =
        o.start_time ? std::optional(bound_on_clock(*o.start_time, series.key(), o.time_timezone)) : std::nullopt;
    run.end = o.end_time ? std::optional(bound_on_clock(*o.end_time, series.key(), o.time_timezone)) : std::nullopt;
  }
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

}  // namespace

PanelOutcome draw_series_panel(LayoutRun& run, chart::Axes& ax, PanelRequest r) {
  const PlotOptions& o = run.options;
  if (!r.group) {
    plotting_logger.warning(r.missing_message);
    return PanelOutcome::Blank;
  }
  auto [processed, offset] = prepare_series(std::move(*r.group), o.set_zero, o.reindex, r.resample);
  r.group.reset();
  Table series = cut_to_bounds(run, std::move(processed));
  auto range = series.num_rows() ? value_range(series.column(qzdata::kObsValue)) : std::nullopt;
  auto [first, last] = time_span(series.key());
  if (!range || first.is_nat()) {
    plotting_logger.warning(r.empty_message);
    return PanelOutcome::Blank;
  }
  run.bounds.emplace_back(first, last);
  std::optional<ItemFacts> item = r.item_facts ? r.item_facts : item_facts(run.plotter.items_table, r.item);
  if (!item) {
    plotting_logger.warning("未找到测项信息: " + r.item);
    return PanelOutcome::UnknownItem;
  }
  std::string title = r.station_facts.name + "/" + r.point + "/" + item->name;
  if (o.set_zero) title += base_suffix(offset);
  std::string kind = run.plotter._get_plot_type(r.type_index, o.plot_type, o.plot_types);
  draw_values(ax, kind, chart_days(series.key()), series.column(qzdata::kObsValue), title, run.drawing,
              r.label_scatter);
  auto [lo, hi] = *range;
  std::vector<double> ticks =
      o.set_zero ? std::vector<double>{lo, 0, hi} : std::vector<double>{lo, (lo + hi) / 2.0, hi};
  run.plotter._setup_axis(ax, title, item->unit, ticks, o.invert_y, o.xlabel);
  run.plotter._add_statistics(ax, series, o.show_mean, o.show_std, o.std_multiplier);
  if (auto by_item = o.annotations.find(r.item); by_item != o.annotations.end())
    if (auto entries = by_item->second.find(r.station + "_" + r.point); entries != by_item->second.end())
      run.plotter._add_annotations(ax, entries->second);
  const StationFacts& st = r.station_facts;
  if (run.events && st.latitude && st.longitude)
    mark_nearby_quakes(run.plotter, ax, *run.events, st, first, last, o.quakecat_filters);
  return PanelOutcome::Drawn;
}

}  // namespace tremora::tsplot
