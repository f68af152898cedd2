// Writes the sample QZDATA database into a SQLite file.
#include <fmt/format.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "network.hpp"
#include "series.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/gzip.hpp"

namespace tremora::sampledb {
namespace {

constexpr double kUnixEpochJulianDay = 2440587.5;

enum class Flavor { Raw, Preprocessed, ProductAvg, ProductIns };

struct TableSpec {
  std::string name;
  std::string method;
  std::string rate;
  Flavor flavor;
};

int64_t rate_seconds(const std::string& rate) {
  if (rate == "02") return 1;
  if (rate == "01") return 60;
  if (rate == "60") return 3600;
  if (rate == "90") return 86400;
  throw std::invalid_argument("unknown sampling-rate code '" + rate + "' (use 02, 01, 60 or 90)");
}

double julian_day(Timestamp t) { return double(t.ns) / double(kNanosPerDay) + kUnixEpochJulianDay; }

// A SQLite database being written; statements are prepared once each.
class Db {
 public:
  explicit Db(const std::filesystem::path& file) : file_(file.string()) {
    if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK) fail("cannot create");
    // A day row of minute values is a gzip blob of about 5 KB, one of second
    // values about 60 KB. On SQLite's default 4 KB pages such a blob runs
    // over a chain of overflow pages, each read with its own system call;
    // 32 KB pages hold a minute day whole and make the file 5 % larger.
    exec("PRAGMA page_size = 32768");
    exec("PRAGMA journal_mode = OFF");
    exec("PRAGMA synchronous = OFF");
    exec("BEGIN");
  }
  ~Db() {
    for (auto* s : statements_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  void commit() { exec("COMMIT"); }

  void exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string what = err ? err : "error";
      sqlite3_free(err);
      throw DatabaseError("sample database '" + file_ + "': " + what + " in: " + sql);
    }
  }

  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) fail("cannot prepare " + sql);
    statements_.push_back(s);
    return s;
  }

  void run(sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) fail("cannot insert");
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw DatabaseError("sample database '" + file_ + "': " + what + ": " + sqlite3_errmsg(db_));
  }
  std::string file_;
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;
};

void bind_text(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), int(v.size()), SQLITE_TRANSIENT);
}

void write_dictionaries(Db& db, const std::set<std::string>& chosen) {
  db.exec("CREATE TABLE QZ_DICT_METHODS (METHODID TEXT, METHODNAME TEXT)");
  db.exec("CREATE TABLE QZ_DICT_STATIONS (STATIONID TEXT, STATIONNAME TEXT, LONGITUDE REAL, LATITUDE REAL)");
  db.exec("CREATE TABLE QZ_DICT_STATIONPOINTS (STATIONID TEXT, POINTID TEXT, POINTNAME TEXT)");
  db.exec("CREATE TABLE QZ_DICT_ITEMS (ITEMID TEXT, ITEMNAME TEXT, UNIT TEXT)");
  db.exec("CREATE TABLE QZ_DICT_STATIONITEMS (STATIONID TEXT, POINTID TEXT, ITEMID TEXT)");
  auto* m = db.prepare("INSERT INTO QZ_DICT_METHODS VALUES (?, ?)");
  for (const auto& x : methods()) bind_text(m, 1, x.code), bind_text(m, 2, x.name), db.run(m);
  auto* st = db.prepare("INSERT INTO QZ_DICT_STATIONS VALUES (?, ?, ?, ?)");
  for (const auto& x : stations()) {
    if (!chosen.count(x.code)) continue;
    bind_text(st, 1, x.code), bind_text(st, 2, x.name);
    sqlite3_bind_double(st, 3, x.longitude), sqlite3_bind_double(st, 4, x.latitude), db.run(st);
  }
  auto* it = db.prepare("INSERT INTO QZ_DICT_ITEMS VALUES (?, ?, ?)");
  for (const auto& x : items())
    bind_text(it, 1, x.code), bind_text(it, 2, x.name), bind_text(it, 3, x.unit), db.run(it);
  auto* pt = db.prepare("INSERT INTO QZ_DICT_STATIONPOINTS VALUES (?, ?, ?)");
  auto* si = db.prepare("INSERT INTO QZ_DICT_STATIONITEMS VALUES (?, ?, ?)");
  for (const auto& p : points()) {
    if (!chosen.count(p.station)) continue;
    bind_text(pt, 1, p.station), bind_text(pt, 2, p.point), bind_text(pt, 3, p.name), db.run(pt);
    for (const auto& i : p.items)
      bind_text(si, 1, p.station), bind_text(si, 2, p.point), bind_text(si, 3, i), db.run(si);
  }
}

