// The Python docstrings of tremora.yearplot.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* plot_annual_comparison =
    R"doc(Lays every calendar year of an observation table over one month-day axis.

Each year's values are drawn as faint points and their centred moving average as a
line labelled "<year> (Mean: <the year's mean, two decimals>)", in viridis colours
from the earliest year on; the last year gets a shaded band under its line, and a
red dashed line marks the mean of the yearly means. The x axis has a tick on the
first day of every month ("%m-%d"). The title is station_name + direction +
"同年对比", or "同年对比曲线" when both are empty. The chart is saved under
./figures/ (made when missing); a failed save is logged as "Error saving chart:
..." on the "plotting" logger and not raised. Rows whose time is NaT are not drawn.

Args:
    df: the observation table, a pandas.DataFrame with a DatetimeIndex and the
        column OBSVALUE. When it has no column datetime_norm (each row's date moved
        into the year 2024 at midnight, its x position), that column is computed
        and added to df.
    output_file: image file name, a str or os.PathLike, put under ./figures/
        unless it starts with "./figures/"; its extension (.png, .svg or .pdf)
        sets the format.
    subtract_mean: when True, draw each year's values minus that year's mean.
    invert_y: when True, larger values are drawn lower.
    y_label: label of the y axis.
    dpi: resolution of the saved image in dots per inch.
    figsize: (width, height) of the figure in inches, a tuple or list of two
        numbers.
    grid: when True, draw a dashed grid.
    y_axis_format: a callable (value, position) -> str that labels the y ticks
        (its result is passed through str()); None or False for the usual numbers.
    station_name: text that starts the title, e.g. the station's name ("" for
        none).
    direction: text that follows station_name in the title, e.g. "NS" ("" for
        none).
    rolling_window: length in rows of the centred moving average; an average
        whose window reaches past the year's rows or holds a missing value is
        missing, and below 1 there is none.

Returns:
    (Figure, Axes): the figure and its one plot area, as tremora.plotkit objects.

Raises:
    TypeError: df is not a DataFrame or its index holds no timestamps, figsize is
        not a pair of numbers, or y_axis_format is not callable.
    ValueError: figsize does not hold exactly two values.
    KeyError: df has no column OBSVALUE.
)doc";

}  // namespace tremora::python::doc
