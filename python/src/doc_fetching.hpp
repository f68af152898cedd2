// The Python docstrings of tremora.fetching.
#pragma once

namespace tremora::python::doc {

// ---------------------------------------------------------------------------
// The vocabulary

inline constexpr const char* DatabaseType = R"doc(The three kinds of precursor database, by their Chinese names.

A holder of text constants, never instantiated: RAW = "原始库" (the raw
database, table-name code "DYS"), PREPROCESSED = "预处理库" (preprocessed, "DYU")
and PRODUCT = "产品库" (product, "CP"). Every function that takes a database type
takes the text itself (the base_type argument of the fetches); any other text is
simply not recognised.
)doc";

inline constexpr const char* DatabaseType_RAW = R"doc("原始库", the raw database (table-name code "DYS").
)doc";

inline constexpr const char* DatabaseType_PREPROCESSED =
    R"doc("预处理库", the preprocessed database (table-name code "DYU").
)doc";

inline constexpr const char* DatabaseType_PRODUCT =
    R"doc("产品库", the product database (table-name code "CP").
)doc";

inline constexpr const char* DatabaseType_get_id = R"doc(The table-name code of a database type.

Args:
    db_type: a database type text: "原始库", "预处理库" or "产品库" (exact match).

Returns:
    str or None: "DYS", "DYU" or "CP"; None for any other text (the constant
    names such as "RAW" included) and for None.
)doc";

inline constexpr const char* SampleRateConfig =
    R"doc(The record of a sampling rate, as SampleRateType.get_config gives it.

Read its fields as attributes (config.rate) or by key (config["rate"]; KeyError
for other keys). Two records are equal when all three fields are.
)doc";

inline constexpr const char* SampleRateConfig_id =
    R"doc(The two-character sampling-rate code: "02", "01", "60" or "90" (read-only).
)doc";

inline constexpr const char* SampleRateConfig_rate =
    R"doc(The seconds between samples: 1, 60, 3600 or 86400 (read-only).
)doc";

inline constexpr const char* SampleRateConfig_null_count =
    R"doc(The samples a day holds, 86400 // rate: 86400, 1440, 24 or 1 (read-only).
)doc";

inline constexpr const char* SampleRateType = R"doc(The four sampling rates, by their Chinese names.

A holder of text constants, never instantiated: SECOND = "秒钟值" (one sample a
second, code "02"), MINUTE = "分钟值" (a minute, "01"), HOUR = "小时值" (an hour,
"60") and DAY = "日均值" (one value a day, "90"). Every function that takes a
sampling rate takes the name or its alias ("秒值", "分值", "整点值", "日值"; the
data_type argument of the fetches).
)doc";

inline constexpr const char* SampleRateType_SECOND =
    R"doc("秒钟值", one sample a second (code "02"; alias "秒值").
)doc";

inline constexpr const char* SampleRateType_MINUTE =
    R"doc("分钟值", one sample a minute (code "01"; alias "分值").
)doc";

inline constexpr const char* SampleRateType_HOUR =
    R"doc("小时值", one sample an hour (code "60"; alias "整点值").
)doc";

inline constexpr const char* SampleRateType_DAY = R"doc("日均值", one value a day (code "90"; alias "日值").
)doc";

inline constexpr const char* SampleRateType_get_config = R"doc(The record of a sampling-rate name or alias.

Args:
    rate_type: a rate name or its alias: "秒钟值"/"秒值", "分钟值"/"分值",
        "小时值"/"整点值" or "日均值"/"日值".

Returns:
    SampleRateConfig or None: {"02", 1, 86400} for seconds, {"01", 60, 1440} for
    minutes, {"60", 3600, 24} for hours, {"90", 86400, 1} for days (id, rate,
    null_count); None for any other text (the constant names such as "DAY"
    included) and for None.
)doc";

inline constexpr const char* SampleRateType_get_rate_by_id = R"doc(The seconds between samples of a sampling-rate code.

No padding is applied: "1" is not "01".

Args:
    rate_id: the code as a str or an int (60 is read as "60").

