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

/// True when a look-up was made (`ids` is set) and found no code in
/// `column`: no row can match it.
bool found_no_code(const std::optional<Table>& ids, const std::string& column);

}  // namespace tremora::fetching
