// The metadata cache: local Parquet copies of the five dictionary tables of
// a precursor database, one folder per database, so that name look-ups keep
// working without the database.
//
// Layout: <root>/<namespace>/<table>.parquet, where the root is the given
// cache folder or ~/.tremo/metastash (made absolute), and the namespace is
// the safe form of the connection's tremora_cache_namespace (its host) or
// tremora_db_alias label. Texts that stand for "absent" are empty.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tremora/db.hpp"
#include "tremora/table.hpp"

namespace tremora::metastash {

/// A cached table: its file name and the SELECT that fills it.
struct TableSpec {
  std::string filename;
  std::string sql;
};

/// The stations, points and items tables, in that order.
struct TimeseriesInfo {
  Table stations;
  Table points;
  Table items;
};

/// 时间序列元数据的本地缓存仓库。
struct MetadataCache {
  /// The five tables, in the order a full refresh visits them: methods,
  /// stations, points, items, stationitems.
  static const std::vector<std::pair<std::string, TableSpec>>& TABLE_SPECS();

  /// ~/.tremo/metastash.
  static std::string default_cache_dir();

  /// The namespace with surrounding white space removed and every run of
  /// characters other than ASCII letters, digits, "_", "." and "-" replaced
  /// by one "_". A namespace is always one folder below the root: a result
  /// of "." or ".." becomes one "_" per dot ("_", "__"), and a blank
  /// namespace becomes "_" (before, these three named the root, its parent
  /// and the root). "" (absent) only for "". Every other name is kept as it
  /// was, so existing caches stay where they are.
  static std::string safe_namespace(const std::string& ns);

  /// The safe namespace of a connection: its tremora_cache_namespace label,
  /// else its tremora_db_alias label; "" without a connection or labels.
  static std::string infer_namespace(const db::Connection* conn);

  /// The cache folder: the absolute root (`cache_dir`, or the default when
  /// empty) joined with the safe namespace when there is one. Creates nothing.
  static std::string resolve_cache_dir(const std::string& cache_dir = "", const std::string& ns = "");

  /// The file of a table. KeyError "Unsupported metadata table: " + name.
  static std::string cache_path(const std::string& table_name, const std::string& cache_dir = "",
                                const std::string& ns = "");

  /// The cache folder, created with its parents.
  static std::string ensure_cache_dir(const std::string& cache_dir = "", const std::string& ns = "");

  /// A copy with upper-case column names (and row key name).
  static Table normalize_columns(const Table& df);

  /// Writes a table's file (Parquet, no row key; atomically, so a failed
  /// write leaves the previous copy intact) and returns its path.
  static std::string save_table(const std::string& table_name, const Table& df, const std::string& cache_dir = "",
                                const std::string& ns = "");

  /// Reads a table's file; FileNotFoundError whose message is the path when
  /// there is none, IOError naming the file when it cannot be read or lacks
  /// the code or name column of the table (the first two its query
  /// selects: it holds another table).
  static Table load_table(const std::string& table_name, const std::string& cache_dir = "", const std::string& ns = "");

  /// Runs the table's SELECT, stores the result and returns it. KeyError
  /// naming the key for an unknown table; database errors reach the caller.
  static Table fetch_and_cache_table(db::Connection& conn, const std::string& table_name,
                                     const std::string& cache_dir = "", const std::string& ns = "");

  /// Fetches and stores the listed tables (all five when `tables` is empty),
  /// stopping at the first failure.
  static std::map<std::string, Table> refresh_cache(db::Connection& conn, const std::string& cache_dir = "",
                                                    const std::vector<std::string>& tables = {},
                                                    const std::string& ns = "");

  /// A table, fetched when `refresh` is asked or its file is missing and a
  /// connection is given, else read from the cache. A failed fetch is logged
  /// on "metastash" ("metadata cache refresh failed for %s: %s") and the
  /// cached file is read instead; when that file is missing too, the
  /// FileNotFoundError (naming the file) has the fetch's error nested in it.
  /// A cached file that cannot be used (see load_table) is replaced from
  /// the database when one answers; otherwise the IOError names the file,
  /// the database's failure when there was one, and the command that
  /// refreshes the cache.
  static Table get_table(const std::string& table_name, db::Connection* conn = nullptr,
                         const std::string& cache_dir = "", bool refresh = false, const std::string& ns = "");

  /// get_table of stations, points and items.
  static TimeseriesInfo get_timeseries_info(db::Connection* conn = nullptr, const std::string& cache_dir = "",
                                            bool refresh = false, const std::string& ns = "");
};

}  // namespace tremora::metastash
