// The Kp index panel at the bottom of a figure: the series put on the
// chart's clock with the Kp table of their span, and the bars of the
// intervals that overlap the figure's time range.
#include <algorithm>
#include <cmath>

#include "plot_support.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/plotkit.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::plotting_logger;

// Naive keys read as wall-clock times of `zone`, checked to be times that
// exist there once (a clock change between the first and the last key is
// when some might not); zoned keys as the wall clock of `zone`.
std::vector<int64_t> on_chart_clock(const Column& key, const std::string& zone) {
  if (!key.zone().empty()) {
    Column shown = key;
    shown.set_zone(zone);
    return wall_clock(shown);
  }
  const std::vector<int64_t>& wall = key.int64s();
  if (wall.empty()) return wall;
  auto [lo, hi] = std::minmax_element(wall.begin(), wall.end());
  Timestamp a = local_to_utc(Timestamp{*lo}, zone), b = local_to_utc(Timestamp{*hi}, zone);
  if (offset_changes_between(a, b, zone))
    for (int64_t t : wall) local_to_utc(Timestamp{t}, zone);  // refuses a skipped or repeated time
  return wall;
}

std::vector<uint8_t> within(const std::vector<int64_t>& wall, std::optional<int64_t> lo, std::optional<int64_t> hi) {
  return row_mask(wall.size(), [&](std::size_t i) { return (!lo || wall[i] >= *lo) && (!hi || wall[i] <= *hi); });
}

// Kp below 4 green, below 5 yellow, else red.
const char* kp_colour(double kp) { return kp < 4 ? "green" : kp < 5 ? "yellow" : "red"; }

bool in_order(const std::vector<int64_t>& t) { return std::is_sorted(t.begin(), t.end()); }

// The Kp table for the series' span: from the caller's data, or fetched
// (a failure logged, with the error text shown in the panel).
void add_kp(GeomagSeries& g, const std::vector<int64_t>& wall, const std::optional<Table>& geomag_data,
            const std::string& zone) {
  if (geomag_data) {
    g.kp = geomag::normalize_geomag(*geomag_data, zone);
    return;
  }
  geomag::ZonedTime first{local_to_utc(Timestamp{wall.front()}, zone), zone};
  geomag::ZonedTime last{local_to_utc(Timestamp{wall.back()}, zone), zone};
  try {
    g.kp = geomag::fetch_geomag(first, last, zone);
  } catch (const std::exception& e) {
    plotting_logger.warning(std::string("Kp retrieval failed: ") + e.what());
    g.error = "获取失败";
  }
}

}  // namespace

GeomagSeries geomag_series(const Table& ts, const std::optional<Table>& geomag_data, const std::string& time_timezone,
                           const std::optional<geomag::TimeBound>& start_time,
                           const std::optional<geomag::TimeBound>& end_time) {
  if (!ts.has_key() || ts.key().type() != DataType::Timestamp || ts.key().null_count() > 0)
    throw std::invalid_argument("Kp plotting requires a valid DatetimeIndex");
  std::vector<int64_t> order;
  if (!in_order(ts.key().int64s())) order = sort_indices(ts.key());
  const Table* sorted = &ts;
  Table reordered;
  if (!order.empty()) reordered = take(ts, order), sorted = &reordered;
  std::vector<int64_t> wall = on_chart_clock(sorted->key(), time_timezone);
  auto wall_of = [&](const std::optional<geomag::TimeBound>& b) -> std::optional<int64_t> {
    if (!b) return std::nullopt;
    return utc_to_local(geomag::_timestamp(*b, time_timezone).utc, time_timezone).ns;
  };
  std::vector<uint8_t> keep = within(wall, wall_of(start_time), wall_of(end_time));
  GeomagSeries g;
  bool all = std::all_of(keep.begin(), keep.end(), [](uint8_t k) { return k != 0; });
  // Naive keys in order, nothing cut: the series table is the caller's as it is.
  if (!(all && order.empty() && ts.key().zone().empty() && !keep.empty())) {
    g.table = all ? *sorted : filter(*sorted, keep);
    Column key = filter(Column::from_timestamps(sorted->key().name(), wall), keep);
    if (g.table->num_rows() == 0) key.set_zone(time_timezone);  // without rows the keys stay zoned
    g.table->set_key_column(std::move(key));
    if (g.table->num_rows() == 0) return g;
    wall = g.table->key().int64s();
  }
  add_kp(g, wall, geomag_data, time_timezone);
  return g;
}

