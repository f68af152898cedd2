// Earthquakes near a station, marked on a second y axis of a series panel.
#include <cmath>

#include "layout_steps.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/text.hpp"

namespace tremora::tsplot {
namespace {

using logger_config::plotting_logger;

std::vector<std::string> missing_columns(const Table& t) {
  std::vector<std::string> missing;
  for (const char* name : {"distance", "magnitude", "size", "text"})
    if (!t.has_column(name)) missing.push_back(name);
  return missing;
}

}  // namespace

std::optional<Table> read_catalogue(const std::optional<std::filesystem::path>& path) {
  if (!path) return std::nullopt;
  try {
    Table events = quakecat::read_quakecat(*path);
    plotting_logger.info("成功读取地震目录: " + path->string());
    return events;
  } catch (const std::exception& e) {
    plotting_logger.error(std::string("读取地震目录出错: ") + e.what());
    return std::nullopt;
  }
}

void mark_nearby_quakes(const TSPlotter& plotter, chart::Axes& ax, const Table& events, const StationFacts& station,
                        Timestamp first, Timestamp last, const std::optional<quakecat::Filters>& filters) {
  try {
    std::vector<int64_t> when = wall_clock(events.key());
    Table near = filter_rows(
        events, [&](std::size_t i) { return when[i] != Timestamp::NaT && when[i] >= first.ns && when[i] <= last.ns; });
    if (near.num_rows() == 0) return;
    Table marked = quakecat::filtered_quakecats(near, {*station.latitude, *station.longitude}, filters);
    const Column& flag = marked.column("flag");
    Table shown = filter_rows(marked, [&](std::size_t i) { return !flag.is_null(i) && flag.int64s()[i] == 1; });
    if (shown.num_rows() > 0) plotter._add_secondary_data(ax, shown);
  } catch (const std::exception& e) {
    plotting_logger.error(std::string("处理地震数据时出错: ") + e.what());
  }
}

chart::Axes* TSPlotter::_add_secondary_data(chart::Axes& ax, const std::optional<Table>& data, const std::string& color,
                                            const std::string& marker, const std::string& label, double alpha,
                                            double /*size_multiplier*/) const {
  if (!data || data->num_rows() == 0) return nullptr;
  if (auto missing = missing_columns(*data); !missing.empty()) {
    plotting_logger.warning("缺少必要列: " + join(missing, ", "));
    return nullptr;
  }
  chart::Color c = chart::parse_color(color);
  std::vector<double> x = chart_days(data->key());
  std::vector<double> distance = numbers_of(data->column("distance"));
  chart::Axes* twin = ax.twinx();
  twin->scatter(x, distance, numbers_of(data->column("size")),
                {.color = c, .alpha = alpha, .label = label, .marker = marker});
  twin->set_y_axis_color(c);
  twin->set_ylabel("震中距(km)", {.color = c});
  if (auto range = finite_range(distance)) twin->set_ylim(std::max(range->first - 50, 0.0), range->second + 50);
  const Column& texts = data->column("text");
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!texts.is_null(i))
      twin->annotate(std::string(texts.text(i)), x[i], distance[i], chart::TextPlacement{5, 5},
                     {.size = 8, .color = c});
  return twin;
}

}  // namespace tremora::tsplot
