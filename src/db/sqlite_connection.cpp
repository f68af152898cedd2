// The sqlite driver: a private in-memory database with the QZDATA file
// attached read-only, plus the few Oracle forms the system's SQL uses.
#include <fmt/format.h>
#include <sqlite3.h>

#include <cmath>
#include <variant>

#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"

namespace tremora::db {
namespace {

constexpr double kUnixEpochJulianDay = 2440587.5;

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
    sqlite3_result_error(ctx, ("TO_DATE: '" + text + "' is not a yyyymmdd date").c_str(), -1);
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

using Cell = std::variant<std::monostate, int64_t, double, std::string, Bytes>;

enum class Declared { None, Integer, Real, Text, Blob, Date };

Declared declared_type(const char* decl) {
  if (!decl) return Declared::None;
  std::string d = to_upper_ascii(decl);
  if (contains(d, "DATE") || contains(d, "TIME")) return Declared::Date;
  if (contains(d, "INT")) return Declared::Integer;
  if (contains(d, "CHAR") || contains(d, "CLOB") || contains(d, "TEXT")) return Declared::Text;
  if (contains(d, "BLOB") || contains(d, "RAW")) return Declared::Blob;
  if (contains(d, "REAL") || contains(d, "FLOA") || contains(d, "DOUB") || contains(d, "NUM") || contains(d, "DEC"))
    return Declared::Real;
  return Declared::None;
}

// A stored Julian day as a timestamp, to the millisecond (the precision
// SQLite's own date functions keep).
int64_t julian_day_to_ns(double jd) {
  double ms = std::round((jd - kUnixEpochJulianDay) * 86400000.0);
  try {
    return nanos_from_count(ms, 1'000'000);
  } catch (const std::invalid_argument&) {
    throw DatabaseError(fmt::format("the date value {} (a Julian day) lies outside the range of timestamps "
                                    "(1677-09-21 to 2262-04-11)", jd));
  }
}

// Builds a column from cells: the declared type when every cell fits it,
// else the type the stored values need (texts win over numbers).
Column make_column(const std::string& name, Declared declared, const std::vector<Cell>& cells) {
  bool any_text = false, any_blob = false, any_real = false, any_int = false;
  for (const auto& c : cells) {
    any_text |= std::holds_alternative<std::string>(c);
    any_blob |= std::holds_alternative<Bytes>(c);
    any_real |= std::holds_alternative<double>(c);
    any_int |= std::holds_alternative<int64_t>(c);
  }
  std::vector<Value> values;
  values.reserve(cells.size());
  if (declared == Declared::Date && !any_blob) {
    std::vector<int64_t> ns;
    for (const auto& c : cells) {
      if (auto d = std::get_if<double>(&c)) ns.push_back(julian_day_to_ns(*d));
      else if (auto i = std::get_if<int64_t>(&c)) ns.push_back(julian_day_to_ns(double(*i)));
      else if (auto s = std::get_if<std::string>(&c)) ns.push_back(parse_timestamp(*s).ns);
      else ns.push_back(Timestamp::NaT);
    }
    return Column::from_timestamps(name, std::move(ns));
  }
  DataType type = any_blob || declared == Declared::Blob ? DataType::Binary
                  : any_text || declared == Declared::Text ? DataType::String
                  : any_real || declared == Declared::Real ? DataType::Float64
                  : any_int || declared == Declared::Integer ? DataType::Int64
                                                              : DataType::String;
  if (type == DataType::String) {
    StringColumnBuilder b(DataType::String);
    for (const auto& c : cells) {
      if (auto s = std::get_if<std::string>(&c)) b.append(*s);
      else if (auto i = std::get_if<int64_t>(&c)) b.append(std::to_string(*i));
      else if (auto d = std::get_if<double>(&c)) b.append(shortest_text(*d));
      else b.append_null();
    }
    return b.finish(name);
  }
  if (type == DataType::Binary) {
    StringColumnBuilder b(DataType::Binary);
    for (const auto& c : cells) {
      if (auto x = std::get_if<Bytes>(&c)) b.append(x->data);
      else if (auto s = std::get_if<std::string>(&c)) b.append(*s);
      else b.append_null();
    }
    return b.finish(name);
  }
  for (const auto& c : cells) {
    if (auto i = std::get_if<int64_t>(&c)) values.emplace_back(*i);
    else if (auto d = std::get_if<double>(&c)) values.emplace_back(*d);
    else values.emplace_back();
  }
  return Column::from_values(name, type, values);
}

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(const std::filesystem::path& file) : file_(file.string()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
      throw DatabaseError("no SQLite database file '" + file_ + "'");
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr) !=
        SQLITE_OK)
      fail("cannot open an in-memory database");
    exec_bound("ATTACH DATABASE ? AS QZDATA", file_uri(file));
    char* err = nullptr;
    if (sqlite3_exec(db_, "SELECT count(*) FROM QZDATA.sqlite_master", nullptr, nullptr, &err) != SQLITE_OK) {
      std::string what = err ? err : "unknown error";
      sqlite3_free(err);
      close();
      throw DatabaseError("'" + file_ + "' is not a SQLite database: " + what);
    }
    exec("CREATE TEMP VIEW ALL_TABLES AS SELECT name AS TABLE_NAME FROM QZDATA.sqlite_master WHERE type = 'table'");
    exec("PRAGMA case_sensitive_like = ON");
    sqlite3_create_function(db_, "TO_DATE", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, to_date, nullptr, nullptr);
    // The setup above is the last statement that changes anything.
    sqlite3_set_authorizer(db_, reading_only, nullptr);
  }

  ~SqliteConnection() override { close(); }

  Table query(const std::string& sql, const Binds& binds) override {
    if (!db_) throw DatabaseError("the connection to '" + file_ + "' is closed");
    sqlite3_stmt* stmt = prepare_select(sql);
    try {
      bind(stmt, binds);
      Table t = read_rows(stmt);
      sqlite3_finalize(stmt);
      return t;
    } catch (...) {
      sqlite3_finalize(stmt);
      throw;
    }
  }

  void close() override {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  bool is_open() const override { return db_ != nullptr; }

 private:
  [[noreturn]] void fail(const std::string& what) {
    std::string msg = what + " on '" + file_ + "': " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    throw DatabaseError(msg);
  }

  // The one read-only SELECT of `sql`; DatabaseError for any other
  // statement, for none, and for text after it that is more than blanks,
  // comments and semicolons.
  sqlite3_stmt* prepare_select(const std::string& sql) {
    const char* end = sql.data() + sql.size();
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.data(), int(sql.size()), &stmt, &tail);
    if (rc == SQLITE_AUTH) refuse("the query is not one read-only SELECT");
    if (rc != SQLITE_OK) fail("cannot run the query");
    if (!stmt) throw DatabaseError("the query holds no statement");
    if (!sqlite3_stmt_readonly(stmt) || sqlite3_stmt_isexplain(stmt)) {
      sqlite3_finalize(stmt);
      refuse("the query is not one read-only SELECT");
    }
    if (holds_statement(tail, end)) {
      sqlite3_finalize(stmt);
      refuse("the query holds more than one statement");
    }
    return stmt;
  }

  [[noreturn]] void refuse(const std::string& why) {
    throw DatabaseError(why + "; a query is one read-only SELECT, and nothing was run on '" + file_ + "'");
  }

  // Whether SQL text holds a statement (or text that is not SQL) besides
  // blanks, comments and semicolons.
  bool holds_statement(const char* text, const char* end) {
    while (text < end) {
      sqlite3_stmt* stmt = nullptr;
      const char* next = nullptr;
      int rc = sqlite3_prepare_v2(db_, text, int(end - text), &stmt, &next);
      sqlite3_finalize(stmt);
      if (rc != SQLITE_OK || stmt || next == text) return true;
      text = next;
    }
    return false;
  }

  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(std::string("cannot run ") + sql);
  }

  void exec_bound(const char* sql, const std::string& value) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) fail("cannot attach the database");
    sqlite3_bind_text(stmt, 1, value.c_str(), int(value.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
      std::string msg = sqlite3_errcode(db_) == SQLITE_NOTADB
                            ? "'" + file_ + "' is not a SQLite database"
                            : "cannot open the database file '" + file_ + "': " + sqlite3_errmsg(db_);
      close();
      throw DatabaseError(msg);
    }
  }

  void bind(sqlite3_stmt* stmt, const Binds& binds) {
    int n = sqlite3_bind_parameter_count(stmt);
    for (int i = 1; i <= n; ++i) {
      const char* raw = sqlite3_bind_parameter_name(stmt, i);
      std::string name = raw && raw[0] ? raw + 1 : "";
      auto it = binds.find(name);
      if (it == binds.end()) throw DatabaseError("no value is bound for the parameter :" + name);
      const auto& v = it->second.variant();
      if (it->second.is_missing()) sqlite3_bind_null(stmt, i);
      else if (auto b = std::get_if<bool>(&v)) sqlite3_bind_int64(stmt, i, *b);
      else if (auto x = std::get_if<int64_t>(&v)) sqlite3_bind_int64(stmt, i, *x);
      else if (auto d = std::get_if<double>(&v)) sqlite3_bind_double(stmt, i, *d);
      else if (auto s = std::get_if<std::string>(&v)) sqlite3_bind_text(stmt, i, s->data(), int(s->size()), SQLITE_TRANSIENT);
      else if (auto y = std::get_if<Bytes>(&v)) sqlite3_bind_blob(stmt, i, y->data.data(), int(y->data.size()), SQLITE_TRANSIENT);
      else if (auto t = std::get_if<Timestamp>(&v)) sqlite3_bind_double(stmt, i, double(t->ns) / 86400e9 + kUnixEpochJulianDay);
      else throw DatabaseError("cannot bind the value of :" + name);
    }
  }

  Table read_rows(sqlite3_stmt* stmt) {
    int ncol = sqlite3_column_count(stmt);
    std::vector<std::vector<Cell>> cells(static_cast<std::size_t>(ncol));
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int c = 0; c < ncol; ++c) {
        auto& col = cells[std::size_t(c)];
        switch (sqlite3_column_type(stmt, c)) {
          case SQLITE_INTEGER: col.emplace_back(int64_t(sqlite3_column_int64(stmt, c))); break;
          case SQLITE_FLOAT: col.emplace_back(sqlite3_column_double(stmt, c)); break;
          case SQLITE_TEXT:
            col.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                         std::size_t(sqlite3_column_bytes(stmt, c))));
            break;
          case SQLITE_BLOB: {
            const char* p = static_cast<const char*>(sqlite3_column_blob(stmt, c));
            col.emplace_back(Bytes{std::string(p ? p : "", std::size_t(sqlite3_column_bytes(stmt, c)))});
            break;
          }
          default: col.emplace_back(std::monostate{}); break;
        }
      }
    }
    if (rc != SQLITE_DONE) fail("the query failed");
    Table t;
    for (int c = 0; c < ncol; ++c) {
      std::string name = sqlite3_column_name(stmt, c);
      if (t.has_column(name)) throw DatabaseError("the query returns two columns named '" + name + "'");
      t.add_column(make_column(name, declared_type(sqlite3_column_decltype(stmt, c)), cells[std::size_t(c)]));
    }
    return t;
  }

  std::string file_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::shared_ptr<Connection> open_sqlite(const std::filesystem::path& file) {
  return std::make_shared<SqliteConnection>(file);
}

}  // namespace tremora::db
