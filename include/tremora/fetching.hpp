// Data access: the vocabulary of database types and sampling rates, and the
// connection configuration file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace tremora::fetching