Returns:
    int or None: 1 for "02", 60 for "01", 3600 for "60", 86400 for "90"; None for
    any other text and for values of other kinds (floats, bools, None).
)doc";

// ---------------------------------------------------------------------------
// The classes

inline constexpr const char* DatabaseConnector = R"doc(数据库连接管理类.

Opens connections to the precursor database named by an alias (a section) of the
configuration file default.conf, which is read from the working directory and then
from ~/.tremo/default.conf (the home folder's entries replace those of the same
section and key). Its operations are static; it is never instantiated.
)doc";

inline constexpr const char* DatabaseConnector_connect_to_oracle =
    R"doc(Opens a connection for a section of default.conf.

The section's DRIVER is "oracle" (the default; keys HOST, PORT, USERNAME, PASSWORD
and TNSNAME, optionally ORACLE_CLIENT_LIB_DIR and ORACLE_CONFIG_DIR, the folders of
the Oracle client library and of its network files) or "sqlite" (keys HOST, which
names the cache namespace, and DATABASE, the file, relative to the folder of the
configuration file that names it). For Oracle the client library is loaded first,
once per process (see _init_oracle_thick_mode). The connection carries the labels
tremora_cache_namespace = HOST and tremora_db_alias = db (see Connection.info).

Problems other than an unreadable configuration file are logged on the "fetching"
logger, not raised, and give None: "数据库配置文件缺失或不完整，请检查default.conf"
when there is no section db (with a warning listing the sections there are);
"数据库连接错误: " + the reason for a missing key, an unknown driver, a client
library that cannot be loaded or a failed log-on. Passwords never appear in
messages.

Args:
    db: the alias, the section name in default.conf (case-sensitive).

Returns:
    tremora.Connection or None: the open connection, or None when it cannot be
    opened.

Raises:
    ValueError: a configuration file that does not parse as INI (the message
        names the file and line).
)doc";

inline constexpr const char* DatabaseConnector_init_oracle_thick_mode =
    R"doc(Loads the Oracle client library ("thick mode") once per process.

Called by connect_to_oracle for an Oracle section. The library (libclntsh.so) is
loaded from ORACLE_CLIENT_LIB_DIR, or from the system library path when that is
empty or missing, and ORACLE_CONFIG_DIR, when not empty, becomes the folder of the
network configuration files (TNS_ADMIN); both values are trimmed of blanks. Once it
has succeeded, later calls return at once, whatever section they name; a failed
attempt leaves nothing set, so the next call tries again. Logs "python-oracledb
Thick mode initialized." (debug) on the "fetching" logger.

Args:
    config: the parsed configuration: a configparser.ConfigParser, or a mapping
        of section names to mappings of keys (config[db].get(key) must work).
    db: the section whose ORACLE_CLIENT_LIB_DIR and ORACLE_CONFIG_DIR are used.

Raises:
    KeyError: config has no section db.
    ImportError: the client library cannot be loaded (the message names the
        folders searched).
    RuntimeError: the client environment cannot be created.
)doc";

inline constexpr const char* MetadataFetcher = R"doc(元数据获取类.

The name look-ups that precede every fetch: method codes of a method name or
discipline, station codes of a station name, item codes of item names, the
observation tables of methods, and the stations, points and items tables. Each
name look-up asks the database's dictionary tables first and, when that fails for
any reason (no connection, a closed one, a database error), answers from the
metadata cache (see tremora.metastash.MetadataCache). Result columns are lower
case (methodid, stationid, itemid, table_name). A name holding a NUL character is
a ValueError. Its operations are static; it is never instantiated.
)doc";

inline constexpr const char* MetadataFetcher_normalize_dataframe_columns =
    R"doc(Upper-cases the column names, and the index name, of DataFrames in place.

Args:
    dataframes: a list of pandas.DataFrame objects; each gets upper-case column
        names, and an upper-case index name when its index has a non-empty name.

Raises:
    TypeError, AttributeError: dataframes is not a list, or an element is not a
        DataFrame.
    ValueError: two column names of one DataFrame are, or become, the same.
)doc";

