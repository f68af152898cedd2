// The Python docstrings of tremora.fetching's module-level functions: the
// connection by alias, the cache refresh and the compatibility functions.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* conn_to_Oracle = R"doc(Opens a connection for a section of default.conf.

DatabaseConnector.connect_to_oracle(db): problems are logged on the "fetching"
logger and give None (see there).

Args:
    db: the alias, the section name in default.conf (case-sensitive).

Returns:
    tremora.Connection or None: the open connection, or None when it cannot be
    opened.

Raises:
    ValueError: a configuration file that does not parse as INI.
)doc";

inline constexpr const char* timeseries_info =
    R"doc(The stations, points and items tables (MetadataFetcher.get_timeseries_info).

Args:
    conn: a tremora.Connection whose database fills missing tables (its labels
        choose the cache's sub-folder), or None to read the cache alone, from the
        cache folder itself.
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.
    refresh_cache: when True, fetch the three tables from conn into the cache
        first (a failed fetch is logged and the cached copy read). No effect
        without conn.

Returns:
    tuple: (stations, points, items), three pandas.DataFrame objects with
    upper-case column names.

Raises:
    RuntimeError: a table is neither cached nor fetched, with the message
        "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " + the cache
        folder and the FileNotFoundError naming the file as its __cause__.
    OSError: a cached file cannot be read or holds another table.
)doc";

inline constexpr const char* refresh_metastash =
    R"doc(Copies dictionary tables of the database into the metadata cache.

MetadataCache.refresh_cache with the connection's namespace: each table is read
with its SELECT and written to <cache_dir>/<namespace>/<table>.parquet. The first
failure ends the refresh; tables written before it stay.

Args:
    conn: an open tremora.Connection.
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.
    tables: the table keys to refresh, a list drawn from "methods", "stations",
        "points", "items" and "stationitems"; None or [] for all five, in that
        order.

Returns:
    dict: the tables fetched, {key: pandas.DataFrame} with upper-case column
    names.

Raises:
    TypeError: conn is not a tremora.Connection.
    KeyError: a key that is not one of the five.
    RuntimeError: the database reports an error (a closed connection too).
    OSError: the cache folder or a file cannot be written.
)doc";

inline constexpr const char* fetching_data =
    R"doc(获取数据的兼容接口: DataFetcher.fetch_data under the names scripts use.

Returns None with a warning "fetching_data: " + the reason, such as "stationname
'无此台' matches no station", when the request cannot be resolved.

Args:
    conn: an open tremora.Connection (see DataFetcher.fetch_data).
    startdate: first day: a date text ("20240301", "2024-03-01 18:00", ...) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64
        (an aware one by its own wall clock). The time of day is dropped.
    enddate: last day (included), in the forms of startdate.
    methodname: a discipline ("形变", "电磁", "流体"), "全部", or a part of a method
        name.
    stationname: a part of a station name, or "全部" for all stations.
    data_type: the sampling rate: "秒钟值", "分钟值", "小时值", "日均值" or an alias.
    base_type: the database type: "原始库", "预处理库" or "产品库".
    itemname: a part of an item name, a list of whole item names, or "全部" (the
        default) for all items.
    gzip_flag: when True, OBSVALUE holds gzip-compressed texts and is inflated (at
        rates of 60 s or less).
    my_split_lines: when True, one row per sample; False returns the day rows.
    pointid: the point code, a str or an int; "" or None for all points.

Returns:
    pandas.DataFrame or None: the observation table (see DataFetcher.fetch_data),
    or None when the request cannot be resolved.

Raises:
    RuntimeError, FileNotFoundError, ValueError, TypeError, OSError: those of
        DataFetcher.fetch_data.
)doc";

inline constexpr const char* fetching_dialog =
    R"doc(获取日志数据的兼容接口: DataFetcher.fetch_dialog under the names scripts use.

