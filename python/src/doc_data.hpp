// The Python docstrings of tremora.metastash, tremora.cleaning,
// tremora.postprocessing and tremora.export.
#pragma once

namespace tremora::python::doc {

// ---------------------------------------------------------------------------
// tremora.metastash

inline constexpr const char* MetadataCache = R"doc(时间序列元数据的本地缓存仓库。

Local Parquet copies of the five dictionary tables of a precursor database
(methods, stations, points, items, stationitems), so that name look-ups keep
working without the database. A table's file is <root>/<namespace>/<table>.parquet:
the root is the cache_dir argument, or ~/.tremo/metastash when it is None or "",
made absolute against the working directory; the namespace, when there is one,
names one database: the namespace argument, or else the connection's
tremora_cache_namespace label (its HOST) or tremora_db_alias label, made safe by
safe_namespace. Without a namespace the files lie in the root itself. Every table
returned has upper-case column names. Files are never aged: without a refresh an
existing file is used however old it is. Its operations are static; it is never
instantiated. The class attribute TABLE_SPECS is the dict {key: (filename, sql)}
of the five tables, in the order a full refresh visits them.
)doc";

inline constexpr const char* MetadataCache_TABLE_SPECS = R"doc(The five cached tables, as a new dict (read-only).

{key: (filename, sql)} in the order a full refresh visits them: "methods",
"stations", "points", "items", "stationitems"; e.g. "items": ("items.parquet",
"SELECT ITEMID, ITEMNAME, UNIT FROM QZDATA.QZ_DICT_ITEMS").
)doc";

inline constexpr const char* MetadataCache_default_cache_dir = R"doc(The default root folder of the cache.

Returns:
    str: ~/.tremo/metastash with the home folder written out.
)doc";

inline constexpr const char* MetadataCache_safe_namespace =
    R"doc(The form of a namespace that is safe as one folder name.

Surrounding white space is removed and every run of characters other than ASCII
letters, digits, "_", "." and "-" becomes one "_" ("  my db/1 " gives "my_db_1");
a result of "", "." or ".." becomes one "_" per character, at least one ("_",
"__"), so that a namespace never names the root or its parent. Other names are
kept as they are.

Args:
    namespace: the namespace, a str or os.PathLike; None or "" for none.

Returns:
    str: the safe namespace; "" for None or "".
)doc";

inline constexpr const char* MetadataCache_infer_namespace = R"doc(The safe namespace of a connection.

Args:
    conn: a tremora.Connection, or None.

Returns:
    str: safe_namespace of its tremora_cache_namespace label, else of its
    tremora_db_alias label; "" for None or a connection with neither label.
)doc";

inline constexpr const char* MetadataCache_resolve_cache_dir = R"doc(The cache folder of a namespace.

Creates nothing.

Args:
    cache_dir: root folder, a str or os.PathLike, made absolute against the
        working directory; None or "" for ~/.tremo/metastash.
    namespace: the namespace, made safe by safe_namespace; None or "" for the root
        itself.

Returns:
    str: the absolute root, joined with the safe namespace when there is one.
)doc";

inline constexpr const char* MetadataCache_cache_path = R"doc(The file of a cached table.

Args:
    table_name: the table key: "methods", "stations", "points", "items" or
        "stationitems".
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    namespace: the namespace; None or "" for the root itself.

Returns:
    str: the path of <table_name>.parquet in the cache folder (see
    resolve_cache_dir).

Raises:
    KeyError: "Unsupported metadata table: " + table_name for another key.
)doc";

inline constexpr const char* MetadataCache_ensure_cache_dir =
    R"doc(The cache folder of a namespace, created with its parents.

An existing folder is no error.

Args:
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    namespace: the namespace; None or "" for the root itself.

Returns:
    str: the folder (see resolve_cache_dir).

Raises:
    OSError: the folder cannot be created.
)doc";

