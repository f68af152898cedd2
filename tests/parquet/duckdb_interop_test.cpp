// Checks our Parquet files against DuckDB, an independent implementation:
// DuckDB reads what we write, and we read what DuckDB writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fmt/format.h>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/export.hpp"
#include "tremora/parquet.hpp"
#include "tremora/text.hpp"

namespace tremora::parquet {
namespace {

using json = nlohmann::json;

bool have_node() { return std::system("command -v node >/dev/null 2>&1") == 0; }

// The folder the DuckDB package is installed into (scripts/install-deps.sh),
// beside the tool script that imports it.
std::filesystem::path duckdb_package() {
  return std::filesystem::path(TREMORA_DUCKDB_TOOL).parent_path() / "node_modules" / "@duckdb" / "node-api";
}

std::string quote_shell(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs SQL statements in DuckDB; returns the rows of the last one.
json duckdb(const std::vector<std::string>& sql) {
  std::string cmd = "node ";
  cmd += quote_shell(TREMORA_DUCKDB_TOOL);
  for (const auto& s : sql) {
    cmd += ' ';
    cmd += quote_shell(s);
  }
  FILE* pipe = popen((cmd + " 2>&1").c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  int status = pclose(pipe);
  if (status != 0) throw std::runtime_error("duckdb failed: " + out);
  return json::parse(out);
}

// The columns of a Parquet file (a quoted SQL text) and their types, as DuckDB reads them.
using Columns = std::vector<std::pair<std::string, std::string>>;
Columns duckdb_columns(const std::string& file) {
  Columns columns;
  for (const auto& row :
       duckdb({"SELECT column_name, column_type FROM (DESCRIBE SELECT * FROM read_parquet(" + file + "))"}))
    columns.emplace_back(row["column_name"], row["column_type"]);
  return columns;
}

// The key-value metadata of a Parquet file, as DuckDB reads it.
std::map<std::string, std::string> duckdb_metadata(const std::string& file) {
  std::map<std::string, std::string> meta;
  for (const auto& row : duckdb({"SELECT decode(key) AS k, decode(value) AS v FROM parquet_kv_metadata(" + file + ")"}))
    meta[row["k"]] = row["v"];
  return meta;
}

// The package is optional (installing it needs the npm registry): without
// it these checks are skipped, saying so.
#define REQUIRE_DUCKDB()                                                                                               \
  if (!have_node()) GTEST_SKIP() << "Node.js is not installed: DuckDB checks skipped";                                 \
  if (!std::filesystem::exists(duckdb_package() / "package.json"))                                                     \
    GTEST_SKIP() << "the DuckDB package is not installed in " << duckdb_package().parent_path().parent_path().string() \
                 << " (run scripts/install-deps.sh with access to the npm registry): DuckDB checks skipped";           \
  ASSERT_TRUE(std::filesystem::exists(TREMORA_DUCKDB_TOOL))

TEST(DuckDbReadsOurFiles, ValuesNullsTypesAndMetadata) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  std::size_t n = 3000;
  std::vector<int64_t> times, ints;
  std::vector<uint8_t> valid;
  std::vector<float> values;
  std::vector<std::optional<std::string>> stations;
  int64_t t0 = make_timestamp(2024, 5, 10).ns;
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    times.push_back(i == 7 ? Timestamp::NaT : t0 + int64_t(i) * kNanosPerMinute);
    values.push_back(i % 10 == 9 ? NAN : float(i) / 4);
    ints.push_back(int64_t(i));
    valid.push_back(i % 3 != 0);
    if (i % 3) sum += double(i);
    stations.push_back(i % 100 == 5 ? std::nullopt : std::optional<std::string>(i % 2 ? "郯城" : "37001"));
  }
  Table t;
  t.add_column(Column::from_timestamps("STARTDATE", times, "Asia/Shanghai"));
  t.add_column(Column::from_timestamps("LOCAL", times));
  t.add_column(Column::from_float32("OBSVALUE", values));
  t.add_column(Column::from_int64("N", ints, valid));
  t.add_column(Column::from_strings("STATIONID", stations).dictionary_encoded());
  for (Compression c : {Compression::snappy, Compression::zstd, Compression::gzip, Compression::none}) {
    auto path = (dir / ("ours" + std::to_string(int(c)) + ".parquet")).string();
    write_table(t, path, {.compression = c, .row_group_size = 1000, .metadata = {{"source", "GFZ Potsdam"}}});
    std::string f = "'" + path + "'";
    json agg = duckdb({"SET TimeZone = 'UTC'",
                       "SELECT count(*)::VARCHAR AS n, count(STARTDATE)::VARCHAR AS nt, count(OBSVALUE)::VARCHAR AS nv,"
                       " count(N)::VARCHAR AS nn, sum(N)::VARCHAR AS sn, count(STATIONID)::VARCHAR AS ns,"
                       " min(epoch_ns(STARTDATE))::VARCHAR AS t0, max(epoch_ns(LOCAL))::VARCHAR AS t1,"
                       " sum(OBSVALUE)::DOUBLE AS sv, string_agg(DISTINCT STATIONID, ',' ORDER BY STATIONID) AS st"
                       " FROM " +
                           f});
    ASSERT_EQ(agg.size(), 1u);
    const json& r = agg[0];
    EXPECT_EQ(r["n"], "3000");
    EXPECT_EQ(r["nt"], "2999");
    EXPECT_EQ(r["nv"], "2700");
    EXPECT_EQ(r["nn"], "2000");
    EXPECT_EQ(r["sn"], std::to_string(int64_t(sum)));
    EXPECT_EQ(r["ns"], "2970");
    EXPECT_EQ(r["t0"], std::to_string(t0));
    EXPECT_EQ(r["t1"], std::to_string(t0 + 2999 * kNanosPerMinute));
    double expected = 0;
    for (float v : values)
      if (!std::isnan(v)) expected += v;
    EXPECT_DOUBLE_EQ(r["sv"].get<double>(), expected);
    EXPECT_EQ(r["st"], "37001,郯城");
    EXPECT_EQ(duckdb_columns(f), (Columns{{"STARTDATE", "TIMESTAMP WITH TIME ZONE"},
                                          {"LOCAL", "TIMESTAMP_NS"},
                                          {"OBSVALUE", "FLOAT"},
                                          {"N", "BIGINT"},
                                          {"STATIONID", "VARCHAR"}}));
    std::map<std::string, std::string> meta = duckdb_metadata(f);
    EXPECT_EQ(meta["source"], "GFZ Potsdam");
    EXPECT_EQ(meta["tremora.zone.STARTDATE"], "Asia/Shanghai");
    json rows = duckdb({"SELECT N::VARCHAR AS n, OBSVALUE AS v, STATIONID AS s FROM " + f + " LIMIT 3 OFFSET 8"});
    EXPECT_TRUE(rows[0]["n"].is_string());  // row 8: N present
    EXPECT_TRUE(rows[1]["v"].is_null());    // row 9: OBSVALUE missing
    EXPECT_TRUE(rows[1]["n"].is_null());    // row 9: N missing
    EXPECT_EQ(rows[2]["s"], "37001");
  }
}

TEST(DuckDbReadsOurFiles, BytesAsBlobsBesideUtf8Texts) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  auto path = (dir / "bytes.parquet").string();
  Table t(std::vector<Column>{Column::from_strings("STATIONID", {"郯城", "37001"}),
                              Column::from_binary("RAW", {std::string("\x1f\x8b\xff", 3), std::nullopt})});
  write_table(t, path);
  json rows =
      duckdb({"SELECT STATIONID AS s, typeof(RAW) AS type, octet_length(RAW)::VARCHAR AS n,"
              " hex(RAW) AS h FROM '" +
              path + "'"});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["s"], "郯城");
  EXPECT_EQ(rows[0]["type"], "BLOB");
  EXPECT_EQ(rows[0]["n"], "3");
  EXPECT_EQ(rows[0]["h"], "1F8BFF");
  EXPECT_TRUE(rows[1]["n"].is_null());
}