PreparedGeomag TSPlotter::_prepare_geomag(const Table& ts, const std::optional<Table>& geomag_data,
                                          const std::string& time_timezone,
                                          const std::optional<geomag::TimeBound>& start_time,
                                          const std::optional<geomag::TimeBound>& end_time) const {
  GeomagSeries g = geomag_series(ts, geomag_data, time_timezone, start_time, end_time);
  return {g.table ? std::move(*g.table) : ts, std::move(g.kp), std::move(g.error)};
}

void TSPlotter::_draw_geomag(const std::vector<chart::Axes*>& axes, const std::optional<Table>& indices,
                             const std::optional<std::string>& error, const Bounds& bounds,
                             const std::string& time_timezone, const std::string& xlabel) const {
  chart::Axes& ax = *axes.back();
  ax.set_title("Kp — GFZ Potsdam (CC BY 4.0)", plotkit::text_style(plotkit::font_title));
  ax.set_ylabel("Kp", plotkit::text_style(plotkit::font_unit));
  ax.set_ylim(0, 9);
  ax.set_yticks({0, 3, 6, 9});
  chart::TextStyle xlabel_font = plotkit::text_style(plotkit::font_xlabel);
  ax.set_xlabel(xlabel.empty() ? "日期 (" + time_timezone + ")" : xlabel, xlabel_font);
  for (chart::Axes* other : axes)
    if (other != &ax) other->set_xlabel("", xlabel_font);
  std::optional<Timestamp> start, end;
  for (const auto& [first, last] : bounds) {
    start = start ? std::min(*start, first) : first;
    end = end ? std::max(*end, last) : last;
  }
  // The intervals that overlap the range, as bars by colour.
  std::map<std::string, std::pair<std::vector<double>, std::vector<double>>> bars;
  if (indices && start) {
    ZoneClock clock(time_timezone);
    Table kp = geomag::overlapping_intervals(*indices, clock.start_of(*start), clock.start_of(*end));
    Column key = kp.key();
    key.set_zone(time_timezone);  // Kp tables hold instants; shown on the chart's clock
    std::vector<int64_t> wall = wall_clock(key);
    std::vector<double> values = numbers_of(kp.column("Kp"));
    for (std::size_t i = 0; i < wall.size(); ++i) {
      if (wall[i] == Timestamp::NaT || std::isnan(values[i])) continue;
      auto& [x, h] = bars[kp_colour(values[i])];
      x.push_back(chart::to_days(Timestamp{wall[i]}));
      h.push_back(values[i]);
    }
  }
  for (auto& [colour, xh] : bars)
    ax.bar(std::move(xh.first), std::move(xh.second), 0.125,
           {.color = chart::parse_color(colour), .edgecolor = chart::parse_color("gray"), .edgewidth = 0.3}, "edge");
  if (bars.empty()) {
    std::string message = error && !error->empty() ? *error : "无数据";
    ax.text(0.5, 0.5, message, plotkit::text_style(plotkit::font_title), "center", "center", true);
    if (!error) plotting_logger.warning("No valid Kp data in the figure time range");
  }
  for (chart::Axes* a : axes) a->set_date_axis();
  if (!start) return;
  if (*start == *end) start = add_nanos(*start, -90 * kNanosPerMinute), end = add_nanos(*end, 90 * kNanosPerMinute);
  ax.set_xlim(chart::to_days(*start), chart::to_days(*end));
}

}  // namespace tremora::tsplot
