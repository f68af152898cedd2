// Docstrings of tremora.plotkit: the chart helpers, Figure and Axes.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* apply_chart_style = R"doc(Applies the global chart style again.

The library applies it once when it loads (serif fonts with CJK fallbacks,
minus signs, tick directions); call this after changing the style settings.
)doc";

inline constexpr const char* text_style = R"doc(The text style a font setting gives.

Args:
    font: a font setting such as font_title or font_unit: a dict with any of
        "size", "family", "weight", "color" and "style".
    base: the style the keys of `font` go over; None for 12 pt serif.

Returns:
    dict: size, family, weight, color (r, g, b, a) and italic.

Raises:
    TypeError: `font` is not a dict, or a value of the wrong kind.
    ValueError: an unknown weight, style or colour.
)doc";

inline constexpr const char* create_figures_folder = R"doc(Makes the folder "figures" in the working directory.

Nothing is done when an entry of that name exists. Logs the working
directory, and "Created figures folder" when it made one.

Raises:
    OSError: the folder cannot be made.
)doc";

inline constexpr const char* calculate_stats = R"doc(Statistics of one column of a table.

Args:
    df: the table (a DataFrame).
    column: the column to describe.
    multiplier: how many standard deviations lower_limit and upper_limit lie
        from the mean.

Returns:
    dict: mean, median, std (sample, ddof=1), min, max, lower_limit and
    upper_limit (mean -/+ multiplier * std), NaN values skipped; all NaN when
    the column holds no number.

Raises:
    KeyError: `column` is not in `df`.
    TypeError: `df` is not a DataFrame.
)doc";

inline constexpr const char* get_freq_str = R"doc(The step code of a time span.

Args:
    timedelta: a datetime.timedelta, pandas.Timedelta or numpy.timedelta64.

Returns:
    str: "30s", "1min", "2h", ...; "1D" from one day on.

Raises:
    TypeError: `timedelta` is not a time span.
)doc";

inline constexpr const char* most_frequent_step =
    R"doc(The step code of the most frequent interval between consecutive times.

Args:
    times: date-times (a DatetimeIndex, a Series or a list of them).

Returns:
    str: the code get_freq_str gives that interval; "min" when there are
    fewer than two times.
)doc";

inline constexpr const char* reindex_df_by_interval = R"doc(A table on a regular time grid.

The grid runs from the earliest to the latest row key, stepping by the
SAMPLERATE code of the first row, or by the most frequent interval when the
table has none; grid times without a row get missing values.

Args:
    df: a table whose row key (index) holds the times.

Returns:
    pandas.DataFrame: the table on the grid.

Raises:
    TypeError: `df` is not a DataFrame.
    ValueError: the row key holds no times.
)doc";

inline constexpr const char* Figure = R"doc(A figure of panels stacked in one column, sharing their x range.

Figure(width, height) makes an empty figure `width` by `height` inches; the
plotters return the figures they saved. A figure shows inline in Jupyter.
)doc";

inline constexpr const char* Figure_init = R"doc(An empty figure.

Args:
    width: the width in inches.
    height: the height in inches.
)doc";

inline constexpr const char* Figure_subplots = R"doc(Creates the figure's panels, from top to bottom.

Args:
    rows: how many panels.
    hspace: the space between panels, as a fraction of a panel's height.

Returns:
    list[Axes]: the panels.

Raises:
    ValueError: the figure has its panels already (they may be in use).
)doc";

inline constexpr const char* Figure_save = R"doc(Writes the figure as PNG, SVG or PDF, cropped to its content.

Args:
    path: a str or os.PathLike (the format by its extension unless `format`
        names one; the file is replaced whole or not at all), or a binary file
        object such as io.BytesIO (the format then `format`, PNG when None).
    dpi: pixels per inch of a PNG.
    format: "png", "svg" or "pdf"; None to go by the path.

Raises:
    TypeError: `path` is neither a path nor a file object.
    ValueError: an unknown format.
    OSError: the file cannot be written.
)doc";

inline constexpr const char* Figure_savefig = R"doc(Figure.save under matplotlib's names.

Args:
    fname: a path or a binary file object, as for save.
    dpi: pixels per inch of a PNG.
    format: "png", "svg" or "pdf"; None to go by the path.
    bbox_inches: None or "tight": figures are always cropped to their
        content, as "tight" asks.

Raises:
    ValueError: another `bbox_inches`, or an unknown format.
)doc";

inline constexpr const char* Figure_describe = R"doc(What the figure's panels show, as they would be saved.

Returns:
    list[dict]: per panel: title; x and y axes (low, high, inverted, unit,
    ticks, labels, offset, label); marks (kind, x, y, sizes, colours, line
    width and style, label, text); the twin panel, when there is one.
)doc";

inline constexpr const char* Figure_last_pixel_size = R"doc((width, height) in pixels of the last PNG written.)doc";

inline constexpr const char* Axes = R"doc(One panel of a Figure.

It takes more marks under matplotlib's names. x values of time panels are
days since 1970-01-01 (matplotlib's date2num); the mark methods take
date-times (datetime, pandas.Timestamp, numpy.datetime64, a DatetimeIndex)
and turn them so, aware ones on their wall clock. Axes.transData and
Axes.transAxes name the coordinates of text (data units, panel fractions).
)doc";

inline constexpr const char* Axes_plot = R"doc(A line through the points: plot([x], y, [fmt], **kwargs).

