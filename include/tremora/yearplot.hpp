// The annual comparison chart: every calendar year of an observation table
// laid over one month-day axis, each year's samples as faint points and
// their centred moving average as a line labelled with the year's mean.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "tremora/chart.hpp"
#include "tremora/table.hpp"

namespace tremora::yearplot {

/// The arguments of plot_annual_comparison after the table.
struct AnnualOptions {
  /// Image file name ("Annual_Comparison.png"), put under "./figures/"
  /// unless it starts with it; the format follows its extension (png, svg, pdf).
  std::string output_file = "Annual_Comparison.png";
  /// Draw each year's values minus that year's mean (false).
  bool subtract_mean = false;
  /// Larger values downwards (false).
  bool invert_y = false;
  /// Label of the y axis ("Observation Value").
  std::string y_label = "Observation Value";
  /// Resolution of the saved image (300).
  double dpi = 300;
  /// Width and height in inches (12, 8).
  std::pair<double, double> figsize = {12, 8};
  /// Draw a dashed grid (true).
  bool grid = true;
  /// Labels of the y ticks from (value, position among the ticks in view);
  /// none for the usual numbers.
  std::function<std::string(double value, int position)> y_axis_format = nullptr;
  /// Texts that lead the title: the station's name, then a direction ("").
  std::string station_name = "";
  std::string direction = "";
  /// Rows of the centred moving average (5).
  int64_t rolling_window = 5;
};

/// The chart made: the caller owns the figure, and its one plot area.
struct AnnualChart {
  std::shared_ptr<chart::Figure> figure;
  chart::Axes* axes = nullptr;
};

/// Draws every year of `df` (row key timestamps, column OBSVALUE) against
/// its column "datetime_norm" (added to `df` by create_normalized_dates when
/// missing), colours from viridis at i / N, the shaded band under the last
/// year, the red dashed line at the mean of the yearly means, month ticks
/// "%m-%d", a legend "年份 (年平均值)", and "Generated: ..." at the lower
/// right; saves it (a failed save is logged, "Error saving chart: ...", not
/// thrown) and returns it. KeyError for a missing OBSVALUE; TypeError for a
/// row key that is not timestamps.
///
/// Memory: above `df` (and the column it gains), the chart takes about 45
/// bytes a row (each year's points in its marks, the corners of the markers
/// that reach the strip being drawn) and a fixed part of about 60 MB at the
/// 12 x 8 in, 300 dpi default (strips of the image, one run of markers'
/// drawing, fonts): a million minute rows take about 110 MB, three million
/// about 200 MB (benchmark BM_AnnualMillionMinutes). The faint points are
/// never all held as drawing operations at once, and the image is the same,
/// pixel for pixel, as if they were. The strips are drawn on several threads
/// at once only as far as their recordings stay under about 64 MB in all
/// (about 64 bytes a row each): from about a million rows, one at a time,
/// whatever TREMORA_THREADS says, to keep that bound.
AnnualChart plot_annual_comparison(Table& df, const AnnualOptions& options = {});

}  // namespace tremora::yearplot
