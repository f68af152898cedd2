// What every chart shares: the global chart style (applied when the library
// loads), the named font settings, statistics of a column, the figures
// folder, step codes, and putting a table on a regular time grid.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tremora/chart.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/table.hpp"

namespace tremora::plotkit {

/// Text properties handed to a title, label or legend; unset keys keep the
/// global default.
struct FontSpec {
  std::optional<std::string> family = std::nullopt;
  std::optional<std::string> color = std::nullopt;
  std::optional<std::string> weight = std::nullopt;
  std::optional<double> size = std::nullopt;
};

extern const FontSpec font_title;     ///< STSong, black, normal, 11
extern const FontSpec font_xlabel;    ///< STSong, normal, 11
extern const FontSpec font_unit;      ///< STSong, normal, 11
extern const FontSpec font_suptitle;  ///< SimHei, black, normal, 16
extern const FontSpec legend_font;    ///< STSong, 9

/// The chart text style of a font setting: its keys over `base` (the
/// global 12 pt serif text when not given).
chart::TextStyle text_style(const FontSpec& font, chart::TextStyle base = {});

/// Applies the global chart style (no top and right frame lines, outward
/// ticks, serif fonts with the Chinese ones first, 12 pt, 1 % x margin, ...).
/// Done once when the library loads; calling it again restores the style.
void apply_chart_style();

/// The sampling-rate codes and their grid steps: "02" → "s", "01" → "min",
/// "60" → "h", "90" → "D".
const std::map<std::string, std::string>& id_to_freq();

/// Makes the folder "figures" in the working directory when no entry of
/// that name exists, logging the working directory (and the creation) at
/// info level.
void create_figures_folder();

/// The statistics of a column, in the order mean, median, std (sample),
/// min, max, lower_limit, upper_limit (mean ∓ multiplier × std); NaN values
/// are skipped, and a statistic without enough values is NaN.
struct Stats {
  std::vector<std::pair<std::string, double>> entries;
  /// KeyError for another key.
  double at(const std::string& key) const;
};

/// KeyError naming a missing column; TypeError for a column of
/// non-numeric data (timestamps, bytes, or a text that is not a number,
/// named with its row).
Stats calculate_stats(const Table& df, const std::string& column = qzdata::kObsValue, double multiplier = 2.0);

/// The step code of a time span: "30s", "1min", "2h", or "1D" from one day on.
std::string get_freq_str(Duration span);

/// The step code (get_freq_str) of the most frequent interval between
/// consecutive times (an interval next to a NaT does not count); among
/// intervals as frequent, the first.
/// "min" when there is no interval.
std::string most_frequent_step(const std::vector<int64_t>& times);

/// The table on a regular grid from its earliest to its latest row key,
/// stepping by the SAMPLERATE code of the first row or, failing that, by
/// the most frequent interval between rows; grid times without a row get
/// missing values, rows off the grid are dropped. The row key must be a
/// timestamp without repeats (std::invalid_argument otherwise).
Table reindex_df_by_interval(const Table& df);

}  // namespace tremora::plotkit
