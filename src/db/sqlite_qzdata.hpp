// The SQLite form of the precursor database: a private in-memory database
// with the file attached read-only as schema QZDATA, plus the few Oracle
// forms the system's SQL uses. Shared by the sqlite driver and by the
// stand-in Oracle client library of the tests, so both run the same SQL the
// same way.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tremora::db::sqlite_qzdata {

/// The Julian day of 1970-01-01 00:00 (DATE columns hold Julian days).
constexpr double kUnixEpochJulianDay = 2440587.5;

/// A stored Julian day as nanoseconds since 1970, to the millisecond (the
/// precision SQLite's own date functions keep). DatabaseError when it lies
/// outside the range of timestamps.
int64_t julian_day_to_ns(double jd);

/// Nanoseconds since 1970 as the Julian day a DATE column holds.
inline double ns_to_julian_day(int64_t ns) { return double(ns) / 86400e9 + kUnixEpochJulianDay; }

/// Opens `file` as schema QZDATA of a private in-memory database, with the
/// view ALL_TABLES(TABLE_NAME) over its tables, TO_DATE(text, 'yyyymmdd')
/// giving a Julian day and a case-sensitive LIKE. Once set up, the handle
/// authorises reads only. DatabaseError naming the file when it does not
/// exist or is not a SQLite database; nothing is created on disk. The
/// caller closes the handle with sqlite3_close_v2.
sqlite3* open(const std::filesystem::path& file);

/// The one read-only SELECT of `sql` (WITH and VALUES forms included;
/// blanks, comments and semicolons may follow), prepared on a handle from
/// open. Any other statement, none, or a second one is a DatabaseError that
/// names `file`, and nothing is run.
sqlite3_stmt* prepare_select(sqlite3* db, const std::string& sql, const std::string& file);

/// "WHAT on 'FILE': SQLite's message" as a DatabaseError.
[[noreturn]] void fail(sqlite3* db, const std::string& what, const std::string& file);

}  // namespace tremora::db::sqlite_qzdata
