// The time-series plotter: stacked-panel charts of observation tables, one
// panel per series, grouped by item or by station and point, with
// statistics lines, annotations, nearby earthquakes on a second y axis, a
// rainfall panel and a panel of the Kp geomagnetic index, saved under
// "./figures/".
//
// Messages go to the plotting logger (logger_config::plotting_logger).
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tremora/chart.hpp"
#include "tremora/db.hpp"
#include "tremora/geomag.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/table.hpp"

namespace tremora::tsplot {

/// Drawing options by name in the order given (for set_stats_style).
using NamedOptions = std::vector<std::pair<std::string, chart::StyleValue>>;

/// The constructor's arguments after the connection.
struct PlotterOptions {
  /// Colour of the mean line ("r").
  std::string mean_color = "r";
  /// Colour of the two band lines ("gray").
  std::string std_color = "gray";
  /// Line style of the mean line ("--", dashed).
  std::string mean_linestyle = "--";
  /// Line style of the band lines (":", dotted).
  std::string std_linestyle = ":";
  /// Opacity of the mean line (0.7).
  double mean_alpha = 0.7;
  /// Opacity of the band lines (0.5).
  double std_alpha = 0.5;
  /// Width of the mean line in points (1.0).
  double mean_linewidth = 1.0;
  /// Width of the band lines in points (1.0).
  double std_linewidth = 1.0;
  /// Folder of the metadata cache ("" for ~/.tremo/metastash).
  std::string metadata_dir = "";
  /// Refresh the cache from the connection first (false).
  bool refresh_metadata = false;
};

/// A number of standard deviations, written in labels as it was given:
/// 3 as "3", 2.0 as "2.0", 2.5 as "2.5".
struct Multiplier {
  double value = 2.0;
  bool whole = false;
  Multiplier(double v) : value(v) {}
  Multiplier(int v) : value(v), whole(true) {}
  Multiplier(int64_t v) : value(double(v)), whole(true) {}
  std::string text() const;
};

/// A text annotation of a panel: `text` pointing at (`x`, `y`), `x` a time
/// on the panel's clock.
struct Annotation {
  std::string text;
  Timestamp x;
  double y = 0;
  /// The text's offset (or place), measured as `textcoords` says:
  /// "offset points", "data" or "axes fraction".
  std::pair<double, double> xytext = {10, 10};
  std::string textcoords = "offset points";
  /// Arrow options ("arrowstyle", "color", "linewidth"); empty for no arrow.
  chart::StyleOptions arrowprops = {{"arrowstyle", std::string("->")}};
  /// Further text options ("color", "fontsize", "family", "weight", "style", "alpha").
  chart::StyleOptions props = {};
};

/// Annotations by item id, then by series key text: station + "_" + point
/// ("12001_2").
using Annotations = std::map<std::string, std::map<std::string, std::vector<Annotation>>>;

/// The arguments of plot, plot_by_items and plot_by_stations, in the order
/// of plot_by_items; `number_of_subplots` serves only plot_by_items,
/// `daily_mean_values` and `rainfall` only plot_by_stations, `groupby`
/// only plot.
struct PlotOptions {
  /// plot: "item" or "station" (case-insensitive, "item" tested first).
  std::string groupby = "item";
  /// Put in front of every file name ("").
  std::string prefix = "";
  /// Centre each series on its mid-range, noted in the title as /base= (true).
  bool set_zero = true;
  /// Put into every file name ("").
  std::string fig_label = "";
  /// Most series per figure (7).
  int number_of_subplots = 7;
  /// Keep every saved figure in PlotResult::saved, not only the last.
  bool keep_figures = false;
  /// Larger values downwards in the series panels (false).
  bool invert_y = false;
  /// Put each series on a regular time grid, gaps as missing values (false).
  bool reindex = false;
  /// Height of one panel in inches (1.5); figures are 10 inches wide.
  double fig_height = 1.5;
  /// Drawing style of every panel: "line", "stem" or "scatter" ("line").
  std::string plot_type = "line";
  /// Drawing styles by panel position; panels past its end use plot_type.
  std::optional<std::vector<std::string>> plot_types = std::nullopt;
  /// Draw the mean line (false).
  bool show_mean = false;
  /// Draw the lines at mean ± std_multiplier standard deviations (false).
  bool show_std = false;
  /// Half-width of the band in standard deviations (2.0).
  Multiplier std_multiplier = 2.0;
  /// Text annotations of panels (none).
  Annotations annotations = {};
  /// Image format and file extension: "png", "svg" or "pdf" ("png").
  std::string figure_format = "png";
  /// The folder the figures are saved in ("figures" in the working
  /// directory, made when missing; another folder is made with its parents).
  std::filesystem::path figures_dir = "figures";
  /// An earthquake catalogue file whose events near each station are
  /// marked (none).
  std::optional<std::filesystem::path> quakecat_dir = std::nullopt;
  /// Distance and magnitude filters of those events (300 km and Ml 3 when absent).
  std::optional<quakecat::Filters> quakecat_filters = std::nullopt;
  /// First and last time shown (open when absent).
  std::optional<geomag::TimeBound> start_time = std::nullopt;
  std::optional<geomag::TimeBound> end_time = std::nullopt;
  /// Label of the time axis ("").
  std::string xlabel = "";
  /// Add a panel of the Kp index at the bottom (false).
  bool show_geomag = false;
  /// Kp data to use instead of asking the GFZ service (none).
  std::optional<Table> geomag_data = std::nullopt;
  /// The time zone of the chart's clock ("Asia/Shanghai").
  std::string time_timezone = qzdata::kChartTimeZone;
  /// plot_by_stations: one value per day, the daily median (false).
  bool daily_mean_values = false;
  /// plot_by_stations: a rainfall table (row key time, OBSVALUE) drawn as
  /// bars in a panel after the items, on the series' time axis, one per row
  /// at its date; without show_geomag only the days of the series' time
  /// range (none).
  std::optional<Table> rainfall = std::nullopt;
  /// Extra drawing options of the series lines and scatter marks
  /// ("color", "linewidth", "linestyle", "alpha", "marker", ...).
  chart::StyleOptions kwargs = {};
};

/// A figure a layout saved, and its panels.
struct SavedFigure {
  std::shared_ptr<chart::Figure> figure;
  std::vector<chart::Axes*> axes;
};

/// What a layout returns: the last figure it saved and its panels, or
/// nothing when it made no figure; with PlotOptions::keep_figures, every
/// figure it saved, in order (each holds its panels' data until dropped).
struct PlotResult {
  std::shared_ptr<chart::Figure> figure;
  std::vector<chart::Axes*> axes;
  std::vector<SavedFigure> saved = {};
};

/// _prepare_geomag's result: the series table (cut to the range, keys on
/// the chart's clock without zone), the Kp table and the error text of a
/// failed fetch.
struct PreparedGeomag {
  Table ts;
  std::optional<Table> kp;
  std::optional<std::string> error;
};

/// First and last time of a drawn series, on the chart's clock.
using Bounds = std::vector<std::pair<Timestamp, Timestamp>>;

/// 时间序列绘图类，提供灵活的绘图功能.
class TSPlotter {
 public:
  /// Loads the stations, points and items tables through
  /// fetching::timeseries_info (from the metadata cache of `conn`, or of
  /// `options.metadata_dir`); its errors reach the caller.
  explicit TSPlotter(std::shared_ptr<db::Connection> conn = nullptr, const PlotterOptions& options = {});

