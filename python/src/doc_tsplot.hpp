// The Python docstrings of tremora.tsplot.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* TSPlotter = R"doc(时间序列绘图类，提供灵活的绘图功能.

Turns observation tables into figures of panels stacked in one column that share
one time axis, one series (station, point and item) per panel, with optional
statistics lines, text annotations, nearby earthquakes on a second y axis, a
rainfall panel and a panel of the Kp geomagnetic index at the bottom. Every figure
is saved under ./figures/ in the working directory (made when missing). Station and
item names and units come from the dictionary tables loaded when the plotter is
made. Messages go to the "plotting" logger. The style arguments are checked when a
statistics line is drawn.

Args:
    conn: a tremora.Connection whose metadata cache is used (tables missing from
        the cache are fetched through it), or None to use the cache alone.
    mean_color: colour of the mean line: a name ("r", "red", "gray", "C0" to "C9",
        the CSS names), "#rrggbb", "#rrggbbaa" or a grey level such as "0.8".
    std_color: colour of the two band lines.
    mean_linestyle: line style of the mean line: "-", "--", ":", "-." or their
        names ("solid", "dashed", "dotted", "dashdot").
    std_linestyle: line style of the band lines.
    mean_alpha: opacity of the mean line, from 0 (invisible) to 1.
    std_alpha: opacity of the band lines.
    mean_linewidth: width of the mean line in points.
    std_linewidth: width of the band lines in points.
    metadata_dir: folder of the metadata cache, a str or os.PathLike; None for
        ~/.tremo/metastash. The connection's own sub-folder is used below it when
        conn names one.
    refresh_metadata: when True, fetch the stations, points and items tables from
        conn into the cache first (a failed fetch is logged and the cached copy
        is read). No effect without conn.

Raises:
    TypeError: conn is not a tremora.Connection or None, or metadata_dir is not a
        str, os.PathLike or None.
    RuntimeError: the metadata cache holds no copy of a table (the
        FileNotFoundError naming the file is its __cause__); run
        tremora.fetching.refresh_metastash() with a connection first.
    OSError: a cached table cannot be read.
)doc";

inline constexpr const char* TSPlotter_conn =
    R"doc(The tremora.Connection given when the plotter was made, or None (read-only).
)doc";

inline constexpr const char* TSPlotter_stations_table = R"doc(The station dictionary as a pandas.DataFrame.

Columns STATIONID, station name, longitude and latitude; the charts find stations
by STATIONID and read the other three by position. Each read gives a new copy;
assign a DataFrame to replace the table (TypeError for anything else).
)doc";

inline constexpr const char* TSPlotter_points_table = R"doc(The measuring-point dictionary as a pandas.DataFrame.

Kept for scripts; the charts do not use it. Each read gives a new copy; assign a
DataFrame to replace the table (TypeError for anything else).
)doc";

inline constexpr const char* TSPlotter_items_table = R"doc(The item dictionary as a pandas.DataFrame.

Columns ITEMID, item name and unit; the charts find items by ITEMID and read the
name and unit by position. Each read gives a new copy; assign a DataFrame to
replace the table (TypeError for anything else).
)doc";

inline constexpr const char* TSPlotter_stats_style = R"doc(The style of the statistics lines as a new dict (read-only).

The eight keys mean_color, std_color, mean_linestyle, std_linestyle, mean_alpha,
std_alpha, mean_linewidth and std_linewidth, set from the constructor's arguments
of the same names. Changing the returned dict changes nothing; use
set_stats_style.
)doc";

inline constexpr const char* TSPlotter_set_stats_style = R"doc(Changes the style of the statistics lines, by keyword.

Affects every chart drawn afterwards. A name that is not one of the eight
stats_style keys is logged as a warning ("未知的统计线样式参数: " + name) and not
added. The values are checked when a statistics line is drawn: an unknown colour
or line style is a ValueError of that chart call.

Args:
    **kwargs: new values by key, e.g. mean_color="blue", std_linewidth=0.5; each
        a str, a number or a bool. Positional arguments are refused.

Raises:
    TypeError: a value is not a str, a number or a bool, or an argument is given
        by position.
)doc";

inline constexpr const char* TSPlotter_plot = R"doc(Charts an observation table in the layout chosen by groupby.

A groupby text that contains "item" (tested first, case-insensitive) calls
plot_by_items, one that contains "station" calls plot_by_stations, each with ts,
prefix, fig_label, xlabel and every further keyword. Any other text logs the error
"不支持的分组方式: " + groupby and draws nothing.

