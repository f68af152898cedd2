// Look-ups that the metadata fetcher, the query builder and the data
// fetcher share inside the fetching library.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tremora/db.hpp"
#include "tremora/table.hpp"

namespace tremora::fetching {

/// Runs one ALL_TABLES query per bind set, in order, and returns the names
/// found (column table_name) without development tables (those whose name
/// holds "_DEV_"); nothing when there are no bind sets. DatabaseError "no
/// database connection" without a connection.
std::optional<Table> find_table_names(db::Connection* conn, const std::string& sql,
                                      const std::vector<db::Binds>& bind_sets);

/// The messages the query builder logs when it can build no query.
inline constexpr char kNoTables[] = "没有找到匹配的表名!";
inline constexpr char kNoStations[] = "没有找到匹配的台站!";
inline constexpr char kNoItems[] = "没有找到匹配的测项!";

/// The reason no query can be built: no table (kNoTables), or a station
/// or item look-up that was made and found no code (kNoStations,
/// kNoItems: no row could match, and " AND ()" is no SQL); nullptr when
/// there is none.
const char* no_query_reason(const Table& table_names, const std::optional<Table>& station_ids,
                            const std::optional<Table>& item_ids);

}  // namespace tremora::fetching
