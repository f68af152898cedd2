// The sqlite driver: queries on the QZDATA form of a SQLite file, their
// results typed by the declared column types.
#include <variant>

#include "sqlite_qzdata.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/text.hpp"

namespace tremora::db {
namespace {

using sqlite_qzdata::julian_day_to_ns;

using Cell = std::variant<std::monostate, int64_t, double, std::string, Bytes>;

enum class Declared { None, Integer, Real, Text, Blob, Date };

Declared declared_type(const char* decl) {
  if (!decl) return Declared::None;
  std::string d = to_upper_ascii(decl);
  if (contains(d, "DATE") || contains(d, "TIME")) return Declared::Date;
  if (contains(d, "INT")) return Declared::Integer;
  // A NUMBER without a scale (or with scale 0) holds integers or fractions
  // as its values say, as the oracle driver reads it: its values decide.
  if (d.starts_with("NUMBER") && (d.find(',') == std::string::npos || contains(d, ",0)") || contains(d, ", 0)")))
    return Declared::None;
  if (contains(d, "CHAR") || contains(d, "CLOB") || contains(d, "TEXT")) return Declared::Text;
  if (contains(d, "BLOB") || contains(d, "RAW")) return Declared::Blob;
  if (contains(d, "REAL") || contains(d, "FLOA") || contains(d, "DOUB") || contains(d, "NUM") || contains(d, "DEC"))
    return Declared::Real;
  return Declared::None;
}

// The bytes of the texts and blobs among the cells: what their column
// holds, reserved at once rather than regrown (a day row's blob is kBs, a
// year of them MBs).
std::size_t stored_bytes(const std::vector<Cell>& cells) {
  std::size_t bytes = 0;
  for (const auto& c : cells) {
    if (auto s = std::get_if<std::string>(&c)) bytes += s->size();
    else if (auto x = std::get_if<Bytes>(&c)) bytes += x->data.size();
  }
  return bytes;
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
  DataType type = any_blob || declared == Declared::Blob     ? DataType::Binary
                  : any_text || declared == Declared::Text   ? DataType::String
                  : any_real || declared == Declared::Real   ? DataType::Float64
                  : any_int || declared == Declared::Integer ? DataType::Int64
                                                             : DataType::String;
  if (type == DataType::String) {
    StringColumnBuilder b(DataType::String);
    b.reserve(cells.size(), stored_bytes(cells));
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
    b.reserve(cells.size(), stored_bytes(cells));
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
  explicit SqliteConnection(const std::filesystem::path& file) : file_(file.string()), db_(sqlite_qzdata::open(file)) {}

  ~SqliteConnection() override { close(); }

  Table query(const std::string& sql, const Binds& binds) override {
    if (!db_) throw DatabaseError("the connection to '" + file_ + "' is closed");
    sqlite3_stmt* stmt = sqlite_qzdata::prepare_select(db_, sql, file_);
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
      else if (auto s = std::get_if<std::string>(&v))
        sqlite3_bind_text(stmt, i, s->data(), int(s->size()), SQLITE_TRANSIENT);
      else if (auto y = std::get_if<Bytes>(&v))
        sqlite3_bind_blob(stmt, i, y->data.data(), int(y->data.size()), SQLITE_TRANSIENT);
      else if (auto t = std::get_if<Timestamp>(&v))
        sqlite3_bind_double(stmt, i, sqlite_qzdata::ns_to_julian_day(t->ns));
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
    if (rc != SQLITE_DONE) sqlite_qzdata::fail(db_, "the query failed", file_);
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
