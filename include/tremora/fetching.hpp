// Data access, from a request in the analysts' own words to an observation
// table: the vocabulary of database types and sampling rates, the
// connection configuration file and the connector, the name look-ups
// against the dictionary tables (with the metadata cache as fallback), the
// SQL texts, the data and log fetches with the reason when they find
// nothing, the VUZO export and the compatibility functions scripts call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <utility>
#include <variant>
#include <vector>

#include "tremora/db.hpp"
#include "tremora/ini.hpp"
#include "tremora/metastash.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/table.hpp"

namespace tremora::fetching {

/// The three kinds of precursor database, by their Chinese names.
struct DatabaseType {
  static constexpr std::string_view RAW = "原始库";
  static constexpr std::string_view PREPROCESSED = "预处理库";
  static constexpr std::string_view PRODUCT = "产品库";

  /// The table-name code of a database type: "DYS" for 原始库, "DYU" for
  /// 预处理库, "CP" for 产品库; nothing for any other text (constant names
  /// such as "RAW" included).
  static std::optional<std::string> get_id(std::string_view db_type);
};

/// The sampling-rate record: the two-character code, the seconds between
/// samples and the samples per day (86400 / rate).
struct SampleRateConfig {
  std::string id;
  int64_t rate = 0;
  int64_t null_count = 0;

  friend bool operator==(const SampleRateConfig&, const SampleRateConfig&) = default;
};

/// The four sampling rates, by their Chinese names.
struct SampleRateType {
  static constexpr std::string_view SECOND = "秒钟值";
  static constexpr std::string_view MINUTE = "分钟值";
  static constexpr std::string_view HOUR = "小时值";
  static constexpr std::string_view DAY = "日均值";

  /// The record of a rate name or of its alias (秒值, 分值, 整点值, 日值):
  /// 秒钟值 {"02", 1, 86400}, 分钟值 {"01", 60, 1440}, 小时值 {"60", 3600, 24},
  /// 日均值 {"90", 86400, 1}; nothing for any other text.
  static std::optional<SampleRateConfig> get_config(std::string_view rate_type);

  /// The seconds between samples of a rate code given as text or as an
  /// integer (60 is read as "60"): "02" → 1, "01" → 60, "60" → 3600,
  /// "90" → 86400. No padding is applied ("1" gives nothing); any other
  /// value, floating-point numbers and nulls included, gives nothing.
  static std::optional<int64_t> get_rate_by_id(const Value& rate_id);
};

/// The name of the connection configuration file.
inline constexpr std::string_view kConfigFileName = "default.conf";

/// The two places of the configuration file, in the order they are read:
/// "default.conf" in the working directory, then ".tremo/default.conf" in
/// the home folder.
std::filesystem::path working_config_path();
std::filesystem::path home_config_path();

/// Reads both configuration files where they exist, the home folder's
/// second, so that its entries replace those of the same section and key.
/// Missing files are skipped; a file that does not parse is a ConfigError
/// naming the file and line.
IniConfig read_default_config();

/// Opens connections to the precursor database named by an alias of the
/// configuration file.
struct DatabaseConnector {
  /// Opens a connection for the section `db` of default.conf (read as
  /// read_default_config does). The section's DRIVER is "oracle" (the
  /// default; keys HOST, PORT, USERNAME, PASSWORD and TNSNAME, with the
  /// optional ORACLE_CLIENT_LIB_DIR and ORACLE_CONFIG_DIR) or "sqlite" (keys
  /// HOST, the cache namespace, and DATABASE, the file; a relative path is
  /// taken from the folder of the configuration file that names it).
  /// The connection carries the labels tremora_cache_namespace = HOST and
  /// tremora_db_alias = db. Problems are logged on fetching_logger and give
  /// an empty pointer: "数据库配置文件缺失或不完整，请检查default.conf" when
  /// there is no section `db`; "数据库连接错误: " + the error text for a
  /// missing key, an unknown driver, a client library that cannot be loaded
  /// or a failed connection. A configuration file that does not parse throws
  /// ConfigError. Passwords never appear in messages.
  static std::shared_ptr<db::Connection> connect_to_oracle(const std::string& db);