TEST(DuckDbReadsOurFiles, VuzoFilesAsOrdinaryTables) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  std::size_t n = 2000;
  int64_t t0 = make_timestamp(2024, 5, 10).ns;
  std::vector<int64_t> times;
  std::vector<double> values;
  std::vector<int32_t> stations;
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    times.push_back(t0 + int64_t(i) * kNanosPerMinute);
    values.push_back(i % 50 == 7 ? NAN : double(i % 100) / 8);
    if (i % 50 != 7) sum += double(i % 100) / 8;
    stations.push_back(i < n / 2 ? 0 : 1);
  }
  Table t;
  t.add_column(Column::from_dictionary("STATIONID", stations, {"37001", "41001"}));
  t.add_column(Column::from_int64("ITEMID", std::vector<int64_t>(n, 4112)));
  t.add_column(Column::from_float64("OBSVALUE", values));
  t.add_column(Column::from_timestamps("STARTDATE", times, "Asia/Shanghai"));
  t.set_key("STARTDATE");
  exchange::VuzoContext context;
  context.station_info.add_column(Column::from_strings("STATIONID", {"37001", "41001"}));
  context.station_info.add_column(Column::from_strings("STATIONNAME", {"郯城", "郑州"}));
  context.sampling_rate = 60;
  context.export_time = "2024-05-11T09:00:00";
  Table vuzo = exchange::to_vuzo(t, context);
  std::string path = (dir / "water.vuzo").string(), f = "'" + path + "'";
  write_table(vuzo, path);
  json agg =
      duckdb({"SELECT count(*)::VARCHAR AS n, count(OBSVALUE)::VARCHAR AS nv, sum(OBSVALUE)::DOUBLE AS sv,"
              " min(epoch_ns(STARTDATE))::VARCHAR AS t0, string_agg(DISTINCT STATIONID, ',' ORDER BY STATIONID)"
              " AS st, string_agg(DISTINCT ITEMID, ',') AS it FROM read_parquet(" +
              f + ")"});
  ASSERT_EQ(agg.size(), 1u);
  EXPECT_EQ(agg[0]["n"], "2000");
  EXPECT_EQ(agg[0]["nv"], "1960");
  EXPECT_DOUBLE_EQ(agg[0]["sv"].get<double>(), sum);
  EXPECT_EQ(agg[0]["t0"], std::to_string(t0));
  EXPECT_EQ(agg[0]["st"], "37001,41001");
  EXPECT_EQ(agg[0]["it"], "4112");
  EXPECT_EQ(duckdb_columns(f), (Columns{{"STARTDATE", "TIMESTAMP WITH TIME ZONE"},
                                        {"STATIONID", "VARCHAR"},
                                        {"ITEMID", "VARCHAR"},
                                        {"OBSVALUE", "FLOAT"}}));
  // The context is in the file's key-value metadata, as JSON texts.
  std::map<std::string, std::string> meta = duckdb_metadata(f);
  EXPECT_EQ(meta["vuzo.version"], "1");
  EXPECT_EQ(meta["station_info"],
            R"([{"STATIONID":"37001","STATIONNAME":"郯城"},{"STATIONID":"41001","STATIONNAME":"郑州"}])");
  EXPECT_EQ(meta["item_info"], "[]");
  EXPECT_EQ(meta["sampling_rate"], "60");
  EXPECT_EQ(meta["export_time"], R"("2024-05-11T09:00:00")");
}

