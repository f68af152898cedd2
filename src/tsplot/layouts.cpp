// The two layouts: figures per item (runs of station/point series) and per
// station and point (one panel per item, and rainfall), each with an
// optional Kp panel at the bottom.
#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "layout_steps.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::plotting_logger;

// The rows of one series as the panel steps read them: the row key,
// OBSVALUE and SAMPLERATE (for the regular grid).
Table series_rows(const Table& ts, const std::vector<int64_t>& rows) {
  Table out;
  out.add_column(ts.column(qzdata::kObsValue).take(rows));
  if (auto rate = ts.find_column(qzdata::kSampleRate)) out.add_column(ts.column(*rate).take(rows));
  out.set_key_column(ts.key().take(rows));
  return out;
}

// The series of a table by item, station and point, with the texts of
// their codes, in ascending key order. Their rows are gathered when asked
// for, from one series id per row.
struct SeriesIndex {
  struct Series {
    std::string item, station, point;
    bool complete = true;  // no code is missing
    int64_t first_row = 0;
    std::size_t rows = 0;
  };
  SeriesIds ids;
  std::vector<Series> all;
  std::map<std::tuple<std::string, std::string, std::string>, const Series*> by_key;

  explicit SeriesIndex(const Table& ts)
      : ids(series_ids(ts, {qzdata::kItemId, qzdata::kStationId, qzdata::kPointId}, true)) {
    std::vector<int64_t> first(ids.count, -1);
    std::vector<std::size_t> count(ids.count, 0);
    for (std::size_t r = 0; r < ids.of_row.size(); ++r)
      if (int32_t g = ids.of_row[r]; g >= 0 && count[std::size_t(g)]++ == 0) first[std::size_t(g)] = int64_t(r);
    const Column &item = ts.column(qzdata::kItemId), &station = ts.column(qzdata::kStationId),
                 &point = ts.column(qzdata::kPointId);
    for (std::size_t g = 0; g < first.size(); ++g) {
      auto row = std::size_t(first[g]);
      bool complete = !item.is_null(row) && !station.is_null(row) && !point.is_null(row);
      all.push_back(
          {code_text(item, row), code_text(station, row), code_text(point, row), complete, first[g], count[g]});
    }
    for (const Series& s : all)
      if (s.complete) by_key[{s.item, s.station, s.point}] = &s;
  }

  const Series* find(const std::string& item, const std::string& station, const std::string& point) const {
    auto it = by_key.find({item, station, point});
    return it == by_key.end() ? nullptr : it->second;
  }

  // What gathers the rows of a series of `ts` (the table indexed) for its
  // panel; nothing when the table has no such series.
  std::function<Table()> gather(const Table& ts, const std::string& item, const std::string& station,
                                const std::string& point) const {
    const Series* s = find(item, station, point);
    if (!s) return {};
    return [this, &ts, s] { return series_rows(ts, rows_of(*s)); };
  }

  std::vector<int64_t> rows_of(const Series& s) const {
    auto id = int32_t(&s - all.data());
    std::vector<int64_t> rows;
    rows.reserve(s.rows);
    for (std::size_t r = 0; r < ids.of_row.size(); ++r)
      if (ids.of_row[r] == id) rows.push_back(int64_t(r));
    return rows;
  }
};

// The values of `field` in order of their first row.
template <typename Field>
std::vector<std::string> first_seen(const std::vector<const SeriesIndex::Series*>& series, Field field) {
  std::map<std::string, int64_t> first;
  for (const auto* s : series) {
    auto [it, added] = first.emplace(field(*s), s->first_row);
    if (!added) it->second = std::min(it->second, s->first_row);
  }
  std::vector<std::pair<int64_t, std::string>> order;
  for (const auto& [value, row] : first) order.emplace_back(row, value);
  std::sort(order.begin(), order.end());
  std::vector<std::string> out;
  for (auto& [row, value] : order) out.push_back(std::move(value));
  return out;
}

std::vector<const SeriesIndex::Series*> all_of(const SeriesIndex& index) {
  std::vector<const SeriesIndex::Series*> out;
  for (const auto& s : index.all) out.push_back(&s);
  return out;
}

void check_observations(const Table& ts) {
  for (const char* name : {qzdata::kItemId, qzdata::kStationId, qzdata::kPointId, qzdata::kObsValue}) ts.column(name);
  if (!ts.has_key() || ts.key().type() != DataType::Timestamp)
    throw TypeError("the observation table needs a row key of timestamps (its STARTDATE)");
}

// Drawing options the chart layer does not know are named once per call;
// options of the wrong kind fail here, before anything is drawn.
void check_drawing_options(const chart::StyleOptions& options) {
  chart::Style probe;
  for (const auto& name : chart::apply_style_options(probe, options))
    plotting_logger.warning("unknown drawing option '" + name + "' was ignored");
}