  std::shared_ptr<db::Connection> conn;
  Table stations_table, points_table, items_table;
  /// The eight keys mean_color, std_color, mean_linestyle, std_linestyle,
  /// mean_alpha, std_alpha, mean_linewidth, std_linewidth.
  std::map<std::string, chart::StyleValue> stats_style;

  /// Changes stats_style; a name that is not one of its keys is logged
  /// ("未知的统计线样式参数: " + name) and not added.
  void set_stats_style(const NamedOptions& options);

  /// One chart per figure of the chosen layout (see plot_by_items and
  /// plot_by_stations); an unknown grouping logs "不支持的分组方式: " + groupby
  /// and makes nothing.
  PlotResult plot(const Table& ts, const PlotOptions& options = {});
  /// One figure per item and per run of number_of_subplots station/point
  /// series, saved as prefix + item + fig_label + "_" + figure number.
  PlotResult plot_by_items(const Table& ts, const PlotOptions& options = {});
  /// One figure per station and point, one panel per item (and rainfall),
  /// saved as prefix + station + "_" + point + fig_label.
  PlotResult plot_by_stations(const Table& ts, const PlotOptions& options = {});

  // The steps of the layouts, public for scripts and tests.

  /// A copy of one series, binned per day when `resample` is "D" (median)
  /// or contains "sum" (sum), centred on its mid-range when `set_zero`,
  /// put on a regular grid when `reindex`; with the mid-range (the offset).
  std::pair<Table, double> _process_data(const Table& ts_tmp, bool set_zero = true, bool reindex = false,
                                         const std::optional<std::string>& resample = std::nullopt) const;
  /// plot_types[index] when there is one, else plot_type.
  std::string _get_plot_type(std::size_t index, const std::string& plot_type,
                             const std::optional<std::vector<std::string>>& plot_types = std::nullopt) const;
  /// The options without "remove_peaks_steps" (logged when present).
  chart::StyleOptions _sanitize_plot_kwargs(const chart::StyleOptions& kwargs) const;