Args:
    ts: the observation table, a pandas.DataFrame with a DatetimeIndex (the
        observation times) and the columns ITEMID, STATIONID, POINTID and
        OBSVALUE. It is not changed.
    groupby: "item" for plot_by_items or "station" for plot_by_stations.
    prefix: text put in front of every file name ("" for none).
    fig_label: text put into every file name after the item or station and point
        ("" for none).
    xlabel: label of the time axis ("" for none; with show_geomag the Kp panel then
        shows "日期 (<time_timezone>)").
    **kwargs: any further argument of the chosen layout by name (set_zero,
        show_mean, plot_types, quakecat_dir, show_geomag, ...); a name the chosen
        layout does not take is an extra drawing option of the series lines and
        scatter marks (see plot_by_items).

Returns:
    (Figure, [Axes, ...]): the last figure saved and its panels, as
    tremora.plotkit objects, or (None, None) when no figure was made.

Raises:
    TypeError: more than five positional arguments, an argument given twice, or a
        value of the wrong kind; and the errors of the chosen layout.
    KeyError, ValueError, OSError: those of the chosen layout.
)doc";

inline constexpr const char* TSPlotter_plot_by_items =
    R"doc(Charts an observation table with one figure per item and run of series.

Items appear in the order they first occur in ts (except 3128, 3129 and 999999);
an item missing from items_table is logged and skipped. The station/point series
of an item, sorted by STATIONID then POINTID (as texts), are cut into runs of
number_of_subplots, and each run is one figure of that many panels (one more with
show_geomag), 10 inches wide, saved as
./figures/<prefix><item><fig_label>_<n>.<figure_format> with n counting the
item's figures from 1. A panel's title is "station name/point/item name", with
"/base=<offset>" when set_zero; its y ticks are the smallest value, 0 (or the
middle, without set_zero) and the largest value. A series without data after the
time cut leaves its panel blank, with a warning. Figures saved before an error
stay on disk.

