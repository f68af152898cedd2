// How the stand-in describes a select list: Oracle types from the column
// types SQLite declares.
#pragma once

#include <optional>
#include <string>

#include "handles.hpp"

namespace tremora::oci_standin {

/// The Oracle description of a declared column type ("VARCHAR2(20)",
/// "NUMBER(10,2)", "DATE", "CLOB", ...); nothing for a type it does not know.
std::optional<ColumnInfo> describe_declared(const std::string& declared_type);

/// The description of a column without a declared type (an expression),
/// from the SQLite storage class of its first value.
ColumnInfo describe_stored(int sqlite_storage_class);

/// Describes every column of the query `cursor`, which stands on its first
/// row (if it has one). The names are SQLite's column names exactly as the
/// query spells them: Oracle upper-cases unquoted aliases, but the system's
/// SQL relies on aliases like "methodid" and the sqlite driver keeps them,
/// so both drivers report the same names.
std::vector<ColumnInfo> describe_query(sqlite3_stmt* cursor, bool on_row);

/// The Oracle type name of a described column, as ORA-00932 names it.
std::string type_name(const ColumnInfo& column);

}  // namespace tremora::oci_standin