  /// Loads the Oracle client library once per process ("thick mode"), with
  /// the section's ORACLE_CLIENT_LIB_DIR and ORACLE_CONFIG_DIR (trimmed; left
  /// out when empty). Later calls return at once; a failed attempt leaves
  /// the process-wide flag unset, so the next call tries again. Throws
  /// ImportError when the library cannot be loaded.
  static void _init_oracle_thick_mode(const IniConfig& config, const std::string& db);
};

/// True once the Oracle client library has been initialised in this process.
bool oracle_thick_mode_ready();

/// DatabaseConnector::connect_to_oracle(db).
std::shared_ptr<db::Connection> conn_to_Oracle(const std::string& db);

/// The word that lifts a name filter.
inline constexpr std::string_view kAll = "全部";

/// One item name or a list of item names.
using ItemNames = std::variant<std::string, std::vector<std::string>>;

/// A date given as a text in the usual forms ("20240301", "2024-03-01
/// 18:00", see parse_date_text) or as a timestamp.
class DateArg {
 public:
  DateArg(const char* text) : value_(std::string(text)) {}
  DateArg(std::string text) : value_(std::move(text)) {}
  DateArg(Timestamp t) : value_(t) {}
  /// The wall-clock time; the parser's std::invalid_argument for a bad text.
  Timestamp timestamp() const;

 private:
  std::variant<std::string, Timestamp> value_;
};

/// Name look-ups against the dictionary tables, falling back to the
/// metadata cache when the database cannot answer. Result columns are
/// lower case (methodid, stationid, itemid, table_name). A method, station
/// or item name holding a NUL character is a std::invalid_argument naming
/// the argument (it would end the name inside the database's LIKE).
struct MetadataFetcher {
  /// The stations, points and items tables from the cache (fetched first
  /// when missing or when `refresh_cache` is set). std::runtime_error
  /// "未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " +
  /// folder, with the FileNotFoundError nested, when the cache is missing.
  static metastash::TimeseriesInfo get_timeseries_info(db::Connection* conn = nullptr,
                                                       const std::string& cache_dir = "", bool refresh_cache = false);

  /// Method codes of a discipline (形变, 电磁, 流体), of all station items
  /// (全部), or of the methods whose name contains `method_name`. The
  /// discipline and 全部 paths, and every cache path, drop duplicates and
  /// method 417.
  static Table get_method_ids(db::Connection* conn, const std::string& method_name = std::string(kAll),
                              const std::string& cache_dir = "");

  /// Codes of the stations whose name contains `station_name`; nothing for 全部.
  static std::optional<Table> get_station_ids(db::Connection* conn, const std::string& station_name = std::string(kAll),
                                              const std::string& cache_dir = "");

  /// Codes of the items whose name contains one name, or equals one of a
  /// list of names; nothing for 全部.
  static std::optional<Table> get_item_ids(db::Connection* conn, const ItemNames& item_name = std::string(kAll),
                                           const std::string& cache_dir = "");

  /// The observation tables of the methods for a database-type code and a
  /// sampling-rate code (product tables: AVG or INS), without "_DEV_"
  /// tables; nothing when there are no method codes. Database errors
  /// (DatabaseError without a connection) reach the caller.
  static std::optional<Table> get_table_names(db::Connection* conn, const Table& method_ids,
                                              const std::string& base_type_id, const std::string& sample_rate_id);

  /// Upper-cases the column names (and row key names) of each table.
  static void _normalize_dataframe_columns(const std::vector<Table*>& dataframes);
};

/// Builds the SQL texts of the data and log queries.
struct QueryBuilder {
  /// One SELECT per table joined by " UNION ALL ", with the day range
  /// [start, end + 1 day) and the station, item and point conditions;
  /// nothing, with the reason logged as an error, when there are no tables
  /// ("没有找到匹配的表名!") or when a station or item look-up was made and
  /// found no code ("没有找到匹配的台站!", "没有找到匹配的测项!"): no row
  /// could match, and an empty condition would be no SQL.
  /// Station codes of digits only are written as numbers, other codes and
  /// every item and point code as SQL string literals.
  static std::optional<std::string> build_data_query(const Table& table_names, const DateArg& start_date,
                                                     const DateArg& end_date,
                                                     const std::optional<Table>& station_ids = std::nullopt,
                                                     const std::optional<Table>& item_ids = std::nullopt,
                                                     const std::string& point_id = "");

