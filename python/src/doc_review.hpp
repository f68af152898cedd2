// The Python docstrings of tremora.review.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* review =
    R"doc(Reviews every series of a request over a period and writes one page.

Fetches the period's samples, the reference days before it and the station log,
checks every series (the ones with data and the ones the station dictionary
expects of the method, type and rate), and writes out/index.html (the page, which
needs no network), out/series.csv (the table the page shows) and the SVG charts
beside them: per item, the stacked chart with statistics lines (and quakes and Kp
when asked for); per flagged series, its own chart. Each file is written
atomically. A series that cannot be checked is shown on its row.

Args:
    conn: an open Connection.
    start: the first day, a date text ("20240501") or a datetime.
    end: the last day, as start.
    out: the folder of the page, a str or os.PathLike (made when missing).
    method: method or discipline name, as fetching_data takes it.
    station: station name, or "全部" for every station.
    rate: sampling-rate name ("秒钟值", "分钟值", "小时值", "日均值").
    type: database-type name ("原始库", "预处理库", "产品库").
    gzip: True for second and minute data, whose values are compressed.
    reference_days: the days before start whose samples give each series' band.
    band_k: the band's half width in standard deviations of those samples.
    quakecat: an earthquake catalogue file (str or os.PathLike), or None.
    quakecat_filters: (km, magnitude) pairs for the catalogue, or None for its
        default filter.
    geomag: True for a Kp panel under the charts and Kp on the page.
    geomag_data: a Kp table (pandas.DataFrame) to use instead of fetching Kp.
    cache_dir: the metadata cache folder ("" for the default).

Returns:
    pandas.DataFrame: one row per series with the columns of series.csv:
    station, station_name, point, point_name, item, item_name, unit, flags,
    expected, present, completeness_pct, gap_start, gap_minutes, mad_replaced,
    largest_step, largest_step_at, typical_step, mean, std, band_low, band_high,
    band_exit_days, log_entries, error.

Raises:
    ValueError: conn is None or closed, a date or the rate is not valid, or the
        end lies before the start.
    TypeError: an argument of the wrong kind.
    OSError: the page or a chart cannot be written.
)doc";

}  // namespace tremora::python::doc