Args:
    args: y alone (x is then 0, 1, 2, ...), or x and y; numbers or
        date-times; then optionally a format string such as "r--", "o" or
        "k:" (colour, marker, line style).
    kwargs: drawing options: color (c), linewidth (lw), linestyle (ls), alpha,
        marker, markersize (ms), label, zorder.

Raises:
    TypeError: an unknown drawing option, or values of the wrong kind.
    ValueError: x and y of different lengths, a bad format or colour.
)doc";

inline constexpr const char* Axes_scatter = R"doc(Marks at the points.

Args:
    x: the x values (numbers or date-times).
    y: the y values.
    s: the areas of the marks in pt²: one for all or one per point; None
        for 36.
    c: the colour; None for the next one of the colour cycle.
    kwargs: drawing options (marker, alpha, label, edgecolor, zorder, ...).
)doc";

inline constexpr const char* Axes_axhline = R"doc(A horizontal line across the panel.

Args:
    y: where, in data units.
    kwargs: drawing options (color, linewidth, linestyle, alpha, label, ...).
)doc";

inline constexpr const char* Axes_axvline = R"doc(A vertical line across the panel.

Args:
    x: where: a number or a date-time.
    kwargs: drawing options (color, linewidth, linestyle, alpha, label, ...).
)doc";

inline constexpr const char* Axes_axvspan = R"doc(A band over the panel's whole height, below the lines.

Args:
    xmin: where it starts: a number or a date-time.
    xmax: where it ends.
    kwargs: drawing options (color, alpha, label, ...).
)doc";

inline constexpr const char* Axes_fill_between = R"doc(The area between a curve and a level.

Args:
    x: the x values (numbers or date-times).
    y1: the curve.
    y2: the level (one number).
    kwargs: drawing options (color, alpha, label, ...).
)doc";

inline constexpr const char* Axes_text = R"doc(Text at a point.

Args:
    x: where across: data units (a number or a date-time), or a fraction of
        the panel with transform=ax.transAxes.
    y: where up, likewise.
    s: the text.
    fontsize: its size in points.
    ha: horizontal alignment: "left", "center" or "right".
    va: vertical alignment: "baseline", "bottom", "center" or "top".
    transform: ax.transData (data units) or ax.transAxes (panel fractions).
    kwargs: text options (color, alpha, family, weight, style).

Raises:
    ValueError: an unknown alignment or transform.
)doc";

inline constexpr const char* Axes_annotate = R"doc(Text pointing at a point, with an optional arrow.

Args:
    text: the text.
    xy: the point (x, y) in data units; x may be a date-time.
    xytext: where the text goes, in `textcoords`; None to put it at xy.
    textcoords: "data" (as xy), "offset points" (from xy, y upwards) or
        "axes fraction".
    arrowprops: None for no arrow, or a dict of arrowstyle ("->", "<-",
        "<->", "-|>", "-"), color and linewidth.
    fontsize: the text size in points.
    kwargs: text options (color, alpha, family, weight, style).

Raises:
    ValueError: xy or xytext is not a pair, an unknown placement or arrow.
)doc";

inline constexpr const char* Axes_set_title = R"doc(Text above the panel.

Args:
    label: the title.
    fontsize: its size in points.
    pad: points between the panel's top and the title's baseline.
    kwargs: text options (color, family, weight, style).
)doc";

inline constexpr const char* Axes_set_xlabel = R"doc(The x axis label.

Args:
    xlabel: the label.
    fontsize: its size in points.
    labelpad: points between the tick labels and the label.
    kwargs: text options (color, family, weight, style).
)doc";

inline constexpr const char* Axes_set_ylabel = R"doc(The y axis label.

Args:
    ylabel: the label.
    fontsize: its size in points.
    labelpad: points between the tick labels and the label.
    kwargs: text options (color, family, weight, style).
)doc";

inline constexpr const char* Axes_legend = R"doc(A legend of the marks that have a label.

Args:
    loc: "upper left", "upper right", "lower left", "lower right", "upper
        center", "lower center", "center left", "center right" or "center";
        "best" is taken as "upper left" (there is no search for the emptiest
        corner).
    title: a title over the entries ("" for none).
    framealpha: the opacity of the frame.
    fontsize: the entries' size in points.

Raises:
    ValueError: an unknown location.
)doc";

inline constexpr const char* Axes_set_xlim = R"doc(Fixes the x view (otherwise the data with margins).

Args:
    left: the left end: a number, or a date-time on a time axis.
    right: the right end.

Raises:
    ValueError: left and right are equal or not finite.
)doc";

inline constexpr const char* Axes_set_ylim = R"doc(Fixes the y view (otherwise the data with margins).

Args:
    bottom: the lower end.
    top: the upper end.

Raises:
    ValueError: bottom and top are equal or not finite.
)doc";

inline constexpr const char* Axes_grid = R"doc(Grid lines at the major ticks of both axes.

Args:
    visible: True to draw them, False to take them away.
    alpha: their opacity.
)doc";

inline constexpr const char* Axes_invert_yaxis = R"doc(Puts larger y values downwards (as the rainfall and
inverted series panels have them).
)doc";

inline constexpr const char* Axes_describe =
    R"doc(What the panel shows, as Figure.describe gives it for one panel.)doc";

}  // namespace tremora::python::doc