  /// Title, y label (units rewritten: "ms" → "$ 10^{-3} $角秒", "10-10" →
  /// "应变/$ 10^{-10} $", "10-9" → "应变/$ 10^{-9} $"), fixed y ticks,
  /// inversion and x label of a panel.
  void _setup_axis(chart::Axes& ax, const std::string& title, const std::string& unit = "",
                   const std::vector<double>& y_ticks = {}, bool invert_y = false,
                   const std::string& xlabel = "") const;
  /// The mean line ("Mean") and the band lines ("+2.0σ", "-2.0σ") of the
  /// OBSVALUE of `data`, styled by stats_style.
  void _add_statistics(chart::Axes& ax, const Table& data, bool show_mean = false, bool show_std = false,
                       Multiplier multiplier = 2.0) const;
  void _add_annotations(chart::Axes& ax, const std::vector<Annotation>& annotations) const;
  /// Writes "./figures/" (or `folder`) + filename + "." + format at `dpi`,
  /// cropped to what was drawn, and logs it.
  void _save_figure(chart::Figure& fig, const std::string& filename, const std::string& format = "png",
                    double dpi = 300, const std::filesystem::path& folder = "figures") const;

  /// The series table on the chart's clock, cut to the bounds, with the Kp
  /// table of its span (from `geomag_data`, or fetched: a failed fetch is
  /// logged and gives the error text "获取失败"). std::invalid_argument
  /// "Kp plotting requires a valid DatetimeIndex" for a key that is not a
  /// timestamp or holds NaT.
  PreparedGeomag _prepare_geomag(const Table& ts, const std::optional<Table>& geomag_data,
                                 const std::string& time_timezone, const std::optional<geomag::TimeBound>& start_time,
                                 const std::optional<geomag::TimeBound>& end_time) const;
  /// Draws the Kp panel (the last of `axes`): bars of the intervals that
  /// overlap the figure's range, green below 4, yellow below 5, red from 5;
  /// "无数据" or the error text when there are none; and fixes the figure's
  /// time range.
  void _draw_geomag(const std::vector<chart::Axes*>& axes, const std::optional<Table>& indices,
                    const std::optional<std::string>& error, const Bounds& bounds, const std::string& time_timezone,
                    const std::string& xlabel) const;
  /// Earthquakes (columns distance, magnitude, size, text; key the origin
  /// time) on a second y axis: marker areas from "size", labels from
  /// "text". Returns that axis, or nothing when nothing was drawn.
  /// `size_multiplier` has no effect.
  chart::Axes* _add_secondary_data(chart::Axes& ax, const std::optional<Table>& secondary_data,
                                   const std::string& color = "red", const std::string& marker = "o",
                                   const std::string& label = "地震", double alpha = 0.7,
                                   double size_multiplier = 5) const;
};

}  // namespace tremora::tsplot
