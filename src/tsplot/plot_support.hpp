// What the plotter's files share: times on the chart's clock, a series'
// values as numbers, and the facts of stations and items.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tremora/plotkit.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::tsplot {

/// The wall clock of a timestamp key (its zone's; naive times as they are).
std::vector<int64_t> wall_clock(const Column& key);
/// The same as chart x values: days since the epoch.
std::vector<double> chart_days(const Column& key);
/// A value column as float64 numbers (texts by the decimal grammar).
std::vector<double> numbers_of(const Column& values);

/// The smallest and largest of the non-missing values; nothing when none.
std::optional<std::pair<double, double>> finite_range(const std::vector<double>& v);
/// The same of a value column, read in place.
std::optional<std::pair<double, double>> value_range(const Column& values);

/// _process_data on a table the caller gives up (no copy).
std::pair<Table, double> prepare_series(Table ts, bool set_zero, bool reindex,
                                        const std::optional<std::string>& resample);

/// A station's name and position as the stations table gives them.
struct StationFacts {
  std::string name;
  std::optional<double> latitude, longitude;
};

/// An item's name and unit as the items table gives them.
struct ItemFacts {
  std::string name, unit;
};

/// The rows of a dictionary table whose `id_column` reads `id` as text.
std::vector<int64_t> rows_with_id(const Table& dictionary, const std::string& id_column, const std::string& id);
/// The station facts from the first of `rows` (name column 1, longitude 2,
/// latitude 3); the id itself and no position when there are none.
StationFacts station_facts(const Table& stations, const std::vector<int64_t>& rows, const std::string& id);
/// The item facts of an item (name column 1, unit column 2), nothing when
/// the items table does not have it.
std::optional<ItemFacts> item_facts(const Table& items, const std::string& item);

/// The series table on the chart's clock with the Kp table of its span, as
/// _prepare_geomag gives it, except that `table` is nothing when the
/// caller's table serves as it is (naive keys in order, nothing cut).
struct GeomagSeries {
  std::optional<Table> table;
  std::optional<Table> kp;
  std::optional<std::string> error;
};
GeomagSeries geomag_series(const Table& ts, const std::optional<Table>& geomag_data, const std::string& time_timezone,
                           const std::optional<geomag::TimeBound>& start_time,
                           const std::optional<geomag::TimeBound>& end_time);

/// The statistics of OBSVALUE for a panel's statistics lines; nothing when
/// no line is shown or no value is present.
std::optional<plotkit::Stats> line_statistics(const Table& data, bool show_mean, bool show_std, Multiplier multiplier);

/// The statistics lines of `stats` on a panel (the mean; ±multiplier σ),
/// styled by `style` (a plotter's stats_style).
void add_statistics_lines(chart::Axes& ax, const plotkit::Stats& stats,
                          const std::map<std::string, chart::StyleValue>& style, bool show_mean, bool show_std,
                          Multiplier multiplier);

/// The text of a cell as the layouts compare codes ("nan" for a missing value).
std::string code_text(const Column& column, std::size_t row);

}  // namespace tremora::tsplot