  /// The same for log tables, with "AND EVTID IN (:evt_id)" and no point
  /// condition; `log_type` is bound to :evt_id by the caller.
  static std::optional<std::string> build_dialog_query(const Table& table_names, const DateArg& start_date,
                                                       const DateArg& end_date, const std::string& log_type,
                                                       const std::optional<Table>& station_ids = std::nullopt,
                                                       const std::optional<Table>& item_ids = std::nullopt);
};

/// The most bytes any compressed OBSVALUE may inflate to: 64 MiB.
inline constexpr std::size_t kMaxInflatedValueBytes = std::size_t{64} << 20;

/// Bytes of inflated text allowed per sample a day holds: far more than a
/// value and its blank take ("-123456.789012 " is 15).
inline constexpr std::size_t kMaxInflatedBytesPerSample = 32;

/// The most bytes one compressed OBSVALUE of a day row may inflate to at a
/// sampling interval of `interval_seconds`: the samples a day holds times
/// kMaxInflatedBytesPerSample (46,080 bytes for minutes, 2,764,800 for
/// seconds), never beyond kMaxInflatedValueBytes.
///
/// This bounds a fetch's memory by what it asks for: a compressed fetch of
/// R day rows holds at most R × that many bytes of text, and splits into
/// at most R × 16 × (86,400 / interval_seconds) samples (each sample takes
/// at least two bytes of text).
std::size_t max_inflated_value_bytes(int64_t interval_seconds);

/// Optional arguments of fetch_data.
struct FetchOptions {
  /// Item name(s); 全部 for all items.
  ItemNames item_name = std::string(kAll);
  /// OBSVALUE holds gzip-compressed values (second and minute rates). A
  /// value that is corrupt, is not UTF-8 text, or inflates past
  /// max_inflated_value_bytes of its rate is an IOError naming its station,
  /// item and day. A day row holding more samples than a day has is split
  /// as it is (its last samples fall on the next day) and logged as a
  /// warning naming it.
  bool gzip_flag = false;
  /// Split day rows into one row per sample.
  bool my_split_lines = true;
  /// Point code; empty for all points.
  std::string point_id = "";
};

/// Optional arguments of fetch_dialog.
struct DialogOptions {
  std::string method_name = std::string(kAll);
  std::string station_name = std::string(kAll);
  std::string item_name = std::string(kAll);
  /// Event-type code of the log entries.
  std::string log_type = qzdata::kDefaultLogType;
};

/// Why a request gave no table: what matched nothing, the argument at
/// fault and its value, with the fixed messages the fetch logged.
struct Unresolved {
  enum class Reason {
    UnknownRate,  ///< data_type is not a sampling rate (or alias)
    UnknownType,  ///< base_type is not a database type
    NoMethod,     ///< method_name matches no method or discipline
    NoTable,      ///< the methods have no table of the type and rate asked for
    NoLogTable,   ///< the methods have no log table
    NoStation,    ///< station_name matches no station
    NoItem,       ///< item_name matches no item
    NoQuery,      ///< no SQL text for another reason
  };
  Reason reason = Reason::NoQuery;
  /// The argument of DataFetcher::fetch_data or fetch_dialog at fault:
  /// "data_type", "base_type", "method_name" (NoMethod, NoTable,
  /// NoLogTable), "station_name" or "item_name"; empty for NoQuery.
  std::string argument;
  /// Its value as given; a list of item names joined by "', '".
  std::string value;
  /// The messages logged on fetching_logger for it, in order
  /// ("没有找到匹配的台站!", "未生成SQL查询!").
  std::vector<std::string> logged;

  /// The reason in words: "station_name '无此台' matches no station".
  std::string text() const;
};

/// What a fetch gives: its table, or why there is none. Exactly one of
/// the two is set.
struct FetchOutcome {
  std::optional<Table> table;
  std::optional<Unresolved> unresolved;
};

/// 数据获取类: the data and log fetches.
struct DataFetcher {
  /// The observation table of a request: one row per sample keyed by
  /// STARTDATE (or the day rows when my_split_lines is false), ordered by
  /// item, station, point and time; an empty table when the query finds no
  /// rows; nothing when a name cannot be resolved (logged on fetching_logger).
  static std::optional<Table> fetch_data(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                         const std::string& method_name, const std::string& station_name,
                                         const std::string& data_type, const std::string& base_type,
                                         const FetchOptions& options = {});

  /// fetch_data with the reason when it gives nothing: the same steps,
  /// the same messages logged, the same table.
  static FetchOutcome fetch_data_outcome(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                         const std::string& method_name, const std::string& station_name,
                                         const std::string& data_type, const std::string& base_type,
                                         const FetchOptions& options = {});

  /// The log entries of a request, with lower-case column names; nothing
  /// when there is no log table.
  static std::optional<Table> fetch_dialog(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                           const DialogOptions& options = {});

  /// fetch_dialog with the reason when it gives nothing.
  static FetchOutcome fetch_dialog_outcome(db::Connection* conn, const DateArg& start_date, const DateArg& end_date,
                                           const DialogOptions& options = {});

