// Post-processing of observation tables: resampling into regular bins,
// first differences per series, the moving median/MAD spike filter, and
// dates normalized to one reference year.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tremora/qzdata.hpp"
#include "tremora/table.hpp"

namespace tremora::postprocessing {

/// The width of a frequency text in nanoseconds: an optional whole count
/// (default 1, at least 1) and a unit: "D" (day), "h" or "H" (hour), "min"
/// or "T" (minute), "s" or "S" (second). std::invalid_argument naming the
/// text for anything else ("1W", "0h", "h1", "") and for widths longer than
/// durations reach.
int64_t frequency_nanos(const std::string& freq);

/// Resamples every series (STATIONID, POINTID, ITEMID) into bins of `freq`
/// anchored at midnight of the series' first day, from the bin of its first
/// sample to that of its last, every bin included. Days are those of the
/// wall clock of STARTDATE's zone ("2024-03-01 02:00+08:00" lies on
/// 1 March), and labels keep the zone. Bins of whole days follow the wall
/// clock across clock changes; shorter bins are fixed lengths of time. `agg_method` is "mean",
/// "sum", "median", "max" or "min" over the non-missing values (an empty bin
/// gives NaN, or 0 for "sum"). The result has the columns STARTDATE (bin
/// start), OBSVALUE (float64), STATIONID, POINTID, ITEMID, ordered by series
/// and time, without a row key. STARTDATE must be a column (timestamps or
/// date texts). Rows with a missing series code are left out.
/// std::invalid_argument "缺少必要的列: " + column for a missing column,
/// "不支持的聚合方法，请选择'mean', 'sum', 'median', 'max', 'min'之一" for
/// another method, and when no row belongs to a series.
Table resample_timeseries_data(const Table& df, const std::string& freq, const std::string& agg_method = "mean");

/// Options of first_difference.
struct DifferenceOptions {
  /// The column to difference.
  std::string value_col = qzdata::kObsValue;
  /// The series columns; nothing for those of STATIONID, POINTID and ITEMID
  /// that the table has. An empty list makes the whole table one series.
  std::optional<std::vector<std::string>> group_cols = std::nullopt;
  /// The lag, at least 1.
  int64_t periods = 1;
  /// Keep the rows without a difference (their value is NaN).
  bool keep_first = false;
  /// Order each series by the row key before differencing (stable, missing
  /// keys last); false keeps the table's order.
  bool sort = true;
  /// Work on a copy; false replaces the value column of the caller's table.
  bool copy = true;
};

/// value(k) - value(k - periods) within each series (float64; NaN for the
/// first `periods` rows of a series and where either value is missing; text
/// values are read as numbers), written back in the table's row order.
/// KeyError naming a missing value column, or "Missing group columns: ['X',
/// 'Y']"; std::invalid_argument "periods must be a positive integer".
Table first_difference(Table& df, const DifferenceOptions& options = {});

/// 1.4826 × median(|x − median(x)|); NaN when x is empty or holds a NaN.
double fast_mad(std::span<const double> x);

/// Replaces spikes by the moving median: a sample further than
/// threshold_factor × MAD from the median of its centred window (w samples:
/// w − 1 − (w − 1)/2 before, (w − 1)/2 after) is an outlier. Windows that
/// reach past the data or hold a missing value give nothing; medians and
/// MADs are then filled forward, then backward. The filtered copy of the
/// table's OBSVALUE (KeyError when it has none) keeps its type.
/// std::invalid_argument for a window below 1 or a non-finite threshold.
///
/// A table holding several series (by its STATIONID, POINTID and ITEMID
/// columns, those it has) is filtered series by series, each in the order
/// of the row key's times, so that no window mixes samples of different
/// series; the rows keep their order. A table of one series is filtered
/// in its row order, as the values stand.
Table filter_with_fast_mad(const Table& df, int64_t window_size = 15, double threshold_factor = 5.0);

/// The same for one series of values.
Column filter_with_fast_mad(const Column& series, int64_t window_size = 15, double threshold_factor = 5.0);

/// Gregorian leap years.
bool _is_leap_year(int64_t year);

/// Adds the column datetime_norm: each row key's calendar day in
/// `reference_year` at 00:00 (29 February becomes 28 February when that
/// year has none). A row key of date texts is converted to timestamps first;
/// when it cannot be (or the table has no timestamp or text key), the table
/// is returned unchanged. The day of a time is the day of its zone's wall
/// clock (a text "2024-03-01 02:00+08:00" lies on 1 March), and the result
/// keeps the key's zone. std::invalid_argument for a reference year outside
/// 1678 to 2261 (the years timestamps cover whole). Changes and returns `df`.
Table& create_normalized_dates(Table& df, int64_t reference_year = 2024);

}  // namespace tremora::postprocessing