inline constexpr const char* MetadataCache_normalize_columns =
    R"doc(A copy of a table with upper-case column names and index name.

Args:
    df: a pandas.DataFrame; it is not changed.

Returns:
    pandas.DataFrame: the copy.

Raises:
    ValueError: two names become the same.
)doc";

inline constexpr const char* MetadataCache_save_table = R"doc(Writes a table's file in the cache.

The cache folder is created first; the table is written with upper-case column
names and without its index, replacing the previous copy atomically (a failed
write leaves it intact).

Args:
    table_name: the table key: "methods", "stations", "points", "items" or
        "stationitems".
    df: the table, a pandas.DataFrame.
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    namespace: the namespace; None or "" for the root itself.

Returns:
    str: the path written.

Raises:
    KeyError: an unsupported table_name (after the folder was created).
    ValueError: two column names become the same in upper case.
    OSError: the folder or the file cannot be written.
)doc";

inline constexpr const char* MetadataCache_load_table = R"doc(Reads a table's file from the cache.

Args:
    table_name: the table key: "methods", "stations", "points", "items" or
        "stationitems".
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    namespace: the namespace; None or "" for the root itself.

Returns:
    pandas.DataFrame: the cached table, with upper-case column names.

Raises:
    KeyError: an unsupported table_name.
    FileNotFoundError: there is no file (the message is its path).
    OSError: the file cannot be read, or lacks the code or name column of the
        table (the first two columns its SELECT names: it holds another table).
)doc";

inline constexpr const char* MetadataCache_fetch_and_cache_table =
    R"doc(Reads a table from the database, stores it in the cache and returns it.

Args:
    conn: an open tremora.Connection.
    table_name: the table key: "methods", "stations", "points", "items" or
        "stationitems".
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    namespace: the namespace; None or "" for that of conn (see infer_namespace).

Returns:
    pandas.DataFrame: the table, with upper-case column names.

Raises:
    TypeError: conn is not a tremora.Connection.
    KeyError: an unsupported table_name (the message is the key).
    RuntimeError: the database reports an error (a closed connection too).
    OSError: the folder or the file cannot be written.
)doc";

inline constexpr const char* MetadataCache_refresh_cache =
    R"doc(Reads tables from the database and stores them in the cache.

The tables are fetched in the order given (see fetch_and_cache_table); the first
failure ends the refresh, and the tables written before it stay.

Args:
    conn: an open tremora.Connection.
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    tables: the table keys, a list drawn from "methods", "stations", "points",
        "items" and "stationitems"; None or [] for all five, in that order.
    namespace: the namespace, used for every table; None or "" for that of conn.

Returns:
    dict: {key: pandas.DataFrame} of the tables fetched, with upper-case column
    names.

Raises:
    TypeError: conn is not a tremora.Connection.
    KeyError: an unsupported key.
    RuntimeError: the database reports an error (a closed connection too).
    OSError: the folder or a file cannot be written.
)doc";

inline constexpr const char* MetadataCache_get_table =
    R"doc(A table, from the database when needed, else from the cache.

With conn, the table is fetched and stored (see fetch_and_cache_table) when
refresh is True or its file is missing; a failed fetch is logged as a warning on
the "metastash" logger ("metadata cache refresh failed for <table>: <error>") and
the cached file is read instead. A cached file that cannot be used is replaced from
the database when one answers. Without conn, the cached file is read.

Args:
    table_name: the table key: "methods", "stations", "points", "items" or
        "stationitems".
    conn: a tremora.Connection, or None to read the cache alone.
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    refresh: when True, fetch the table even when a file exists. No effect
        without conn.
    namespace: the namespace; None or "" for that of conn (the root itself without
        conn).

Returns:
    pandas.DataFrame: the table, with upper-case column names.

Raises:
    KeyError: an unsupported table_name.
    FileNotFoundError: there is no file and none could be fetched (the message is
        its path; the fetch's error, when there was one, is its __cause__).
    OSError: the cached file cannot be used and the database cannot replace it
        (the message names the file, the database's failure and the command that
        refreshes the cache).
)doc";

