// Data access: the vocabulary of database types and sampling rates, and the
// connection configuration file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tremora/db.hpp"
#include "tremora/ini.hpp"
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

}  // namespace tremora::fetching
