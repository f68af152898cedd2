#include <fmt/printf.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/metastash.hpp"
#include "tremora/parquet.hpp"
#include "tremora/text.hpp"

namespace tremora::metastash {
namespace fs = std::filesystem;
namespace {

const logger_config::Logger& log() {
  static const logger_config::Logger logger = logger_config::get_logger("metastash");
  return logger;
}

bool is_namespace_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.' || c == '-';
}

const TableSpec* find_entry(const std::string& key) {
  for (const auto& [k, entry] : MetadataCache::TABLE_SPECS())
    if (k == key) return &entry;
  return nullptr;
}

// The columns that tell a table's rows: the first two its query selects
// ("SELECT STATIONID, STATIONNAME, ..."), the codes and names every copy of
// it has; the others may be missing from copies made by hand.
std::vector<std::string> identifying_columns(const std::string& sql) {
  std::size_t from = sql.find(" FROM ");
  std::vector<std::string> names;
  for (std::string_view name : split(std::string_view(sql).substr(7, from - 7), ','))
    if (names.size() < 2) names.emplace_back(strip_whitespace(name));
  return names;
}

// What to do about a cache file that cannot be used, with the alias of the
// connection when there is one.
std::string refresh_advice(const db::Connection* conn) {
  std::string alias = "ALIAS";
  if (conn) {
    auto it = conn->info().find("tremora_db_alias");
    if (it != conn->info().end() && !it->second.empty()) alias = it->second;
  }
  return "refresh the cache when the database answers (tremora refresh-cache --db " + alias + ")";
}

// The cached copy of a table: an IOError naming the file when it cannot be
// read or holds another table (an identifying column missing).
Table read_cache_file(const std::string& path, const TableSpec& entry, const std::string& table_name) {
  Table t;
  try {
    t = MetadataCache::normalize_columns(parquet::read_table(path));
  } catch (const std::exception& e) {
    std::string cause = describe_exception(e);
    if (cause.starts_with(path + ": ")) cause.erase(0, path.size() + 2);  // the file is named once
    throw IOError("metadata cache file '" + path + "' cannot be read: " + cause);
  }
  for (const std::string& column : identifying_columns(entry.sql))
    if (!t.has_column(column))
      throw IOError("metadata cache file '" + path + "' holds no column '" + column +
                    "' (its columns: " + join(t.column_names(), ", ") + "), so it is not the " + table_name + " table");
  return t;
}

// The namespace argument when given, else the connection's.
std::string effective_namespace(const std::string& ns, const db::Connection* conn) {
  return ns.empty() ? MetadataCache::infer_namespace(conn) : ns;
}

}  // namespace

const std::vector<std::pair<std::string, TableSpec>>& MetadataCache::TABLE_SPECS() {
  static const std::vector<std::pair<std::string, TableSpec>> specs{
      {"methods", {"methods.parquet", "SELECT METHODID, METHODNAME FROM QZDATA.QZ_DICT_METHODS"}},
      {"stations",
       {"stations.parquet", "SELECT STATIONID, STATIONNAME, LONGITUDE, LATITUDE FROM QZDATA.QZ_DICT_STATIONS"}},
      {"points", {"points.parquet", "SELECT STATIONID, POINTID, POINTNAME FROM QZDATA.QZ_DICT_STATIONPOINTS"}},
      {"items", {"items.parquet", "SELECT ITEMID, ITEMNAME, UNIT FROM QZDATA.QZ_DICT_ITEMS"}},
      {"stationitems", {"stationitems.parquet", "SELECT STATIONID, ITEMID FROM QZDATA.QZ_DICT_STATIONITEMS"}},
  };
  return specs;
}

std::string MetadataCache::default_cache_dir() { return (home_directory() / ".tremo" / "metastash").string(); }

std::string MetadataCache::safe_namespace(const std::string& ns) {
  if (ns.empty()) return "";  // no namespace: the root itself
  std::string out;
  bool in_run = false;
  for (char c : strip_whitespace(ns)) {
    if (is_namespace_char(c)) {
      out += c;
      in_run = false;
    } else if (!in_run) {
      out += '_';
      in_run = true;
    }
  }
  // "" would be the root itself, "." the root and ".." its parent.
  if (out.empty() || out == "." || out == "..") return std::string(std::max<std::size_t>(out.size(), 1), '_');
  return out;
}

std::string MetadataCache::infer_namespace(const db::Connection* conn) {
  if (!conn) return "";
  for (const char* key : {"tremora_cache_namespace", "tremora_db_alias"}) {
    auto it = conn->info().find(key);
    if (it != conn->info().end() && !it->second.empty()) return safe_namespace(it->second);
  }
  return "";
}

std::string MetadataCache::resolve_cache_dir(const std::string& cache_dir, const std::string& ns) {
  fs::path root = fs::absolute(cache_dir.empty() ? fs::path(default_cache_dir()) : fs::path(cache_dir));
  std::string safe = safe_namespace(ns);
  return (safe.empty() ? root : root / safe).string();
}