inline constexpr const char* MetadataCache_get_timeseries_info =
    R"doc(The stations, points and items tables (get_table of each, in that order).

The namespace is settled once, for the three tables; the first failure ends the
call.

Args:
    conn: a tremora.Connection, or None to read the cache alone.
    cache_dir: root folder, a str or os.PathLike; None or "" for
        ~/.tremo/metastash.
    refresh: when True, fetch the three tables even when their files exist. No
        effect without conn.
    namespace: the namespace; None or "" for that of conn (the root itself without
        conn).

Returns:
    tuple: (stations, points, items), three pandas.DataFrame objects with
    upper-case column names.

Raises:
    FileNotFoundError, OSError: those of get_table.
)doc";

// ---------------------------------------------------------------------------
// tremora.cleaning

inline constexpr const char* split_lines = R"doc(Splits day rows into one row per sample.

Each row's OBSVALUE holds the samples of a run (a day) as one text, and STARTDATE
is the time of its first sample. Logs "Splitting data..." (debug) on the
"cleaning" logger.

Spacing of 3600 s or less: each OBSVALUE text is stripped of surrounding white
space and cut at every single space; part k is the sample at STARTDATE + k units,
the unit being a second for a spacing of 1, an hour for 3600 and a minute for any
other spacing (so 600 gives samples one minute apart). Two adjacent spaces make an
empty part, a missing sample; a missing OBSVALUE gives one row with NaT and NaN.
The result is a new DataFrame and df is not changed.

Spacing above 3600 s (daily data): df itself is sorted by STARTDATE, indexed by it
and its OBSVALUE converted, and returned.

In both cases STARTDATE becomes the index (a DatetimeIndex, its time zone kept;
the former index is dropped), the rows are sorted by it (stable, NaT last), and
OBSVALUE is float32: texts are read as decimal numbers, unreadable texts (such as
"NULL") and missing values become NaN. No row is removed, duplicate times
included.

Args:
    df: the day rows, a pandas.DataFrame with the columns STARTDATE (timestamps)
        and OBSVALUE (texts of the samples; for daily data texts or numbers);
        other columns are carried along (in the split case, after them comes
        OBSVALUE, and text columns become categorical).
    sample_by_seconds: the spacing of the samples within a row in seconds, an int
        or a float (1, 60, 3600 or 86400 for the database's rates).

Returns:
    pandas.DataFrame: a new DataFrame of one row per sample, or df itself for
    daily data.

Raises:
    TypeError: df is not a DataFrame; in the split case OBSVALUE does not hold
        texts or STARTDATE does not hold timestamps; for daily data OBSVALUE
        holds times or bytes.
    KeyError: df has no STARTDATE or OBSVALUE column.
    ValueError: the samples of a row would run past the last timestamp
        (2262-04-11); the message names the row.
)doc";

// ---------------------------------------------------------------------------
// tremora.postprocessing

inline constexpr const char* resample_timeseries_data =
    R"doc(Resamples every series into regular time bins with one aggregate per bin.

A series is the rows of one STATIONID, POINTID and ITEMID; rows missing one of
them are left out. The bins of a series are [edge, edge + freq), labelled by their
start, the edges counted from midnight of the series' first day; they run from the
bin of its first sample to that of its last, every bin included. Days are those of
STARTDATE's wall clock (an aware "2024-03-01 02:00+08:00" lies on 1 March) and the
labels keep its zone; bins of whole days follow the wall clock across clock
changes. df is not changed.

