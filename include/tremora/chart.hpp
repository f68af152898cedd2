// The chart layer: tick placement and tick labels of date and number axes.
//
// Date axis values are days (fractional) since 1970-01-01 00:00, the wall
// clock read as UTC. Lengths are in points (1/72 inch).
#pragma once

#include <string>
#include <vector>

#include "tremora/time.hpp"

namespace tremora::chart {

/// Days since the epoch of a timestamp, and back (to the nearest microsecond).
double to_days(Timestamp t);
Timestamp from_days(double days);

/// The calendar unit of automatic date ticks, coarsest first.
enum class DateUnit { Yearly, Monthly, Daily, Hourly, Minutely, Secondly, Microsecondly };

struct DateTicks {
  DateUnit unit = DateUnit::Daily;
  /// The step in units (1 for calendar patterns other than yearly).
  int interval = 1;
  /// Every tick the locator produced, ascending (yearly ticks may lie outside the view).
  std::vector<double> ticks;
  /// The ticks inside the view.
  std::vector<double> visible;
};

/// Automatic date ticks for the view dmin..dmax: the unit is the coarsest
/// one with at least five whole units in the view, the interval the first
/// candidate that keeps the ticks within the unit's maximum, and the ticks
/// sit on calendar positions (the 1st of months, midnight, whole hours).
/// A view of zero width is widened by two years on each side.
DateTicks auto_date_ticks(double dmin, double dmax);

/// Concise date labels: only the part of each tick that changes ("Apr",
/// "05", "03:00"; "2024" or "Mar-15" where a larger field turns over), and
/// the common part once, as the offset text ("2023-Mar").
struct ConciseLabels {
  std::vector<std::string> labels;
  std::string offset;
};

/// Labels of a full tick list (ascending), as auto_date_ticks returns it.
ConciseLabels concise_date_labels(const std::vector<double>& ticks);

struct NumericTicks {
  /// Every tick the locator produced, ascending.
  std::vector<double> ticks;
  /// The ticks inside the view.
  std::vector<double> visible;
};

/// Automatic numeric ticks with steps of 1, 2, 2.5, 5 or 10 times a power
/// of ten: at most floor(axis length / (3 × label size)) intervals along x,
/// floor(axis length / (2 × label size)) along y, between 1 and 9.
NumericTicks auto_numeric_ticks(double vmin, double vmax, double axis_length_pt, double label_size_pt, bool y_axis);

/// Numeric labels: the same number of decimals for every tick, with a
/// common offset ("+1.234e3") or power of ten ("1e6") taken out when the
/// values need it; "-" as the minus sign.
struct ScalarLabels {
  std::vector<std::string> labels;  // one per visible tick
  std::string offset_text;
};

/// Labels of the visible ticks; `all_ticks` (the locator's full list)
/// decides the decimals.
ScalarLabels scalar_labels(const std::vector<double>& visible, const std::vector<double>& all_ticks);

}  // namespace tremora::chart
