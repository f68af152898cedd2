// The QZDATA schema on SQLite: attaching the file, the Oracle forms, and
// the check that a query is one read-only SELECT, and the Julian days of
// DATE columns.
#include "sqlite_qzdata.hpp"

#include <cmath>

#include "tremora/errors.hpp"
#include "tremora/text.hpp"
#include "tremora/time.hpp"

namespace tremora::db::sqlite_qzdata {
namespace {

// TO_DATE(text, 'yyyymmdd'): the Julian day number of midnight of that day.
void to_date(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string text(reinterpret_cast<const char*>(sqlite3_value_text(argv[0])));
  std::string format = to_lower_ascii(reinterpret_cast<const char*>(sqlite3_value_text(argv[1])));
  if (format != "yyyymmdd") {
    sqlite3_result_error(ctx, ("TO_DATE: unsupported format '" + format + "'").c_str(), -1);
    return;
  }
  try {
    if (text.size() != 8) throw std::invalid_argument("not eight digits");
    Timestamp t = parse_timestamp(text);
    sqlite3_result_double(ctx, double(t.ns / kNanosPerDay) + kUnixEpochJulianDay);
  } catch (const std::exception&) {
    sqlite3_result_error(ctx, ("TO_DATE: " + quoted_excerpt(text) + " is not a yyyymmdd date").c_str(), -1);
  }
}

// Percent-encodes the characters that would end a path inside a file: URI.
std::string file_uri(const std::filesystem::path& p) {
  std::string out = "file:";
  for (char c : std::filesystem::absolute(p).string()) {
    if (c == '%' || c == '?' || c == '#') {
      static const char* hex = "0123456789ABCDEF";
      out += '%';
      out += hex[(unsigned char)c >> 4];
      out += hex[(unsigned char)c & 15];
    } else {
      out += c;
    }
  }
  return out + "?mode=ro";
}

// The authorizer of every query: it lets a statement read tables and call
// functions, and refuses the rest (ATTACH, PRAGMA, transactions, temporary
// objects, writes) while the statement is prepared.
int reading_only(void*, int action, const char*, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE: return SQLITE_OK;
    default: return SQLITE_DENY;
  }
}

void exec(sqlite3* db, const char* sql, const std::string& file) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(db, std::string("cannot run ") + sql, file);
}

// Attaches the file; DatabaseError (the handle closed) when it cannot be read.
void attach(sqlite3* db, const std::filesystem::path& file) {
  std::string name = file.string();
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "ATTACH DATABASE ? AS QZDATA", -1, &stmt, nullptr) != SQLITE_OK)
    fail(db, "cannot attach the database", name);
  std::string uri = file_uri(file);
  sqlite3_bind_text(stmt, 1, uri.c_str(), int(uri.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) {
    std::string msg = sqlite3_errcode(db) == SQLITE_NOTADB
                          ? "'" + name + "' is not a SQLite database"
                          : "cannot open the database file '" + name + "': " + sqlite3_errmsg(db);
    sqlite3_close_v2(db);
    throw DatabaseError(msg);
  }
  char* err = nullptr;
  if (sqlite3_exec(db, "SELECT count(*) FROM QZDATA.sqlite_master", nullptr, nullptr, &err) != SQLITE_OK) {
    std::string what = err ? err : "unknown error";
    sqlite3_free(err);
    sqlite3_close_v2(db);
    throw DatabaseError("'" + name + "' is not a SQLite database: " + what);
  }
}

[[noreturn]] void refuse(const std::string& why, const std::string& file) {
  throw DatabaseError(why + "; a query is one read-only SELECT, and nothing was run on '" + file + "'");
}

// Whether SQL text holds a statement (or text that is not SQL) besides
// blanks, comments and semicolons.
bool holds_statement(sqlite3* db, const char* text, const char* end) {
  while (text < end) {
    sqlite3_stmt* stmt = nullptr;
    const char* next = nullptr;
    int rc = sqlite3_prepare_v2(db, text, int(end - text), &stmt, &next);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK || stmt || next == text) return true;
    text = next;
  }
  return false;
}

}  // namespace

int64_t julian_day_to_ns(double jd) {
  double ms = std::round((jd - kUnixEpochJulianDay) * 86400000.0);
  try {
    return nanos_from_count(ms, 1'000'000);
  } catch (const std::invalid_argument&) {
    throw DatabaseError("the date value " + shortest_text(jd) +
                        " (a Julian day) lies outside the range of timestamps (1677-09-21 to 2262-04-11)");
  }
}

// How long a query waits for a lock another process holds on the file.
constexpr int kBusyTimeoutMs = 5000;

void fail(sqlite3* db, const std::string& what, const std::string& file) {
  throw DatabaseError(what + " on '" + file + "': " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

sqlite3* open(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec))
    throw DatabaseError("no SQLite database file '" + file.string() + "'");
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr) !=
      SQLITE_OK) {
    sqlite3_close_v2(db);
    throw DatabaseError("cannot open an in-memory database for '" + file.string() + "'");
  }
  // A file another process is writing is waited for a while (it is
  // locked only for the moment of a write), not refused at once.
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  attach(db, file);
  try {
    exec(db, "CREATE TEMP VIEW ALL_TABLES AS SELECT name AS TABLE_NAME FROM QZDATA.sqlite_master WHERE type = 'table'",
         file.string());
    exec(db, "PRAGMA case_sensitive_like = ON", file.string());
  } catch (...) {
    sqlite3_close_v2(db);
    throw;
  }
  sqlite3_create_function(db, "TO_DATE", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, to_date, nullptr, nullptr);
  // The setup above is the last statement that changes anything.
  sqlite3_set_authorizer(db, reading_only, nullptr);
  return db;
}

sqlite3_stmt* prepare_select(sqlite3* db, const std::string& sql, const std::string& file) {
  const char* end = sql.data() + sql.size();
  const char* tail = nullptr;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), int(sql.size()), &stmt, &tail);
  if (rc == SQLITE_AUTH) refuse("the query is not one read-only SELECT", file);
  if (rc != SQLITE_OK) fail(db, "cannot run the query", file);
  if (!stmt) throw DatabaseError("the query holds no statement");
  if (!sqlite3_stmt_readonly(stmt) || sqlite3_stmt_isexplain(stmt)) {
    sqlite3_finalize(stmt);
    refuse("the query is not one read-only SELECT", file);
  }
  if (holds_statement(db, tail, end)) {
    sqlite3_finalize(stmt);
    refuse("the query holds more than one statement", file);
  }
  return stmt;
}

}  // namespace tremora::db::sqlite_qzdata