// A figure of `panels` stacked panels, 10 inches wide, sharing the time axis.
std::pair<std::shared_ptr<chart::Figure>, std::vector<chart::Axes*>> stacked_figure(std::size_t panels,
                                                                                    double panel_height) {
  auto figure = std::make_shared<chart::Figure>(10, panel_height * double(panels));
  std::vector<chart::Axes*> axes = figure->subplots(int(panels), 0.5);
  for (auto* a : axes) a->set_date_axis();
  return {figure, axes};
}

// What a layout needs before its figures: the series table (on the chart's
// clock when a Kp panel is added) and the Kp data.
struct Prepared {
  Table shown;
  const Table* ts = nullptr;
  std::optional<Table> kp;
  std::optional<std::string> kp_error;
};

const Table& prepare(const Table& ts, const PlotOptions& o, Prepared& p) {
  check_observations(ts);
  p.ts = &ts;
  if (!o.show_geomag) return ts;
  GeomagSeries g = geomag_series(ts, o.geomag_data, o.time_timezone, o.start_time, o.end_time);
  if (g.table) p.shown = std::move(*g.table), p.ts = &p.shown;
  p.kp = std::move(g.kp);
  p.kp_error = std::move(g.error);
  return *p.ts;
}

// What both layouts do first: the series table (with the Kp data), the
// drawing options, the series and the earthquake catalogue.
struct LayoutStart {
  Prepared p;
  LayoutRun run;
  SeriesIndex index;

  LayoutStart(const TSPlotter& plotter, const Table& input, const PlotOptions& o)
      : run{plotter, o, plotter._sanitize_plot_kwargs(o.kwargs), std::nullopt, {}, std::nullopt, std::nullopt},
        index(prepare(input, o, p)) {
    check_drawing_options(run.drawing);
    run.events = read_catalogue(o.quakecat_dir);
  }
  LayoutStart(const LayoutStart&) = delete;
  LayoutStart& operator=(const LayoutStart&) = delete;
};

// The rows of a table whose day [key, key + 1 day) meets the series' time
// range (the earliest start to the latest end of `bounds`); all rows when
// no series was drawn.
Table rows_in_series_range(const Table& rainfall, const std::vector<int64_t>& wall, const Bounds& bounds) {
  if (bounds.empty()) return rainfall;
  int64_t first = bounds.front().first.ns, last = bounds.front().second.ns;
  for (const auto& [start, end] : bounds) first = std::min(first, start.ns), last = std::max(last, end.ns);
  return filter_rows(rainfall, [&](std::size_t i) {
    return wall[i] != Timestamp::NaT && wall[i] + kNanosPerDay > first && wall[i] <= last;
  });
}

// Rainfall bars on the time axis the series panels share: one bar per row
// at its time (zoned keys on the chart's clock), 0.8 day wide. Beside a Kp
// panel every row is drawn; otherwise the rows of the series' time range,
// so that the panel reads the dates the series panels read.
void draw_rainfall(const TSPlotter& plotter, chart::Axes& ax, const Table& rainfall, const PlotOptions& o,
                   const Bounds& bounds) {
  chart::Style style{.color = chart::parse_color("blue"), .alpha = 0.5, .label = "降雨量"};
  if (!rainfall.has_key() || rainfall.key().type() != DataType::Timestamp)
    throw TypeError("the rainfall table needs a row key of timestamps");
  Table rows = rainfall;
  if (!rows.key().zone().empty()) rows.key().set_zone(o.time_timezone);
  if (!o.show_geomag) rows = rows_in_series_range(rows, wall_clock(rows.key()), bounds);
  std::vector<double> heights = to_number(rows.column(qzdata::kObsValue)).float64s();
  ax.bar(chart_days(rows.key()), std::move(heights), 0.8, style);
  plotter._setup_axis(ax, "降雨量", "mm", {}, true);
}

}  // namespace

PlotResult TSPlotter::plot(const Table& ts, const PlotOptions& options) {
  std::string groupby = to_lower_ascii(options.groupby);
  if (contains(groupby, "item")) return plot_by_items(ts, options);
  if (contains(groupby, "station")) return plot_by_stations(ts, options);
  plotting_logger.error("不支持的分组方式: " + options.groupby);
  return {};
}

namespace {

// The layout's result after it saved `figure`.
void keep(PlotResult& result, const std::shared_ptr<chart::Figure>& figure, const std::vector<chart::Axes*>& axes,
          const PlotOptions& o) {
  result.figure = figure, result.axes = axes;
  if (o.keep_figures) result.saved.push_back({figure, axes});
}

}  // namespace