TEST(WeReadDuckDbFiles, DefaultsDictionaryZstdRowGroupsAndPageV2) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  const std::string select =
      "SELECT range AS i, (range * 0.5)::FLOAT AS f, CASE WHEN range % 7 = 0 THEN NULL ELSE range / 4 END AS d,"
      " 'st' || (range % 5) AS s, 'unique text ' || range AS u,"
      " TIMESTAMP '2024-05-10 00:00:00' + INTERVAL (range) MINUTE AS ts,"
      " TIMESTAMPTZ '2024-05-10 00:00:00+00' + INTERVAL (range) SECOND AS tz,"
      " (TIMESTAMP '2024-05-10 00:00:00' + INTERVAL (range) MILLISECOND)::TIMESTAMP_MS AS ms,"
      " DATE '2024-01-01' + (range % 30)::INT AS dt, (range % 1000)::DECIMAL(9,2) AS dec9,"
      " (range * 3)::DECIMAL(18,3) AS dec18, (range)::DECIMAL(30,2) AS dec30,"
      " range % 2 = 0 AS b, (range % 100)::INTEGER AS i32, (range % 200)::UTINYINT AS u8"
      " FROM range(50000)";
  struct Variant {
    std::string name, options;
  } variants[] = {
      {"defaults", "FORMAT parquet"},
      {"zstd", "FORMAT parquet, COMPRESSION zstd"},
      {"groups", "FORMAT parquet, ROW_GROUP_SIZE 4096"},
      {"gzip_v2", "FORMAT parquet, COMPRESSION gzip, PARQUET_VERSION v2"},
      {"plain", "FORMAT parquet, COMPRESSION uncompressed, DICTIONARY_COMPRESSION_RATIO_THRESHOLD 1000000"}};
  for (const auto& v : variants) {
    SCOPED_TRACE(v.name);
    std::string path = (dir / (v.name + ".parquet")).string();
    duckdb({"COPY (" + select + ") TO '" + path + "' (" + v.options + ")"});
    Table t = read_table(path);
    ASSERT_EQ(t.num_rows(), 50000u);
    if (v.name == "groups") {
      json groups = duckdb({"SELECT count(DISTINCT row_group_id)::VARCHAR AS g FROM parquet_metadata('" + path + "')"});
      EXPECT_GT(std::stoi(groups[0]["g"].get<std::string>()), 1);
    }
    EXPECT_EQ(t.column("s").type(), DataType::String);
    EXPECT_EQ(t.column("ts").zone(), "");
    EXPECT_EQ(t.column("tz").zone(), "UTC");
    int64_t t0 = make_timestamp(2024, 5, 10).ns;
    for (std::size_t r : {std::size_t{0}, std::size_t{1}, std::size_t{6999}, std::size_t{49999}}) {
      int64_t i = int64_t(r);
      EXPECT_EQ(t.column("i").int64s()[r], i);
      EXPECT_EQ(t.column("f").float32s()[r], float(i) * 0.5f);
      if (i % 7 == 0) EXPECT_TRUE(std::isnan(t.column("d").float64s()[r]));
      else EXPECT_EQ(t.column("d").float64s()[r], double(i) / 4);
      EXPECT_EQ(t.column("s").text(r), "st" + std::to_string(i % 5));
      EXPECT_EQ(t.column("u").text(r), "unique text " + std::to_string(i));
      EXPECT_EQ(t.column("ts").int64s()[r], t0 + i * kNanosPerMinute);
      EXPECT_EQ(t.column("tz").int64s()[r], t0 + i * kNanosPerSecond);
      EXPECT_EQ(t.column("ms").int64s()[r], t0 + i * 1'000'000);
      EXPECT_EQ(t.column("dt").int64s()[r], make_timestamp(2024, 1, 1).ns + (i % 30) * kNanosPerDay);
      EXPECT_DOUBLE_EQ(t.column("dec9").float64s()[r], double(i % 1000));
      EXPECT_DOUBLE_EQ(t.column("dec18").float64s()[r], double(i * 3));
      EXPECT_DOUBLE_EQ(t.column("dec30").float64s()[r], double(i));
      EXPECT_EQ(t.column("b").bools()[r], i % 2 == 0);
      EXPECT_EQ(t.column("i32").int64s()[r], i % 100);
      EXPECT_EQ(t.column("u8").int64s()[r], i % 200);
    }
    EXPECT_EQ(t.column("d").null_count(), 50000u / 7 + 1);
  }
}