Args:
    df: the observation table, a pandas.DataFrame with the columns STARTDATE
        (timestamps or date texts), STATIONID, POINTID, ITEMID and OBSVALUE
        (numbers); other columns are not carried over. A fetch's DataFrame has
        STARTDATE as its index: pass df.reset_index().
    freq: the bin width: an optional whole count (at least 1) and a unit, "D"
        (day), "h" or "H" (hour), "min" or "T" (minute), "s" or "S" (second),
        e.g. "1D", "6h", "10min".
    agg_method: the aggregate of the values of a bin, missing values skipped:
        "mean", "sum", "median", "max" or "min" (case matters). An empty bin gives
        NaN, or 0 for "sum".

Returns:
    pandas.DataFrame: the columns STARTDATE (bin start), OBSVALUE (float64),
    STATIONID, POINTID and ITEMID, the series in ascending order of the three
    codes and each in time order, with a default RangeIndex.

Raises:
    ValueError: a column is missing ("缺少必要的列: " + its name, with the hint to
        pass df.reset_index() when STARTDATE is the index), no row belongs to a
        series, freq is not a width ("1W", "0h", ""), agg_method is another text
        ("不支持的聚合方法，请选择'mean', 'sum', 'median', 'max', 'min'之一"), or a
        STARTDATE text is no date.
    TypeError: df is not a DataFrame, or STARTDATE holds neither timestamps nor
        texts.
)doc";

inline constexpr const char* first_difference = R"doc(The first difference of a value column within each series.

value(k) - value(k - periods) of the k-th row of a series, walking the series in
index order (with sort) or in row order; NaN for the first periods rows of a
series and where either value is missing. Text values are read as numbers
(unreadable ones are missing). The rows come back in the input's order.

Args:
    df: the table, a pandas.DataFrame; its index orders the rows of a series
        (usually the STARTDATE index of a fetch). It is not changed.
    value_col: the column to difference.
    group_cols: the columns whose values tell the series apart, a list of
        names; a missing value counts as a value of its own. None for those of
        STATIONID, POINTID and ITEMID that df has; [] makes the whole table one
        series.
    periods: the lag in rows, at least 1.
    keep_first: when True, keep the rows without a difference (NaN); when False,
        return only the rows that have one.
    sort: when True, walk each series in index order (stable, missing times
        last); False keeps the row order.
    copy: True to leave df as it is; False to replace df's value_col by the
        differences (all rows, also when keep_first drops some from the result).

Returns:
    pandas.DataFrame: df's columns and index with value_col replaced by the
    differences (float64).

Raises:
    KeyError: value_col is not a column ("no value column 'X'"), or group_cols
        names missing columns ("Missing group columns: ['X', 'Y']").
    ValueError: periods is below 1 ("periods must be a positive integer").
    TypeError: df is not a DataFrame.
)doc";

inline constexpr const char* fast_mad = R"doc(The scaled median absolute deviation of values.

1.4826 * median(|x - median(x)|), medians of an even count being the mean of the
two middle values; e.g. 1.4826 for [1, 2, 3, 4, 100].

Args:
    x: the values, a sequence of numbers (list, numpy array, pandas.Series),
        read as float64.

Returns:
    float: the scaled MAD; NaN when x is empty or holds a NaN.

Raises:
    TypeError: x cannot be read as an array of numbers.
)doc";

inline constexpr const char* filter_with_fast_mad =
    R"doc(Replaces spikes by the moving median (the MAD rule).

The window of a sample holds window_size samples: (w - 1) // 2 after it and the
rest before it (7 and 7 for 15). A sample is an outlier when it lies further than
threshold_factor * MAD from its window's median (strictly) and is then replaced by
that median. A window that reaches past the data or holds a NaN gives no median;
the medians and MADs are then filled forward, then backward, so the first and
last samples are judged against the nearest complete window. Missing samples stay
missing; a series without any complete window comes back unchanged. The input is
not changed.

Args:
    df: the values: a pandas.DataFrame, whose OBSVALUE is filtered (series by
        series, by its STATIONID, POINTID and ITEMID columns, each in index
        order, when it holds several; else in row order); a pandas.Series (index
        and name kept); or a list or numpy array (filtered in order).
    window_size: samples per window, at least 1.
    threshold_factor: how many MADs from the median a sample may lie, a finite
        number.