Returns None with a warning "fetching_dialog: " + the reason when the request
cannot be resolved.

Args:
    conn: an open tremora.Connection (see DataFetcher.fetch_dialog).
    startdate: first day: a date text or a datetime.datetime, datetime.date,
        pandas.Timestamp or numpy.datetime64. None for the day before the time
        tremora was loaded (fixed at load, not at the call).
    enddate: last day (included), in the forms of startdate; None for the day
        tremora was loaded.
    methodname: a discipline, a part of a method name, or "全部" (the default) for
        all methods.
    stationname: a part of a station name, or "全部" (the default) for all
        stations.
    itemname: a part of an item name, or "全部" (the default) for all items.
    log_type: the event-type code (EVTID) of the entries.

Returns:
    pandas.DataFrame or None: the log rows with lower-case column names, or None
    when the request cannot be resolved.

Raises:
    RuntimeError, FileNotFoundError, ValueError, OSError: those of
        DataFetcher.fetch_dialog.
)doc";

inline constexpr const char* load_Oracle_data_daily =
    R"doc(加载每日Oracle数据: a method at all stations over the last days.

fetch_data of the method item at all stations and items, from the day period days
before now to today (local time). Returns None with a warning
"load_Oracle_data_daily: " + the reason (naming item, datatype or is_preprocessed)
when the request cannot be resolved.

Args:
    conn: an open tremora.Connection.
    period: the number of days back, a number (fractions allowed).
    is_preprocessed: the database type: "原始库", "预处理库" or "产品库".
    item: the method: a discipline, "全部", or a part of a method name, e.g. "水位".
    datatype: the sampling rate: "秒钟值", "分钟值", "小时值", "日均值" or an alias.
    gzip_flag: when True, OBSVALUE holds gzip-compressed texts and is inflated (at
        rates of 60 s or less).

Returns:
    pandas.DataFrame or None: the observation table, one row per sample (see
    DataFetcher.fetch_data), or None when the request cannot be resolved.

Raises:
    RuntimeError, FileNotFoundError, ValueError, TypeError, OSError: those of
        DataFetcher.fetch_data.
)doc";

inline constexpr const char* load_Oracle_data_resistivity_year =
    R"doc(加载年度电阻率数据: hourly preprocessed resistivity from a day to today.

fetch_data of "直流单装置地电阻率" at all stations, "小时值", "预处理库", from date_0 to
today (local time); then OBSVALUE values below 8 of station 370082, items 3211 and
3212, become NaN. An empty result is returned as the query gave it.

Args:
    conn: an open tremora.Connection.
    date_0: first day: a date text ("20090101", "2009-01-01", ...) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64.

Returns:
    pandas.DataFrame: the observation table, one row per hour sample.

Raises:
    RuntimeError: the fetch gives no table ("load_Oracle_data_resistivity_year:
        the fetch returned no table"), and those of DataFetcher.fetch_data.
    FileNotFoundError, ValueError, OSError: those of DataFetcher.fetch_data.
)doc";

inline constexpr const char* load_Oracle_data_water_year =
    R"doc(加载年度水位数据: the daily water level of 郯城 from 2009 to today, gap-free.

fetch_data of "水位" at "郯城", "日均值", "预处理库", from 2009-01-01 to today (local
time); then "37005h" becomes "37005H" in every text cell, OBSVALUE becomes
float32, and the rows are put on every day from the first to the last (days
missing from the data get rows), each missing value filled from the next row that
has one (values after the last present one stay missing).

Args:
    conn: an open tremora.Connection.

Returns:
    pandas.DataFrame: the daily table, indexed by STARTDATE.

Raises:
    RuntimeError: the fetch gives no table or no rows
        ("load_Oracle_data_water_year: ..."), and those of DataFetcher.fetch_data.
    FileNotFoundError, ValueError, OSError: those of DataFetcher.fetch_data.
)doc";

}  // namespace tremora::python::doc