PlotResult TSPlotter::plot_by_items(const Table& input, const PlotOptions& o) {
  LayoutStart start(*this, input, o);
  auto& [p, run, index] = start;
  std::vector<std::string> items = first_seen(all_of(index), [](const auto& s) { return s.item; });
  std::erase_if(items, [](const std::string& i) { return qzdata::is_one_of(i, qzdata::kItemsNotByItem); });
  PlotResult last;
  for (const std::string& item : items) {
    std::optional<ItemFacts> facts = item_facts(items_table, item);
    if (!facts) {
      plotting_logger.warning("未找到测项信息: " + item);
      continue;
    }
    std::set<std::pair<std::string, std::string>> distinct;
    for (const auto& s : index.all)
      if (s.item == item) distinct.emplace(s.station, s.point);
    std::vector<std::pair<std::string, std::string>> pairs(distinct.begin(), distinct.end());
    std::size_t per_figure = std::size_t(std::max(1, o.number_of_subplots));
    for (std::size_t begin = 0, number = 1; begin < pairs.size(); begin += per_figure, ++number) {
      std::size_t n = std::min(per_figure, pairs.size() - begin);
      auto [figure, axes] = stacked_figure(n + (o.show_geomag ? 1 : 0), o.fig_height);
      run.bounds.clear();
      std::vector<PanelRequest> requests;
      for (std::size_t i = 0; i < n; ++i) {
        const auto& [station, point] = pairs[begin + i];
        requests.push_back({.rows = index.gather(*p.ts, item, station, point),
                            .station = station,
                            .point = point,
                            .item = item,
                            .item_facts = facts,
                            .station_facts = station_facts(
                                stations_table, rows_with_id(stations_table, qzdata::kStationId, station), station),
                            .type_index = i,
                            .empty_message = fmt::format("{}-{} 数据为空!", station, point),
                            .missing_message = fmt::format("未找到数据: {}-{}-{}", item, station, point)});
      }
      draw_series_panels(run, p.ts->key(), axes, requests);
      if (o.show_geomag) _draw_geomag(axes, p.kp, p.kp_error, run.bounds, o.time_timezone, o.xlabel);
      _save_figure(*figure, o.prefix + item + o.fig_label + "_" + std::to_string(number), o.figure_format, 300,
                   o.figures_dir);
      keep(last, figure, axes, o);
    }
  }
  return last;
}

PlotResult TSPlotter::plot_by_stations(const Table& input, const PlotOptions& o) {
  LayoutStart start(*this, input, o);
  auto& [p, run, index] = start;
  const Column& station_codes = p.ts->column(qzdata::kStationId);
  std::vector<const SeriesIndex::Series*> with_station;
  for (const auto& s : index.all)
    if (!station_codes.is_null(std::size_t(s.first_row)) && s.station != qzdata::kStationNotByStation)
      with_station.push_back(&s);
  std::vector<std::string> stations = first_seen(with_station, [](const auto& s) { return s.station; });
  PlotResult last;
  for (const std::string& station : stations) {
    std::vector<int64_t> rows = rows_with_id(stations_table, qzdata::kStationId, station);
    if (rows.empty() && station.size() > 5)
      rows = rows_with_id(stations_table, qzdata::kStationId, station.substr(0, 5));
    StationFacts facts = station_facts(stations_table, rows, station);
    std::vector<const SeriesIndex::Series*> of_station;
    for (const auto* s : with_station)
      if (s->station == station) of_station.push_back(s);
    for (const std::string& point : first_seen(of_station, [](const auto& s) { return s.point; })) {
      std::set<std::string> item_set;
      for (const auto* s : of_station)
        if (s->point == point && s->complete && !qzdata::is_one_of(s->item, qzdata::kItemsNotByStation))
          item_set.insert(s->item);
      std::vector<std::string> items(item_set.begin(), item_set.end());
      std::size_t k = items.size() + (o.rainfall ? 1 : 0);
      if (k == 0) continue;
      auto [figure, axes] = stacked_figure(k + (o.show_geomag ? 1 : 0), o.fig_height);
      run.bounds.clear();
      std::vector<PanelRequest> requests;
      for (const std::string& item : items)
        requests.push_back({.rows = index.gather(*p.ts, item, station, point),
                            .station = station,
                            .point = point,
                            .item = item,
                            .station_facts = facts,
                            .resample = o.daily_mean_values ? std::optional<std::string>("D") : std::nullopt,
                            .empty_message = fmt::format("{}-{}-{} 数据为空!", station, point, item),
                            .missing_message = fmt::format("未找到数据: {}-{}-{}", station, point, item),
                            .label_scatter = true});
      draw_series_panels(run, p.ts->key(), axes, requests);
      if (o.rainfall && o.rainfall->num_rows() > 0) draw_rainfall(*this, *axes[k - 1], *o.rainfall, o, run.bounds);
      if (o.show_geomag) _draw_geomag(axes, p.kp, p.kp_error, run.bounds, o.time_timezone, o.xlabel);
      _save_figure(*figure, o.prefix + station + "_" + point + o.fig_label, o.figure_format, 300, o.figures_dir);
      keep(last, figure, axes, o);
    }
  }
  return last;
}

}  // namespace tremora::tsplot