// One column of the comparison: how DuckDB makes it, how DuckDB prints its
// values canonically, and the element type (and zone) it must read as.
struct ColumnCase {
  std::string name, make;
  enum Print { Text, Number, Decimal, Nanos, DateNanos } print;
  DataType type;
  std::string zone = "";
};

const std::vector<ColumnCase> kColumnCases{
    {"i", "CASE WHEN range % 11 = 3 THEN NULL ELSE range * 7919 - 100000 END", ColumnCase::Text, DataType::Int64},
    {"i32", "(range % 1000 - 500)::INTEGER", ColumnCase::Text, DataType::Int64},
    {"i16", "CASE WHEN range % 9 = 0 THEN NULL ELSE (range % 300)::SMALLINT END", ColumnCase::Text, DataType::Int64},
    {"u8", "(range % 250)::UTINYINT", ColumnCase::Text, DataType::Int64},
    {"u32", "(range * 65537 % 4294967295)::UINTEGER", ColumnCase::Text, DataType::Int64},
    {"u64", "(range * 1000000007)::UBIGINT", ColumnCase::Text, DataType::Int64},
    {"f", "CASE WHEN range % 13 = 0 THEN NULL ELSE (range / 7.0)::FLOAT END", ColumnCase::Number, DataType::Float32},
    {"d",
     "CASE WHEN range = 5 THEN 'inf'::DOUBLE WHEN range = 6 THEN '-inf'::DOUBLE WHEN range % 17 = 0 THEN NULL "
     "ELSE sin(range) * 1e6 END",
     ColumnCase::Number, DataType::Float64},
    {"s", "CASE WHEN range % 19 = 0 THEN NULL ELSE 'st' || (range % 17) END", ColumnCase::Text, DataType::String},
    {"u", "'值' || range::VARCHAR || repeat('x', (range % 5)::INTEGER)", ColumnCase::Text, DataType::String},
    {"b", "CASE WHEN range % 7 = 0 THEN NULL ELSE range % 3 = 0 END", ColumnCase::Text, DataType::Bool},
    {"blob", "encode('b' || range::VARCHAR)", ColumnCase::Text, DataType::Binary},
    {"ts", "TIMESTAMP '2024-05-10 00:00:00' + INTERVAL (range * 37) SECOND", ColumnCase::Nanos, DataType::Timestamp},
    {"tz", "TIMESTAMPTZ '2024-05-10 00:00:00+00' + INTERVAL (range) MINUTE", ColumnCase::Nanos, DataType::Timestamp,
     "UTC"},
    {"ms", "(TIMESTAMP '1969-12-31 23:00:00' + INTERVAL (range) MILLISECOND)::TIMESTAMP_MS", ColumnCase::Nanos,
     DataType::Timestamp},
    {"ns", "(TIMESTAMP '2262-04-01 00:00:00' + INTERVAL (range) SECOND)::TIMESTAMP_NS", ColumnCase::Nanos,
     DataType::Timestamp},
    {"dt", "DATE '1960-01-01' + (range * 13)::INT", ColumnCase::DateNanos, DataType::Timestamp},
    {"dec4", "(range % 1000 / 10)::DECIMAL(4,1)", ColumnCase::Decimal, DataType::Float64},
    {"dec18", "(range * 3.125)::DECIMAL(18,3)", ColumnCase::Decimal, DataType::Float64},
    {"dec30", "(range * 1e12 + 0.25)::DECIMAL(30,2)", ColumnCase::Decimal, DataType::Float64},
};