std::string MetadataCache::cache_path(const std::string& table_name, const std::string& cache_dir,
                                      const std::string& ns) {
  const TableSpec* entry = find_entry(table_name);
  if (!entry) throw KeyError("Unsupported metadata table: " + table_name);
  return (fs::path(resolve_cache_dir(cache_dir, ns)) / entry->filename).string();
}

std::string MetadataCache::ensure_cache_dir(const std::string& cache_dir, const std::string& ns) {
  std::string dir = resolve_cache_dir(cache_dir, ns);
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) throw IOError("cannot create the cache folder '" + dir + "': " + ec.message());
  return dir;
}

Table MetadataCache::normalize_columns(const Table& df) {
  Table copy = df;
  upper_case_column_names(copy, true);
  return copy;
}

std::string MetadataCache::save_table(const std::string& table_name, const Table& df, const std::string& cache_dir,
                                      const std::string& ns) {
  ensure_cache_dir(cache_dir, ns);
  Table normalized = normalize_columns(df);
  std::string path = cache_path(table_name, cache_dir, ns);
  parquet::write_table(normalized, path);
  return path;
}

Table MetadataCache::load_table(const std::string& table_name, const std::string& cache_dir, const std::string& ns) {
  std::string path = cache_path(table_name, cache_dir, ns);
  std::error_code ec;
  if (!fs::exists(path, ec)) throw FileNotFoundError(path);
  return read_cache_file(path, *find_entry(table_name), table_name);
}

Table MetadataCache::fetch_and_cache_table(db::Connection& conn, const std::string& table_name,
                                           const std::string& cache_dir, const std::string& ns) {
  const TableSpec* entry = find_entry(table_name);
  if (!entry) throw KeyError(table_name);
  Table result = conn.query(entry->sql);
  save_table(table_name, result, cache_dir, effective_namespace(ns, &conn));
  return normalize_columns(result);
}

std::map<std::string, Table> MetadataCache::refresh_cache(db::Connection& conn, const std::string& cache_dir,
                                                          const std::vector<std::string>& tables,
                                                          const std::string& ns) {
  std::vector<std::string> keys = tables;
  if (keys.empty())
    for (const auto& [k, entry] : TABLE_SPECS()) keys.push_back(k);
  std::string settled = effective_namespace(ns, &conn);
  std::map<std::string, Table> out;
  for (const auto& key : keys) out[key] = fetch_and_cache_table(conn, key, cache_dir, settled);
  return out;
}

Table MetadataCache::get_table(const std::string& table_name, db::Connection* conn, const std::string& cache_dir,
                               bool refresh, const std::string& ns) {
  std::string settled = effective_namespace(ns, conn);
  std::exception_ptr refresh_failure;
  // The table from the database, written to the cache; nothing (with the
  // failure logged and kept) when the database does not answer.
  auto from_database = [&]() -> std::optional<Table> {
    try {
      return fetch_and_cache_table(*conn, table_name, cache_dir, settled);
    } catch (const std::exception& e) {
      log().warning(fmt::sprintf("metadata cache refresh failed for %s: %s", table_name, describe_exception(e)));
      refresh_failure = std::current_exception();
      return std::nullopt;
    }
  };
  std::error_code ec;
  if (conn && (refresh || !fs::exists(cache_path(table_name, cache_dir, settled), ec)))
    if (auto fresh = from_database()) return std::move(*fresh);
  try {
    return load_table(table_name, cache_dir, settled);
  } catch (const FileNotFoundError& missing) {
    if (!refresh_failure) throw;
    // The missing file carries the reason it could not be filled.
    try {
      std::rethrow_exception(refresh_failure);
    } catch (...) {
      std::throw_with_nested(FileNotFoundError(missing.what()));
    }
  } catch (const IOError& unusable) {
    // A defective copy is replaced from the database when it answers.
    if (conn && !refresh_failure) {
      log().warning(std::string(unusable.what()) + "; replacing it from the database");
      if (auto fresh = from_database()) return std::move(*fresh);
    }
    std::string text = unusable.what();
    if (refresh_failure) {
      try {
        std::rethrow_exception(refresh_failure);
      } catch (const std::exception& e) {
        text += "; the database look-up failed too: " + describe_exception(e);
      }
    }
    throw IOError(text + "; " + refresh_advice(conn));
  }
}

TimeseriesInfo MetadataCache::get_timeseries_info(db::Connection* conn, const std::string& cache_dir, bool refresh,
                                                  const std::string& ns) {
  std::string settled = effective_namespace(ns, conn);
  TimeseriesInfo info;
  info.stations = get_table("stations", conn, cache_dir, refresh, settled);
  info.points = get_table("points", conn, cache_dir, refresh, settled);
  info.items = get_table("items", conn, cache_dir, refresh, settled);
  return info;
}

}  // namespace tremora::metastash
