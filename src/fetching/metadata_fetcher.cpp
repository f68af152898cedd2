#include "table_lookup.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using metastash::MetadataCache;

// The first character of the item codes of a discipline, or 0.
char discipline_of(const std::string& name) {
  if (name == "形变") return '2';
  if (name == "电磁") return '3';
  if (name == "流体") return '4';
  return 0;
}

// A NUL character would end the name inside the database's LIKE (so that
// "\0" matched every station): no name holds one.
void refuse_nul(std::string_view name, const char* argument) {
  if (name.find('\0') != std::string_view::npos)
    throw std::invalid_argument(std::string(argument) + " holds a NUL character, which no name has");
}

db::Connection& require(db::Connection* conn) {
  if (!conn) throw DatabaseError("no database connection");
  return *conn;
}

Table lower(Table t) {
  lower_case_column_names(t, true);
  return t;
}

// A one-column table of the first three characters of item codes that
// start with `first` (any code when it is 0).
Table method_prefixes(const Table& stationitems, char first) {
  Column codes = to_text(stationitems.column(qzdata::kItemId));
  StringColumnBuilder out;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (codes.is_null(i)) continue;
    std::string_view code = codes.text(i);
    if (first && (code.empty() || code[0] != first)) continue;
    out.append(code.substr(0, 3));
  }
  return Table(std::vector<Column>{out.finish("methodid")});
}

// The rows whose text in `column` passes `keep`, with only `result` kept,
// named in lower case.
template <typename Keep>
Table select_codes(const Table& t, const std::string& column, const std::string& result, Keep keep) {
  Column names = to_text(t.column(column));
  Table picked = filter_rows(Table(std::vector<Column>{t.column(result)}),
                             [&](std::size_t i) { return !names.is_null(i) && keep(names.text(i)); });
  return lower(std::move(picked));
}

// Distinct method codes as texts, without 417 and missing values.
Table clean_method_ids(const Table& methods) {
  Column ids = unique(to_text(methods.column("methodid")));
  return filter_rows(Table(std::vector<Column>{ids}),
                     [&](std::size_t i) { return !ids.is_null(i) && ids.text(i) != qzdata::kExcludedMethod; });
}

Table method_ids_from_cache(db::Connection* conn, const std::string& name, const std::string& cache_dir) {
  Table stationitems = MetadataCache::get_table("stationitems", conn, cache_dir);
  Table methods = MetadataCache::get_table("methods", conn, cache_dir);
  if (char d = discipline_of(name)) return method_prefixes(stationitems, d);
  if (name == kAll) return method_prefixes(stationitems, 0);
  return select_codes(methods, "METHODNAME", "METHODID", [&](std::string_view n) { return contains(n, name); });
}

}  // namespace

metastash::TimeseriesInfo MetadataFetcher::get_timeseries_info(db::Connection* conn, const std::string& cache_dir,
                                                               bool refresh_cache) {
  try {
    return MetadataCache::get_timeseries_info(conn, cache_dir, refresh_cache);
  } catch (const FileNotFoundError&) {
    std::string dir = MetadataCache::resolve_cache_dir(cache_dir, MetadataCache::infer_namespace(conn));
    std::throw_with_nested(
        std::runtime_error("未找到本地元数据缓存，请先联网执行 refresh_metastash()。缓存目录: " + dir));
  }
}

Table MetadataFetcher::get_method_ids(db::Connection* conn, const std::string& method_name,
                                      const std::string& cache_dir) {
  refuse_nul(method_name, "method_name");
  Table methods;
  try {
    db::Connection& c = require(conn);
    if (char d = discipline_of(method_name)) {
      methods =
          lower(c.query(std::string("SELECT SUBSTR(ITEMID, 1, 3) AS methodid\nFROM QZDATA.QZ_DICT_STATIONITEMS \n") +
                        "WHERE SUBSTR(ITEMID, 1, 1) = '" + d + "'"));
    } else if (method_name == kAll) {
      methods = lower(c.query("SELECT SUBSTR(ITEMID, 1, 3) AS methodid\nFROM QZDATA.QZ_DICT_STATIONITEMS"));
    } else {
      return lower(c.query(
          "SELECT METHODID AS methodid\nFROM QZDATA.QZ_DICT_METHODS \nWHERE METHODNAME LIKE '%' || :methodname || '%'",
          {{"methodname", method_name}}));
    }
  } catch (const std::exception&) {
    methods = method_ids_from_cache(conn, method_name, cache_dir);
  }
  return clean_method_ids(methods);
}