// DuckDB's canonical text of a column's values.
std::string printed_by_duckdb(const ColumnCase& c) {
  const std::string& x = c.name;
  switch (c.print) {
    case ColumnCase::Number:
    case ColumnCase::Decimal: return "printf('%.17g', " + x + "::DOUBLE) AS " + x;
    case ColumnCase::Nanos: return "epoch_ns(" + x + ")::VARCHAR AS " + x;
    case ColumnCase::DateNanos: return "epoch_ns(" + x + "::TIMESTAMP)::VARCHAR AS " + x;
    case ColumnCase::Text: return c.name == "blob" ? "hex(blob) AS blob" : x + "::VARCHAR AS " + x;
  }
  return x;
}

// The same text of one of our cells; nothing for a missing value.
std::optional<std::string> printed_by_us(const Column& c, std::size_t row) {
  if (c.is_null(row)) return std::nullopt;
  switch (c.type()) {
    case DataType::Int64: return std::to_string(c.int64s()[row]);
    case DataType::Float32: return fmt::format("{:.17g}", double(c.float32s()[row]));
    case DataType::Float64: return fmt::format("{:.17g}", c.float64s()[row]);
    case DataType::Timestamp: return std::to_string(c.int64s()[row]);
    case DataType::Bool: return c.bools()[row] ? "true" : "false";
    case DataType::Binary: return hex_text(c.text(row), true);
    default: return std::string(c.text(row));
  }
}