  /// The VUZO table of an observation table (exchange::to_vuzo): its rows
  /// with the records of the stations table and of the items table whose
  /// STATIONID (ITEMID) equals one of the table's codes, each matching
  /// dictionary row once and in the dictionary's order; the sampling rate
  /// in seconds as given; and the local time of the call. The dictionaries
  /// come from get_timeseries_info(conn), so the runtime error of a missing
  /// metadata cache reaches the caller. Nothing when `df` is absent or has
  /// no rows. KeyError when `df` has no STATIONID or ITEMID column.
  static std::optional<Table> to_vuzo(db::Connection* conn, const Table& df, int64_t sampling_rate);
  static std::optional<Table> to_vuzo(db::Connection* conn, const std::optional<Table>& df, int64_t sampling_rate);

  /// 一键导出函数: writes the VUZO table of `df` to `file_path` as a
  /// Parquet file (snappy) and logs "数据已自动关联元数据并导出至: " + the
  /// path (info). When there is no VUZO table (`df` absent or empty) it logs
  /// "导出失败：无法生成 VUZO Table" (error) and writes nothing. An existing
  /// file is replaced atomically: errors (a missing or unwritable folder is
  /// an IOError naming the path) reach the caller and leave no partial file
  /// and the previous file as it was.
  static void export_vuzo(db::Connection* conn, const Table& df, const std::filesystem::path& file_path,
                          int64_t sampling_rate);
  static void export_vuzo(db::Connection* conn, const std::optional<Table>& df, const std::filesystem::path& file_path,
                          int64_t sampling_rate);
};

/// MetadataFetcher::get_timeseries_info.
metastash::TimeseriesInfo timeseries_info(db::Connection* conn = nullptr, const std::string& cache_dir = "",
                                          bool refresh_cache = false);

/// MetadataCache::refresh_cache.
std::map<std::string, Table> refresh_metastash(db::Connection& conn, const std::string& cache_dir = "",
                                               const std::vector<std::string>& tables = {});

/// 获取数据的兼容接口: DataFetcher::fetch_data.
std::optional<Table> fetching_data(db::Connection* conn, const DateArg& startdate, const DateArg& enddate,
                                   const std::string& methodname, const std::string& stationname,
                                   const std::string& data_type, const std::string& base_type,
                                   const FetchOptions& options = {});

/// Optional arguments of fetching_dialog; the dates default to the time the
/// library was loaded minus one day, and that time.
struct FetchingDialogOptions {
  std::optional<DateArg> startdate = std::nullopt;
  std::optional<DateArg> enddate = std::nullopt;
  std::string methodname = std::string(kAll);
  std::string stationname = std::string(kAll);
  std::string itemname = std::string(kAll);
  std::string log_type = qzdata::kDefaultLogType;
};

/// 获取日志数据的兼容接口: DataFetcher::fetch_dialog.
std::optional<Table> fetching_dialog(db::Connection* conn, const FetchingDialogOptions& options = {});
/// fetching_dialog with the reason when it gives nothing.
FetchOutcome fetching_dialog_outcome(db::Connection* conn, const FetchingDialogOptions& options = {});

/// The first and last day fetching_dialog asks for: the given dates, or
/// the load time minus one day and the load time.
std::pair<DateArg, DateArg> fetching_dialog_dates(const FetchingDialogOptions& options);

/// The first and last day load_Oracle_data_daily asks for: the days
/// (yyyymmdd) of `period` days before now and of now, local time.
std::pair<DateArg, DateArg> daily_load_dates(double period);

/// The local time when the library was loaded (the default dates of fetching_dialog).
Timestamp load_time();

/// 加载每日Oracle数据: `item` (a method name) at all stations, from `period`
/// days before now to today, of the database type `is_preprocessed`.
std::optional<Table> load_Oracle_data_daily(db::Connection* conn, double period, const std::string& is_preprocessed,
                                            const std::string& item, const std::string& datatype,
                                            bool gzip_flag = false);
/// load_Oracle_data_daily with the reason when it gives nothing.
FetchOutcome load_Oracle_data_daily_outcome(db::Connection* conn, double period, const std::string& is_preprocessed,
                                            const std::string& item, const std::string& datatype,
                                            bool gzip_flag = false);

/// 加载年度电阻率数据: hourly preprocessed resistivity from `date_0` to today,
/// with values below 8 of station 370082, items 3211 and 3212, made missing.
/// std::runtime_error when the fetch returns nothing.
Table load_Oracle_data_resistivity_year(db::Connection* conn, const DateArg& date_0 = "20090101");

/// 加载年度水位数据: the daily preprocessed water level of 郯城 from 2009 to
/// today on a gap-free daily grid, gaps filled from the following day.
/// std::runtime_error when the fetch returns nothing or no rows.
Table load_Oracle_data_water_year(db::Connection* conn);

}  // namespace tremora::fetching