std::optional<Table> MetadataFetcher::get_station_ids(db::Connection* conn, const std::string& station_name,
                                                      const std::string& cache_dir) {
  refuse_nul(station_name, "station_name");
  if (station_name == kAll) return std::nullopt;
  try {
    return lower(require(conn).query(
        "SELECT STATIONID \nFROM QZDATA.QZ_DICT_STATIONS \nWHERE STATIONNAME LIKE '%' || :stationname || '%'",
        {{"stationname", station_name}}));
  } catch (const std::exception&) {
    Table stations = MetadataCache::get_table("stations", conn, cache_dir);
    return select_codes(stations, "STATIONNAME", qzdata::kStationId,
                        [&](std::string_view n) { return contains(n, station_name); });
  }
}

std::optional<Table> MetadataFetcher::get_item_ids(db::Connection* conn, const ItemNames& item_name,
                                                   const std::string& cache_dir) {
  const std::string* one = std::get_if<std::string>(&item_name);
  const auto* list = std::get_if<std::vector<std::string>>(&item_name);
  if (one) refuse_nul(*one, "item_name");
  if (list)
    for (const auto& name : *list) refuse_nul(name, "item_name");
  if (one && *one == kAll) return std::nullopt;
  try {
    db::Connection& c = require(conn);
    if (one)
      return lower(c.query("SELECT ITEMID \nFROM QZDATA.QZ_DICT_ITEMS \nWHERE ITEMNAME LIKE '%' || :itemname || '%'",
                           {{"itemname", *one}}));
    std::vector<std::string> literals;
    for (const auto& n : *list) literals.push_back(sql_literal(n));
    return lower(
        c.query("SELECT ITEMID \nFROM QZDATA.QZ_DICT_ITEMS \nWHERE ITEMNAME IN (" + join(literals, ",") + ")"));
  } catch (const std::exception&) {
    Table items = MetadataCache::get_table("items", conn, cache_dir);
    return select_codes(items, "ITEMNAME", qzdata::kItemId, [&](std::string_view n) {
      if (one) return contains(n, *one);
      return std::find(list->begin(), list->end(), n) != list->end();
    });
  }
}

std::optional<Table> MetadataFetcher::get_table_names(db::Connection* conn, const Table& method_ids,
                                                      const std::string& base_type_id,
                                                      const std::string& sample_rate_id) {
  std::string sql =
      "SELECT TABLE_NAME \nFROM ALL_TABLES \nWHERE TABLE_NAME LIKE '%' || :base_type_id || '%' \n"
      "AND TABLE_NAME LIKE '%' || :sample_rate_id || '%' \nAND TABLE_NAME LIKE '%' || :methodid || '%'";
  db::Binds keywords;
  if (base_type_id == "CP") {
    std::vector<std::string> conditions;
    const char* words[] = {"AVG", "INS"};
    for (int i = 0; i < 2; ++i) {
      std::string name = "kw" + std::to_string(i + 1);
      conditions.push_back("TABLE_NAME LIKE '%' || :" + name + " || '%'");
      keywords[name] = words[i];
    }
    sql += " AND (" + join(conditions, " OR ") + ")";
  }
  Column ids = to_text(method_ids.column("methodid"));
  std::vector<db::Binds> bind_sets;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    db::Binds binds = keywords;
    binds["base_type_id"] = base_type_id;
    binds["sample_rate_id"] = sample_rate_id;
    binds["methodid"] = ids.at(i);
    bind_sets.push_back(std::move(binds));
  }
  return find_table_names(conn, sql, bind_sets);
}

void MetadataFetcher::_normalize_dataframe_columns(const std::vector<Table*>& dataframes) {
  for (Table* t : dataframes) upper_case_column_names(*t, true);
}

}  // namespace tremora::fetching