Args:
    ts: the observation table, a pandas.DataFrame with a DatetimeIndex (the
        observation times) and the columns ITEMID, STATIONID, POINTID and
        OBSVALUE (SAMPLERATE, when present, sets the grid of reindex). It is not
        changed.
    prefix: text put in front of every file name ("" for none).
    set_zero: when True, draw each series minus its mid-range (largest + smallest
        value) / 2, noted in the title as /base=<offset rounded to 0.1>.
    fig_label: text put into every file name after the item ("" for none).
    number_of_subplots: most series per figure (values below 1 count as 1).
    invert_y: when True, larger values are drawn lower in the series panels.
    reindex: when True, put each series on a regular time grid (its SAMPLERATE
        step or its most frequent interval), gaps as missing values.
    fig_height: height of one panel in inches.
    plot_type: drawing style of every panel: "line", "stem" (blue stems from 0,
        without the extra drawing options) or "scatter" (unlabelled marks); a text
        containing none of these draws a line.
    plot_types: a list of styles by panel position within a figure, e.g.
        ["line", "scatter"]; panels past its end use plot_type. None, or any value
        that is not a list, for none.
    show_mean: when True, draw the mean line of each series ("Mean").
    show_std: when True, draw the lines at mean +/- std_multiplier sample standard
        deviations ("+2.0σ", "-2.0σ").
    std_multiplier: the band's half-width in standard deviations, an int or a
        float; the labels write it as given (3 as "3", 2.0 as "2.0").
    annotations: text annotations by item and series, a dict
        {item: {"<station>_<point>": [annotation, ...]}}, e.g.
        {"4112": {"12001_2": [{"text": "A", "x": "2024-03-01", "y": 1.5}]}};
        item and series keys are compared as str. Each annotation is a dict with
        "text" (str), "x" (a date text or date-time on the panel's clock), "y" (a
        number) and optionally "xytext" (offset pair, default (10, 10)),
        "textcoords" ("offset points", the default, "data" or "axes fraction"),
        "arrowprops" (dict of arrow options, default {"arrowstyle": "->"}; {} for
        no arrow) and "props" (dict of text options: color, fontsize, family,
        weight, style, alpha). None for none.
    figure_format: image format and file extension: "png", "svg" or "pdf".
    quakecat_dir: path of an earthquake catalogue file (see
        tremora.quakecat.read_quakecat), a str or os.PathLike; the events near
        each station (by its latitude and longitude in stations_table) within the
        series' time span that pass quakecat_filters are drawn on a second y axis
        (epicentral distance in km). None for none. A catalogue that cannot be
        read, and a failure of one panel's earthquakes, are logged, not raised.
    quakecat_filters: the events shown: one (distance_km, min_magnitude) tuple or
        a list of them, e.g. [(200, 3), (300, 4), (500, 5)]; an event is shown
        when it lies closer than distance_km with at least min_magnitude for any
        one of them. None for (300, 3).
    start_time: first time shown, a date text ("2024-03-01", "2024-03-01
        10:30") or a datetime.datetime, datetime.date, pandas.Timestamp or
        numpy.datetime64; a naive one is a wall-clock time of the series' clock
        (of time_timezone with show_geomag). None for no limit.
    end_time: last time shown (included), in the forms of start_time; None for no
        limit.
    xlabel: label of the time axis of the series panels ("" for none); with
        show_geomag only the Kp panel has one, "日期 (<time_timezone>)" when empty.
    show_geomag: when True, add a Kp index panel at the bottom of every figure:
        the three-hour intervals that overlap the figure's time range as bars,
        green below 4, yellow below 5, red from 5. The series are then drawn on
        the clock of time_timezone.
    geomag_data: Kp data to draw instead of fetching them from the GFZ service: a
        pandas.DataFrame with a timezone-aware DatetimeIndex and the columns Kp
        and status (as tremora.geomag.fetch_geomag or read_kp_file give it). None
        to fetch the span of the series; a failed fetch is logged and the panel
        shows "获取失败". Used only with show_geomag.
    time_timezone: IANA time-zone name of the chart's clock with show_geomag:
        naive observation times are wall-clock times there, aware ones are
        converted to it.
    **kwargs: extra drawing options of the series lines and scatter marks, each a
        str, a number or a bool: color, linewidth, linestyle, alpha, marker,
        markersize, edgecolor, label, zorder. Unknown names are logged and ignored;
        remove_peaks_steps is dropped with a warning.

Returns:
    (Figure, [Axes, ...]): the last figure saved and its panels, as
    tremora.plotkit objects, or (None, None) when no figure was made.

Raises:
    TypeError: ts is not a DataFrame or its index holds no timestamps; more
        positional arguments than the signature has, or an argument given twice;
        an argument or drawing option of the wrong kind.
    KeyError: ts lacks ITEMID, STATIONID, POINTID or OBSVALUE, or an annotation
        lacks "text", "x" or "y".
    ValueError: with show_geomag, an index holding NaT ("Kp plotting requires a
        valid DatetimeIndex"), geomag_data that tremora.geomag.normalize_geomag
        refuses or an unknown time_timezone; a time bound that is no date; reindex
        of a series with repeated times; an unknown colour, line style, marker or
        annotation option; a figure_format other than png, svg or pdf.
    OSError: a figure file cannot be written.
)doc";

inline constexpr const char* TSPlotter_plot_by_stations =
    R"doc(Charts an observation table with one figure per station and point.

Stations appear in the order they first occur in ts (except 999999 and missing
ones), and so do their points. A figure holds one panel per item measured at the
station and point (sorted, without 3215, 3216 and missing items), then a rainfall
panel when rainfall is given, then the Kp panel with show_geomag; it is 10 inches
wide and saved as ./figures/<prefix><station>_<point><fig_label>.<figure_format>.
A station is found in stations_table by its STATIONID as text, or else by its first
five characters. A panel's title is "station name/point/item name", with
"/base=<offset>" when set_zero. A series without data after the time cut, or an
item missing from items_table, leaves its panel blank, with a warning. Figures
saved before an error stay on disk.

Args:
    ts: the observation table, a pandas.DataFrame with a DatetimeIndex (the
        observation times) and the columns ITEMID, STATIONID, POINTID and
        OBSVALUE (SAMPLERATE, when present, sets the grid of reindex). It is not
        changed.
    prefix: text put in front of every file name ("" for none).
    set_zero: when True, draw each series minus its mid-range (largest + smallest
        value) / 2, noted in the title as /base=<offset rounded to 0.1>.
    fig_label: text put at the end of every file name ("" for none).
    daily_mean_values: when True, reduce each series to one value per calendar
        day, the median of the day's values (missing for a day without values).
    invert_y: when True, larger values are drawn lower in the series panels.
    figure_format: image format and file extension: "png", "svg" or "pdf".
    reindex: when True, put each series on a regular time grid (its SAMPLERATE
        step or its most frequent interval), gaps as missing values.
    fig_height: height of one panel in inches.
    rainfall: a rainfall table, a pandas.DataFrame with a DatetimeIndex and the
        column OBSVALUE (mm), drawn as blue bars hanging from the top of a panel
        after the items, on the time axis the series share, one bar per row at its
        date (without show_geomag only the days of the series' time range). An
        empty DataFrame adds a blank panel; None for no panel.
    plot_type: drawing style of every panel: "line", "stem" (blue stems from 0,
        without the extra drawing options) or "scatter" (marks labelled with the
        title); a text containing none of these draws a line.
    plot_types: a list of styles by the number of item panels drawn before in the
        figure (blank panels do not count), e.g. ["line", "scatter"]; later panels
        use plot_type. None, or any value that is not a list, for none.
    show_mean: when True, draw the mean line of each series ("Mean").
    show_std: when True, draw the lines at mean +/- std_multiplier sample standard
        deviations ("+2.0σ", "-2.0σ").
    std_multiplier: the band's half-width in standard deviations, an int or a
        float; the labels write it as given (3 as "3", 2.0 as "2.0").
    annotations: text annotations by item and series, a dict
        {item: {"<station>_<point>": [annotation, ...]}}; item and series keys are
        compared as str. Each annotation is a dict with "text", "x" (a date text or
        date-time on the panel's clock), "y" and optionally "xytext", "textcoords",
        "arrowprops" and "props", as for plot_by_items. None for none.
    quakecat_dir: path of an earthquake catalogue file (see
        tremora.quakecat.read_quakecat), a str or os.PathLike; the events near the
        station (by its latitude and longitude in stations_table) within each
        series' time span that pass quakecat_filters are drawn on a second y axis
        (epicentral distance in km). None for none. A catalogue that cannot be
        read, and a failure of one panel's earthquakes, are logged, not raised.
    quakecat_filters: the events shown: one (distance_km, min_magnitude) tuple or
        a list of them, e.g. [(200, 3)]; an event is shown when it lies closer
        than distance_km with at least min_magnitude for any one of them. None
        for (300, 3).
    start_time: first time shown, a date text ("2024-03-01", "2024-03-01
        10:30") or a datetime.datetime, datetime.date, pandas.Timestamp or
        numpy.datetime64; a naive one is a wall-clock time of the series' clock
        (of time_timezone with show_geomag). None for no limit.
    end_time: last time shown (included), in the forms of start_time; None for no
        limit.
    xlabel: label of the time axis of the series panels ("" for none); with
        show_geomag only the Kp panel has one, "日期 (<time_timezone>)" when empty.
    show_geomag: when True, add a Kp index panel at the bottom of every figure:
        the three-hour intervals that overlap the figure's time range as bars,
        green below 4, yellow below 5, red from 5. The series and rainfall are
        then drawn on the clock of time_timezone.
    geomag_data: Kp data to draw instead of fetching them from the GFZ service: a
        pandas.DataFrame with a timezone-aware DatetimeIndex and the columns Kp
        and status (as tremora.geomag.fetch_geomag or read_kp_file give it). None
        to fetch the span of the series; a failed fetch is logged and the panel
        shows "获取失败". Used only with show_geomag.
    time_timezone: IANA time-zone name of the chart's clock with show_geomag:
        naive observation and rainfall times are wall-clock times there, aware
        ones are converted to it.
    **kwargs: extra drawing options of the series lines and scatter marks, each a
        str, a number or a bool: color, linewidth, linestyle, alpha, marker,
        markersize, edgecolor, label, zorder. Unknown names are logged and ignored;
        remove_peaks_steps is dropped with a warning.

Returns:
    (Figure, [Axes, ...]): the last figure saved and its panels, as
    tremora.plotkit objects, or (None, None) when no figure was made.

Raises:
    TypeError: ts is not a DataFrame or its index holds no timestamps; rainfall is
        not keyed by timestamps; more positional arguments than the signature has,
        or an argument given twice; an argument or drawing option of the wrong
        kind.
    KeyError: ts (or rainfall) lacks a needed column, or an annotation lacks
        "text", "x" or "y".
    ValueError: with show_geomag, an index holding NaT ("Kp plotting requires a
        valid DatetimeIndex"), geomag_data that tremora.geomag.normalize_geomag
        refuses or an unknown time_timezone; a time bound that is no date; reindex
        of a series with repeated times; an unknown colour, line style, marker or
        annotation option; a figure_format other than png, svg or pdf.
    OSError: a figure file cannot be written.
)doc";

}  // namespace tremora::python::doc
