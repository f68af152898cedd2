#include "table_lookup.hpp"

#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

// A table the fetch may read: not a development table (its name holds
// "_DEV_"), and named by letters, digits, "_", "$" and "#" only; another
// name is warned of and skipped, since no table of the schema is so named.
bool is_usable_table_name(const Column& names, std::size_t row) {
  if (names.is_null(row)) return false;
  std::string_view name = names.text(row);
  if (contains(name, "_DEV_")) return false;
  if (is_plain_sql_name(name)) return true;
  logger_config::fetching_logger.warning("skipping table " + sql_literal(name) +
                                         ": its name is not one of letters, digits, _, $ and #");
  return false;
}

}  // namespace

std::optional<Table> find_table_names(db::Connection* conn, const std::string& sql,
                                      const std::vector<db::Binds>& bind_sets) {
  if (bind_sets.empty()) return std::nullopt;
  std::vector<Table> parts;
  for (const db::Binds& binds : bind_sets) {
    if (!conn) throw DatabaseError("no database connection");
    parts.push_back(conn->query(sql, binds));
  }
  Table names = concat(parts);
  lower_case_column_names(names, true);
  const Column& col = names.column("table_name");
  return filter_rows(names, [&](std::size_t i) { return is_usable_table_name(col, i); });
}

namespace {

// True when a look-up was made (`ids` is set) and found no code in `column`.
bool found_no_code(const std::optional<Table>& ids, const std::string& column) {
  if (!ids) return false;
  const Column& codes = ids->column(column);
  return codes.null_count() == codes.size();
}

}  // namespace

const char* no_query_reason(const Table& table_names, const std::optional<Table>& station_ids,
                            const std::optional<Table>& item_ids) {
  if (table_names.num_rows() == 0) return kNoTables;
  if (found_no_code(station_ids, "stationid")) return kNoStations;
  if (found_no_code(item_ids, "itemid")) return kNoItems;
  return nullptr;
}

}  // namespace tremora::fetching