inline constexpr const char* MetadataFetcher_get_timeseries_info =
    R"doc(The stations, points and items tables, from the metadata cache.

A table missing from the cache, or every table with refresh_cache, is fetched
through conn and stored first; a failed fetch is logged on the "metastash" logger
and the cached copy is read instead.

Args:
    conn: a tremora.Connection whose database fills missing tables (its labels
        choose the cache's sub-folder), or None to read the cache alone, from the
        cache folder itself.
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.
    refresh_cache: when True, fetch the three tables from conn into the cache
        first. No effect without conn.

Returns:
    tuple: (stations, points, items), three pandas.DataFrame objects with
    upper-case columns: STATIONID, STATIONNAME, LONGITUDE, LATITUDE; STATIONID,
    POINTID, POINTNAME; ITEMID, ITEMNAME, UNIT.

Raises:
    RuntimeError: a table is neither cached nor fetched, with the message
        "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " + the cache
        folder and the FileNotFoundError naming the file as its __cause__.
    OSError: a cached file cannot be read or holds another table (and the
        database cannot replace it).
)doc";

inline constexpr const char* MetadataFetcher_get_method_ids =
    R"doc(The method codes of a discipline, of all station items, or of a method name.

A discipline ("形变", "电磁" or "流体") gives the first three characters of the
station-item codes starting with "2", "3" or "4"; "全部" gives those of all station
items; any other text gives the METHODID of the methods whose name contains it
(from the database as it gives them, repeated codes and 417 included). The
metadata cache answers the same from its stationitems and methods tables. The
discipline and "全部" look-ups, and every answer of the cache, drop repeated codes
(the first is kept), method "417" and missing codes.

Args:
    conn: a tremora.Connection, or None to answer from the metadata cache (the
        cache folder itself, without a connection's sub-folder).
    method_name: a discipline, "全部" (the default) for all, or a part of a
        method name, e.g. "水位".
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.

Returns:
    pandas.DataFrame: one column methodid of three-character method codes.

Raises:
    ValueError: method_name holds a NUL character.
    FileNotFoundError: the database cannot answer and the metadata cache lacks a
        table it needs.
    OSError: a cached table cannot be read.
)doc";

inline constexpr const char* MetadataFetcher_get_station_ids =
    R"doc(The codes of the stations whose name contains a text.

Args:
    conn: a tremora.Connection, or None to answer from the metadata cache (the
        cache folder itself, without a connection's sub-folder).
    station_name: a part of a station name, e.g. "郯城"; "全部" (the default)
        returns None, also without a connection.
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.

Returns:
    pandas.DataFrame or None: one column stationid (codes as the database or the
    cache holds them; no rows when no name matches), or None for "全部".

Raises:
    ValueError: station_name holds a NUL character.
    FileNotFoundError: the database cannot answer and the metadata cache has no
        stations table.
    OSError: the cached stations table cannot be read.
)doc";

inline constexpr const char* MetadataFetcher_get_item_ids = R"doc(The codes of the items of one or more item names.

One name selects the items whose name contains it; a list selects those whose name
equals one of its names exactly.

Args:
    conn: a tremora.Connection, or None to answer from the metadata cache (the
        cache folder itself, without a connection's sub-folder).
    item_name: a part of an item name (str), a list of whole item names, e.g.
        ["水位", "直流单装置地电阻率"], or "全部" (the default), which returns None,
        also without a connection.
    cache_dir: root folder of the metadata cache, a str or os.PathLike; None or ""
        for ~/.tremo/metastash.

Returns:
    pandas.DataFrame or None: one column itemid (codes as the database or the
    cache holds them; no rows when no name matches), or None for "全部".

Raises:
    ValueError: a name holds a NUL character.
    FileNotFoundError: the database cannot answer and the metadata cache has no
        items table.
    OSError: the cached items table cannot be read.
)doc";

inline constexpr const char* MetadataFetcher_get_table_names =
    R"doc(The observation tables of methods for a database type and sampling rate.