void expect_same_cell(const ColumnCase& c, const json& theirs, const std::optional<std::string>& ours,
                      std::size_t row) {
  if (theirs.is_null()) {
    EXPECT_FALSE(ours) << c.name << " row " << row << ": " << *ours;
    return;
  }
  ASSERT_TRUE(ours) << c.name << " row " << row << ": DuckDB has " << theirs;
  std::string text = theirs.get<std::string>();
  if (c.print == ColumnCase::Decimal) {  // both divide by a power of ten, maybe rounding apart
    EXPECT_NEAR(std::stod(*ours), std::stod(text), std::abs(std::stod(text)) * 1e-15) << c.name << " row " << row;
    return;
  }
  // fmt prints infinity as "inf", DuckDB's printf as "inf" too; numbers compare as text.
  EXPECT_EQ(*ours, text) << c.name << " row " << row;
}

// Every value of files DuckDB writes, under each codec and both data page
// versions (v2 brings the delta and byte-stream-split encodings), equals
// what DuckDB reads from them.
TEST(WeReadDuckDbFiles, EveryCodecAndPageVersionEqualsDuckDb) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  const std::size_t n = 2500;
  std::string make = "SELECT ", print = "SELECT ";
  for (std::size_t k = 0; k < kColumnCases.size(); ++k) {
    make += (k ? ", " : "") + kColumnCases[k].make + " AS " + kColumnCases[k].name;
    print += (k ? ", " : "") + printed_by_duckdb(kColumnCases[k]);
  }
  make += " FROM range(" + std::to_string(n) + ")";
  for (const char* codec : {"uncompressed", "snappy", "gzip", "zstd", "lz4", "brotli"}) {
    for (const char* version : {"v1", "v2"}) {
      SCOPED_TRACE(std::string(codec) + " " + version);
      std::string path = (dir / (std::string(codec) + version + ".parquet")).string();
      json rows = duckdb({"SET TimeZone = 'UTC'",
                          "COPY (" + make + ") TO '" + path + "' (FORMAT parquet, COMPRESSION " + codec +
                              ", PARQUET_VERSION " + version + ", ROW_GROUP_SIZE 1024)",
                          print + " FROM '" + path + "'"});
      Table t = read_table(path);
      ASSERT_EQ(t.num_rows(), n);
      ASSERT_EQ(rows.size(), n);
      ASSERT_EQ(t.num_columns(), kColumnCases.size());
      for (std::size_t k = 0; k < kColumnCases.size(); ++k) {
        const ColumnCase& c = kColumnCases[k];
        const Column& ours = t.column(k);
        ASSERT_EQ(ours.name(), c.name);
        ASSERT_EQ(ours.type(), c.type) << c.name;
        EXPECT_EQ(ours.zone(), c.zone) << c.name;
        for (std::size_t r = 0; r < n; ++r) expect_same_cell(c, rows[r][c.name], printed_by_us(ours, r), r);
      }
    }
  }
}

// Unsigned values beyond int64 are refused, naming the column; a file of
// no rows reads as a table of no rows with its columns.
TEST(WeReadDuckDbFiles, UnsignedBeyondInt64AndEmptyFiles) {
  REQUIRE_DUCKDB();
  testing::TempDir dir;
  std::string big = (dir / "big.parquet").string(), empty = (dir / "empty.parquet").string();
  duckdb({"COPY (SELECT 18446744073709551615::UBIGINT AS u, 1 AS i) TO '" + big + "' (FORMAT parquet)"});
  try {
    read_table(big);
    FAIL() << "read an unsigned value beyond int64";
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("column 'u'"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("18446744073709551615"), std::string::npos) << e.what();
  }
  duckdb({"COPY (SELECT 1::BIGINT AS a, 'x' AS s WHERE false) TO '" + empty + "' (FORMAT parquet)"});
  Table t = read_table(empty);
  EXPECT_EQ(t.num_rows(), 0u);
  ASSERT_EQ(t.num_columns(), 2u);
  EXPECT_EQ(t.column("s").type(), DataType::String);
}

}  // namespace
}  // namespace tremora::parquet