std::string create_statement(const TableSpec& t, bool compressed) {
  const char* value = compressed ? "BLOB" : "TEXT";
  switch (t.flavor) {
    case Flavor::Raw:
      return fmt::format(
          "CREATE TABLE {} (STARTDATE DATE, STATIONID NUMBER, POINTID NUMBER, ITEMID NUMBER, OBSVALUE {})", t.name,
          value);
    case Flavor::Preprocessed:
      return fmt::format(
          "CREATE TABLE {} (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, SAMPLERATE INTEGER, OBSVALUE "
          "{})",
          t.name, value);
    default:
      return fmt::format(
          "CREATE TABLE {} (STATIONID TEXT, POINTID TEXT, ITEMID TEXT, STARTDATE DATE, SAMPLERATE TEXT, QUALITY TEXT,"
          " OBSVALUE {})",
          t.name, value);
  }
}

// The text of one day row: the samples separated by single blanks, "NULL"
// for a missing sample, "NULLALL" for a day without data.
std::string day_text(const SeriesModel& m, const Item& item, Flavor flavor, int64_t day_seconds, int64_t rate) {
  uint64_t salt = mix(m.seed ^ uint64_t(day_seconds) ^ (uint64_t(flavor) << 56));
  if (uniform(salt) < 0.01) return "NULLALL";
  std::string text;
  int64_t n = 86400 / rate;
  text.reserve(std::size_t(n) * std::size_t(item.decimals + 6));
  for (int64_t k = 0; k < n; ++k) {
    if (k) text += ' ';
    int64_t s = day_seconds + k * rate;
    uint64_t h = mix(salt + uint64_t(k));
    if (n > 1 && uniform(h) < 0.002) {
      text += "NULL";
      continue;
    }
    bool mean = flavor == Flavor::ProductAvg || rate == 86400;
    double v = mean ? interval_value(m, s, rate) : sample_value(m, s);
    bool spike = item.kind != Kind::Rainfall && uniform(mix(h)) < (flavor == Flavor::Raw ? 0.001 : 0.0002);
    if (spike) v += (uniform(h) < 0.5 ? -1 : 1) * (30 * m.noise + 0.02 * std::abs(m.base) + 0.5);
    fmt::format_to(std::back_inserter(text), "{:.{}f}", v, item.decimals);
  }
  return text;
}

struct RowWriter {
  Db& db;
  const Options& options;
  const std::set<std::string>& chosen;
  Summary& summary;

  Period period_of(const std::string& rate) const {
    return rate == "02" ? options.second : rate == "01" ? options.minute : options.day_and_hour;
  }