Looks in ALL_TABLES, once per method code, for the names that contain the
database-type code, the sampling-rate code and the method code (and, for the
product database, "AVG" or "INS"). Names containing "_DEV_" (development tables)
are left out, and so are names of characters other than letters, digits, "_", "$"
and "#" (with a warning). A table that matches two method codes is listed twice.
There is no fallback to the metadata cache.

Args:
    conn: an open tremora.Connection.
    method_ids: the method codes, a pandas.DataFrame with a column methodid, as
        get_method_ids returns it.
    base_type_id: a table-name code: "DYS", "DYU" or "CP" (see DatabaseType.get_id).
    sample_rate_id: a sampling-rate code: "02", "01", "60" or "90".

Returns:
    pandas.DataFrame or None: one column table_name, or None when method_ids has
    no rows.

Raises:
    RuntimeError: conn is None or closed, or the database reports an error.
    KeyError: method_ids has no column methodid.
)doc";

inline constexpr const char* QueryBuilder = R"doc(SQL查询构建类.

Builds the SQL text that reads the matching rows of all listed tables at once.
Pure text building: the database is not touched. Its operations are static; it is
never instantiated.
)doc";

inline constexpr const char* QueryBuilder_build_data_query =
    R"doc(The SQL text of the observation rows of tables over a range of days.

Each table gives "SELECT * FROM QZDATA."<table>" WHERE STARTDATE >=
TO_DATE('<start>', 'yyyymmdd') AND STARTDATE < TO_DATE('<end>', 'yyyymmdd')+1" (on
three lines, so the whole end day is included) followed by the station condition
" AND (STATIONID=37001 OR ...)" (codes of digits only as numbers, others quoted),
the item condition " AND (ITEMID='3211' OR ...)" and the point condition
" AND (POINTID='2')"; the tables' texts are joined by " UNION ALL ". When no query
can be built, the reason is logged as an error on the "fetching" logger and None
is returned: "没有找到匹配的表名!" (table_names has no rows), "没有找到匹配的台站!"
(station_ids holds no code) or "没有找到匹配的测项!" (item_ids holds no code).

Args:
    table_names: the tables, a pandas.DataFrame with a column table_name, as
        MetadataFetcher.get_table_names returns it.
    start_date: first day: a date text ("20240301", "2024-03-01", "2024/03/01",
        "2024-03-01 18:00"; an offset such as "+08:00" is ignored) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64
        (an aware one by its own wall clock). The time of day is dropped.
    end_date: last day (included), in the forms of start_date.
    station_ids: the station codes, a pandas.DataFrame with a column stationid,
        as MetadataFetcher.get_station_ids returns it; None for all stations.
    item_ids: the item codes, a pandas.DataFrame with a column itemid, as
        MetadataFetcher.get_item_ids returns it; None for all items.
    point_id: the point code, a str or an int (2 for "2"); "" or None for all
        points.

Returns:
    str or None: the SQL text, or None when no query can be built.

Raises:
    ValueError: a date text that is no date.
    KeyError: table_names, station_ids or item_ids lacks its column.
)doc";

inline constexpr const char* QueryBuilder_build_dialog_query =
    R"doc(The SQL text of the log (dialog) rows of tables over a range of days.

As build_data_query, with a fourth line "AND EVTID IN (:evt_id)" in each table's
text and no point condition; the caller binds log_type to :evt_id. The same
reasons give None, logged as errors on the "fetching" logger.

Args:
    table_names: the log tables, a pandas.DataFrame with a column table_name.
    start_date: first day: a date text ("20240301", "2024-03-01 18:00", ...) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64
        (an aware one by its own wall clock). The time of day is dropped.
    end_date: last day (included), in the forms of start_date.
    log_type: the event-type code of the entries; it does not enter the text.
    station_ids: the station codes, a pandas.DataFrame with a column stationid;
        None for all stations.
    item_ids: the item codes, a pandas.DataFrame with a column itemid; None for
        all items.

Returns:
    str or None: the SQL text, or None when no query can be built.

Raises:
    ValueError: a date text that is no date.
    KeyError: table_names, station_ids or item_ids lacks its column.
)doc";

inline constexpr const char* DataFetcher = R"doc(数据获取类.