Returns:
    pandas.DataFrame or pandas.Series: for a DataFrame a copy with OBSVALUE
    filtered, rows in their order; else a Series, with a Series's index and name
    (a list or array gives one indexed by position; unnamed values are named
    "data"). float32 values stay float32, others become float64.

Raises:
    KeyError: a DataFrame without an OBSVALUE column.
    ValueError: window_size is below 1 or threshold_factor is not finite.
    TypeError: values a table cannot hold.
)doc";

inline constexpr const char* create_normalized_dates =
    R"doc(Adds the column datetime_norm: each row's day in one reference year.

datetime_norm is each index time's calendar day (of its own wall clock, the zone
kept) in reference_year at 00:00; 29 February becomes 28 February when
reference_year has none. An index of date texts is converted to a DatetimeIndex
in df first. df is changed in place; when its index is neither times nor date
texts (a default RangeIndex, numbers, texts that are no dates), it is returned
unchanged.

Args:
    df: a pandas.DataFrame indexed by times (a DatetimeIndex, naive or aware) or
        by date texts.
    reference_year: the year of the normalized dates, 1678 to 2261.

Returns:
    pandas.DataFrame: df itself.

Raises:
    TypeError: df is not a DataFrame.
    ValueError: reference_year lies outside 1678 to 2261.
)doc";

// ---------------------------------------------------------------------------
// tremora.export

inline constexpr const char* to_vuzo = R"doc(Packs an observation table and its context as a VUZO table.

A VUZO file is a Parquet file of the rows with their description in its
key-value metadata; the VUZO table carries the description in its attrs (see
tremora.fetching.DataFetcher.export_vuzo, which writes the file). The rows: df's
index (unless a default RangeIndex) becomes a column, STARTDATE goes first,
OBSVALUE becomes float32 and the codes STATIONID, POINTID and ITEMID texts; the
other columns stay as they were. df is not changed.

Args:
    df: the observation table, a pandas.DataFrame with STARTDATE (its index or a
        column) of timestamps and OBSVALUE of numbers (split day rows first).
    metadata: the context, a dict with "station_info" (the station records: a
        list of dicts, one per row of the stations table, or a DataFrame of
        those rows), "item_info" (the same from the items table), "sampling_rate"
        (the seconds between samples, an int or a whole float such as 60.0) and
        optionally "export_time" (a str such as "2024-05-10T08:30:00.123456";
        the local time now when left out).

Returns:
    pandas.DataFrame: the VUZO table. Its attrs hold df's own and the five
    entries as JSON texts: "vuzo.version" ("1"), "station_info" and "item_info"
    (arrays of records, one object per row), "sampling_rate" and "export_time".

Raises:
    KeyError: metadata lacks "station_info", "item_info" or "sampling_rate", or
        df lacks STARTDATE or OBSVALUE.
    TypeError: df is not a DataFrame, the records are neither a list nor a
        DataFrame, sampling_rate is not a whole number of seconds, export_time
        is not a str, STARTDATE does not hold timestamps, or OBSVALUE does not
        hold numbers.
)doc";

inline constexpr const char* read_vuzo = R"doc(Reads a VUZO file and its context.

Args:
    path: the file, a str or os.PathLike.

Returns:
    tuple: (table, context): the table as to_vuzo made it (attrs included), a
    pandas.DataFrame; and a dict with "station_info" and "item_info"
    (lists of records, one dict per row), "sampling_rate" (int, seconds)
    and "export_time" (str).

Raises:
    TypeError: path is not a str.
    FileNotFoundError: the file does not exist.
    OSError: the file is not a readable Parquet file or not a VUZO file (no or an
        unknown "vuzo.version", or a malformed entry; the message names the file).
)doc";

}  // namespace tremora::python::doc