  void table(const TableSpec& t, Period period) {
    int64_t rate = rate_seconds(t.rate);
    bool compressed = rate <= 60;
    db.exec(create_statement(t, compressed));
    ++summary.tables;
    std::string insert = t.flavor == Flavor::Raw ? "INSERT INTO " + t.name + " VALUES (?1, ?2, ?3, ?4, ?6)"
                         : t.flavor == Flavor::Preprocessed
                             ? "INSERT INTO " + t.name + " VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
                             : "INSERT INTO " + t.name + " VALUES (?2, ?3, ?4, ?1, ?5, ?7, ?6)";
    sqlite3_stmt* s = db.prepare(insert);
    for (const auto& p : points()) {
      if (!chosen.count(p.station)) continue;
      for (const auto& code : p.items) {
        if (code.substr(0, 3) != t.method) continue;
        const Item& it = item(code);
        SeriesModel m = model_for(p.station, p.point, it, options.seed);
        for (int64_t day = period.first_day.ns; day <= period.last_day.ns; day += kNanosPerDay) {
          std::string text = day_text(m, it, t.flavor, day / kNanosPerSecond, rate);
          sqlite3_bind_double(s, 1, julian_day(Timestamp{day}));
          bind_codes(s, t.flavor, p.station, p.point, code);
          if (t.flavor == Flavor::Preprocessed) sqlite3_bind_int64(s, 5, std::stoll(t.rate));
          else if (t.flavor != Flavor::Raw) bind_text(s, 5, std::to_string(std::stoll(t.rate)));
          if (compressed) {
            std::string blob = gzip_compress(text);
            sqlite3_bind_blob(s, 6, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
          } else {
            bind_text(s, 6, text);
          }
          if (t.flavor == Flavor::ProductAvg || t.flavor == Flavor::ProductIns) bind_text(s, 7, "A");
          db.run(s);
          ++summary.day_rows;
        }
      }
    }
  }

  static void bind_codes(sqlite3_stmt* s, Flavor f, const std::string& station, const std::string& point,
                         const std::string& item) {
    if (f == Flavor::Raw) {
      sqlite3_bind_int64(s, 2, std::stoll(station));
      sqlite3_bind_int64(s, 3, std::stoll(point));
      sqlite3_bind_int64(s, 4, std::stoll(item));
    } else {
      bind_text(s, 2, station), bind_text(s, 3, point), bind_text(s, 4, item);
    }
  }

  // Log tables: an entry every few weeks per series, event types 313 and 101.
  void log_table(const std::string& method) {
    std::string name = "QZ_" + method + "_DLG";
    db.exec("CREATE TABLE " + name +
            " (STARTDATE DATE, STATIONID TEXT, POINTID TEXT, ITEMID TEXT, EVTID TEXT, NOTE TEXT)");
    ++summary.tables;
    sqlite3_stmt* s = db.prepare("INSERT INTO " + name + " VALUES (?, ?, ?, ?, ?, ?)");
    Period period = options.day_and_hour;
    for (const auto& p : points()) {
      if (!chosen.count(p.station)) continue;
      for (const auto& code : p.items) {
        if (code.substr(0, 3) != method) continue;
        int n = 0;
        for (int64_t day = period.first_day.ns; day <= period.last_day.ns; day += 23 * kNanosPerDay, ++n) {
          sqlite3_bind_double(s, 1, julian_day(Timestamp{day + (9 + n % 8) * kNanosPerHour}));
          bind_text(s, 2, p.station), bind_text(s, 3, p.point), bind_text(s, 4, code);
          bind_text(s, 5, n % 3 ? "313" : "101");
          bind_text(s, 6, n % 3 ? "仪器检修" : "停电");
          db.run(s);
        }
      }
    }
  }
};

std::vector<TableSpec> table_specs(const Options& options) {
  std::vector<TableSpec> specs;
  for (const auto& m : methods()) {
    for (const auto& rate : m.rates) {
      if (std::find(options.rates.begin(), options.rates.end(), rate) == options.rates.end()) continue;
      specs.push_back({"QZ_" + m.code + "_DYS_" + rate, m.code, rate, Flavor::Raw});
      specs.push_back({"QZ_" + m.code + "_DYU_" + rate, m.code, rate, Flavor::Preprocessed});
      if (rate == "60" || rate == "90") {
        specs.push_back({"QZ_" + m.code + "_CP_AVG_" + rate, m.code, rate, Flavor::ProductAvg});
        specs.push_back({"QZ_" + m.code + "_CP_INS_" + rate, m.code, rate, Flavor::ProductIns});
      }
    }
  }
  return specs;
}

std::set<std::string> chosen_stations(const Options& options) {
  std::set<std::string> chosen;
  for (const auto& code : options.stations) {
    bool known = std::any_of(stations().begin(), stations().end(), [&](const Station& s) { return s.code == code; });
    if (!known) throw std::invalid_argument("no sample station '" + code + "'");
    chosen.insert(code);
  }
  if (chosen.empty())
    for (const auto& s : stations()) chosen.insert(s.code);
  return chosen;
}

void check_options(const Options& options) {
  for (const auto& r : options.rates) rate_seconds(r);
  for (const Period* p : {&options.day_and_hour, &options.minute, &options.second}) {
    if (p->first_day.is_nat() || p->last_day.is_nat() || p->last_day < p->first_day)
      throw std::invalid_argument("a sample period is empty or has no dates");
    if (p->first_day.ns % kNanosPerDay || p->last_day.ns % kNanosPerDay)
      throw std::invalid_argument("sample periods must start and end at midnight");
    // Every sample lies within the period's days: checking the end of the
    // last day and the span once keeps the loops over them in range.
    add_nanos(p->last_day, kNanosPerDay);
    nanos_between(p->first_day, p->last_day);
  }
}

void fill(Db& db, const Options& options, const std::set<std::string>& chosen, Summary& summary) {
  write_dictionaries(db, chosen);
  RowWriter w{db, options, chosen, summary};
  for (const auto& t : table_specs(options)) w.table(t, w.period_of(t.rate));
  if (std::find(options.rates.begin(), options.rates.end(), "01") != options.rates.end()) {
    // A development table: matched by name like the others, never to be used.
    Period two_days{options.minute.first_day, Timestamp{options.minute.first_day.ns + kNanosPerDay}};
    w.table({"QZ_411_DYU_DEV_01", "411", "01", Flavor::Preprocessed}, two_days);
  }
  w.log_table("411");
  w.log_table("312");
}

}  // namespace

Summary write_database(const std::filesystem::path& file, const Options& options) {
  check_options(options);
  std::set<std::string> chosen = chosen_stations(options);
  Summary summary;
  write_file_atomically_by_path(file, [&](const std::filesystem::path& tmp) {
    Db db(tmp);
    fill(db, options, chosen, summary);
    db.commit();
  });
  summary.bytes = std::filesystem::file_size(file);
  return summary;
}

}  // namespace tremora::sampledb