The data and log fetches and the VUZO export. A request in the analysts' own words
(dates, method, station and item names, sampling-rate and database-type names) is
resolved to codes through MetadataFetcher, the tables are found, and one SQL text
reads them. A request that cannot be resolved gives None with a warning that says
which argument matched nothing. Its operations are static; it is never
instantiated.
)doc";

inline constexpr const char* DataFetcher_fetch_data = R"doc(Fetches the observation table of a request.

The method, station and item names are looked up (falling back to the metadata
cache, see MetadataFetcher), the tables of the methods for base_type and data_type
are found, and the day rows of the date range are read with one query. The codes
STATIONID, POINTID and ITEMID become texts and the rows are sorted by ITEMID,
STATIONID, POINTID and STARTDATE. The sampling rate is that of the first row's
SAMPLERATE code when the table has one (an unknown code is warned of and the
requested rate used), else the requested one. Compressed values are inflated
(gzip_flag), a "NULLALL" day becomes one "NULL" per sample of the day, and with
my_split_lines the day rows are split into one row per sample
(tremora.cleaning.split_lines). Progress and problems are logged on the "fetching"
logger.

When the request cannot be resolved, the fixed messages are logged ("未选择数据类型!",
"未选择数据库类型!", "未找到匹配的表名!", "没有找到匹配的台站!", "未生成SQL查询!", ...),
then a warning "fetch_data: " + the reason, such as "station_name '无此台' matches
no station", and None is returned.

Args:
    conn: an open tremora.Connection. Without one (None, or a closed connection)
        the name look-ups answer from the metadata cache, but finding the tables
        needs the database (RuntimeError).
    start_date: first day: a date text ("20240301", "2024-03-01", "2024/03/01",
        "2024-03-01 18:00"; an offset such as "+08:00" is ignored) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64
        (an aware one by its own wall clock). The time of day is dropped.
    end_date: last day (included), in the forms of start_date.
    method_name: a discipline ("形变", "电磁", "流体"), "全部" for all methods, or a
        part of a method name, e.g. "水位".
    station_name: a part of a station name, e.g. "郯城", or "全部" for all
        stations.
    data_type: the sampling rate: "秒钟值", "分钟值", "小时值", "日均值" or an alias
        ("秒值", "分值", "整点值", "日值").
    base_type: the database type: "原始库", "预处理库" or "产品库".
    item_name: a part of an item name, a list of whole item names, or "全部" (the
        default) for all items.
    gzip_flag: when True, OBSVALUE holds gzip-compressed texts (second and minute
        tables) and is inflated; it has effect only at rates of 60 s or less.
    my_split_lines: when True, one row per sample; False returns the day rows.
    point_id: the point code, a str or an int (2 for "2"); "" or None for all
        points.

Returns:
    pandas.DataFrame or None: with my_split_lines, one row per sample indexed by
    STARTDATE (a DatetimeIndex of the sample times), sorted by time (rows of one
    time in the order above), with the tables' other columns in upper case
    (STATIONID, POINTID and ITEMID as categorical texts, SAMPLERATE where the
    tables have it) and OBSVALUE last (float32, NaN for missing or unreadable
    samples); without it, the day rows in the order above with STARTDATE as a
    column. A query that finds no rows gives an empty DataFrame of the query's
    columns; a request that cannot be resolved gives None.

Raises:
    RuntimeError: conn is None or closed (the tables cannot be looked up), or the
        database reports an error.
    FileNotFoundError: a name look-up falls back to the metadata cache and it
        lacks the table; without an open connection the message says so first
        (the FileNotFoundError naming the file is its __cause__).
    ValueError: a date text that is no date, or a name holding a NUL character.
    TypeError: OBSVALUE holds compressed bytes and gzip_flag is False (with
        my_split_lines).
    OSError: a compressed value that is corrupt, is not UTF-8 text or inflates
        past the bound of its rate (the message names its station, item and day),
        or a cached table that cannot be read.
)doc";

inline constexpr const char* DataFetcher_fetch_dialog = R"doc(Fetches the log (dialog) entries of a request.

The method, station and item names are looked up as fetch_data does; the log
tables are those whose name contains "DLG" and a method code (without "_DEV_"
tables), and their rows of the date range with EVTID = log_type are read with one
query. The rows are returned as the database gives them: no conversion, sorting or
splitting. When no log table is found ("未找到匹配的表名!") or no station or item
matches, the messages are logged on the "fetching" logger, then a warning
"fetch_dialog: " + the reason, and None is returned.

Args:
    conn: an open tremora.Connection (None, or a closed connection, gets as far as
        the name look-ups in the metadata cache).
    start_date: first day: a date text ("20240301", "2024-03-01 18:00", ...) or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64
        (an aware one by its own wall clock). The time of day is dropped.
    end_date: last day (included), in the forms of start_date.
    method_name: a discipline, a part of a method name, or "全部" (the default)
        for all methods.
    station_name: a part of a station name, or "全部" (the default) for all
        stations.
    item_name: a part of an item name, or "全部" (the default) for all items.
    log_type: the event-type code (EVTID) of the entries.

Returns:
    pandas.DataFrame or None: the log rows with lower-case column names and a
    default RangeIndex, or None when the request cannot be resolved.

Raises:
    RuntimeError: conn is None or closed (the log tables cannot be looked up), or
        the database reports an error.
    FileNotFoundError: a name look-up falls back to the metadata cache and it
        lacks the table.
    ValueError: a date text that is no date, or a name holding a NUL character.
    OSError: a cached table cannot be read.
)doc";

inline constexpr const char* DataFetcher_to_vuzo = R"doc(The VUZO table of an observation table.

The station and item records are the rows of the stations and items tables (from
MetadataFetcher.get_timeseries_info(conn), default cache folder) whose STATIONID
(ITEMID) equals one of df's codes, each row once and in the table's order; with
sampling_rate and the local time of the call they form the context that
tremora.export.to_vuzo packs with the rows.

Args:
    conn: the tremora.Connection whose metadata cache (and database, for missing
        tables) gives the records, or None to read the cache folder itself.
    df: the observation table, a pandas.DataFrame as fetch_data returns it (its
        STARTDATE index, or column, of timestamps, OBSVALUE of numbers, STATIONID
        and ITEMID), or None.
    sampling_rate: the seconds between samples, an int or a float of a whole
        value (60.0), stored as given.

Returns:
    pandas.DataFrame or None: the VUZO table (see tremora.export.to_vuzo), or None
    when df is None or has no rows.

Raises:
    KeyError: df lacks STATIONID, ITEMID, STARTDATE or OBSVALUE.
    TypeError: STARTDATE does not hold timestamps, or OBSVALUE does not hold
        numbers (split day rows first).
    RuntimeError: the metadata cache lacks a table, with the message
        "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " + the cache
        folder and the FileNotFoundError naming the file as its __cause__.
    OSError: a cached table cannot be read.
)doc";

inline constexpr const char* DataFetcher_export_vuzo = R"doc(一键导出函数: writes the VUZO file of an observation table.

The VUZO table of to_vuzo is written as a Parquet file (snappy), its context in
the file's key-value metadata, and "数据已自动关联元数据并导出至: " + the path is
logged (info) on the "fetching" logger. When there is no VUZO table (df None or
empty), "导出失败：无法生成 VUZO Table" is logged as an error and nothing is
written. An existing file is replaced atomically: a failed write leaves no partial
file and the previous file as it was.

Args:
    conn: the tremora.Connection whose metadata cache (and database, for missing
        tables) gives the station and item records, or None to read the cache
        folder itself.
    df: the observation table, a pandas.DataFrame as fetch_data returns it, or
        None.
    file_path: the file to write, a str or os.PathLike.
    sampling_rate: the seconds between samples, an int or a float of a whole
        value (60.0).

Raises:
    OSError: the file cannot be written (a missing or unwritable folder; the
        message names the path), or a cached table cannot be read.
    KeyError, TypeError, RuntimeError: those of to_vuzo.
)doc";

}  // namespace tremora::python::doc
