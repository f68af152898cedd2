// The VUZO converter and reader: the row layout, the context entries, and
// files that read back as they were written.
#include <gtest/gtest.h>

#include <cmath>

#include "table_checks.hpp"
#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/export.hpp"
#include "tremora/parquet.hpp"

namespace tremora::exchange {
namespace {

using testing::error_of;

// Three minute samples of one series keyed by STARTDATE, as a fetch gives
// them, with codes of other types than text and a further column.
Table observations() {
  int64_t t0 = make_timestamp(2024, 5, 10).ns;
  Table t;
  t.add_column(Column::from_int64("STATIONID", {37001, 37001, 37001}));
  t.add_column(Column::from_strings("POINTID", {"1", "1", std::nullopt}));
  t.add_column(Column::from_dictionary("ITEMID", {0, 0, 0}, {"4112"}));
  t.add_column(Column::from_float64("OBSVALUE", {1.5, NAN, -2.25}));
  t.add_column(Column::from_strings("QUALITY", {"A", "B", "A"}));
  t.add_column(
      Column::from_timestamps("STARTDATE", {t0, t0 + kNanosPerMinute, t0 + 2 * kNanosPerMinute}, "Asia/Shanghai"));
  t.set_key("STARTDATE");
  t.attributes()["source"] = "sample";
  return t;
}

VuzoContext context() {
  VuzoContext c;
  c.station_info.add_column(Column::from_strings("STATIONID", {"37001", "37001"}));
  c.station_info.add_column(Column::from_strings("STATIONNAME", {"郯城", std::nullopt}));
  c.station_info.add_column(Column::from_float64("LONGITUDE", {118.35, 118.0}));
  c.station_info.add_column(Column::from_float64("LATITUDE", {NAN, 34.5}));
  c.station_info.add_column(Column::from_int64("LEVEL", {2, -1}, {1, 0}));
  c.station_info.add_column(Column::from_bool("ACTIVE", {1, 0}));
  c.sampling_rate = 60;
  c.export_time = "2024-05-10T08:30:00.000250";
  return c;
}

TEST(VuzoTable, RowsLaidOutWithTheContextAsEntries) {
  Table v = to_vuzo(observations(), context());
  EXPECT_EQ(v.column_names(),
            (std::vector<std::string>{"STARTDATE", "STATIONID", "POINTID", "ITEMID", "OBSVALUE", "QUALITY"}));
  EXPECT_FALSE(v.has_key());
  EXPECT_EQ(v.column("STARTDATE").type(), DataType::Timestamp);
  EXPECT_EQ(v.column("STARTDATE").zone(), "Asia/Shanghai");
  EXPECT_EQ(v.column("STARTDATE").int64s()[2], make_timestamp(2024, 5, 10, 0, 2).ns);
  EXPECT_EQ(v.column("OBSVALUE").type(), DataType::Float32);
  EXPECT_EQ(v.column("OBSVALUE").float32s()[2], -2.25f);
  EXPECT_TRUE(v.column("OBSVALUE").is_null(1));
  for (const char* code : {"STATIONID", "POINTID", "ITEMID"}) EXPECT_EQ(v.column(code).type(), DataType::String);
  EXPECT_EQ(v.column("STATIONID").text(0), "37001");
  EXPECT_TRUE(v.column("POINTID").is_null(2));
  EXPECT_EQ(v.column("QUALITY").text(1), "B");
  std::map<std::string, std::string> expected{
      {"source", "sample"},
      {"vuzo.version", "1"},
      {"station_info",
       R"([{"STATIONID":"37001","STATIONNAME":"郯城","LONGITUDE":118.35,"LATITUDE":null,"LEVEL":2,"ACTIVE":true},)"
       R"({"STATIONID":"37001","STATIONNAME":null,"LONGITUDE":118.0,"LATITUDE":34.5,"LEVEL":null,"ACTIVE":false}])"},
      {"item_info", "[]"},
      {"sampling_rate", "60"},
      {"export_time", R"("2024-05-10T08:30:00.000250")"}};
  EXPECT_EQ(v.attributes(), expected);
  EXPECT_EQ(to_vuzo(observations(), context()).column_names(), v.column_names());  // the input is left alone
}

TEST(VuzoTable, RecordValuesOfEveryType) {
  VuzoContext c;
  int64_t t0 = make_timestamp(2024, 5, 10, 8).ns;
  c.item_info.add_column(Column::from_float32("F", {118.35f}));
  c.item_info.add_column(Column::from_timestamps("NAIVE", {t0}));
  c.item_info.add_column(Column::from_timestamps("ZONED", {t0}, "Asia/Shanghai"));
  c.item_info.add_column(Column::from_durations("SPAN", {kNanosPerHour}));
  c.item_info.add_column(Column::from_binary("RAW", {std::string("\x01\xff", 2)}));
  c.item_info.add_column(Column::from_strings("NONE", {std::nullopt}));
  EXPECT_EQ(to_vuzo(observations(), c).attributes().at("item_info"),
            R"([{"F":118.35,"NAIVE":"2024-05-10T08:00:00","ZONED":"2024-05-10T16:00:00+08:00",)"
            R"("SPAN":"0 days 01:00:00","RAW":"01ff","NONE":null}])");
}

TEST(VuzoTable, MissingOrMistypedColumnsAreNamed) {
  Table no_time = observations();
  no_time.drop_key();
  EXPECT_THROW(to_vuzo(no_time, {}), KeyError);
  EXPECT_NE(error_of([&] { to_vuzo(no_time, {}); }).find("'STARTDATE'"), std::string::npos);
  Table no_value = observations();
  no_value.remove_column("OBSVALUE");
  EXPECT_NE(error_of([&] { to_vuzo(no_value, {}); }).find("no column 'OBSVALUE'"), std::string::npos);
  // Day rows (a day of samples in one text) are not read as one number.
  Table days = observations();
  days.set_column(Column::from_strings("OBSVALUE", {"1 2 3", "4 5 6", "NULL"}));
  EXPECT_THROW(to_vuzo(days, {}), TypeError);
  EXPECT_NE(error_of([&] { to_vuzo(days, {}); }).find("'OBSVALUE' holds string values"), std::string::npos);
  Table texts = observations();
  texts.reset_key();
  texts.set_column(Column::from_strings("STARTDATE", {"2024-05-10", "2024-05-11", "2024-05-12"}));
  EXPECT_NE(error_of([&] { to_vuzo(texts, {}); }).find("'STARTDATE' holds string values"), std::string::npos);
  // A STARTDATE that is a column already goes first.
  Table column = observations();
  column.reset_key();
  column.insert_column(2, column.remove_column("STARTDATE"));
  EXPECT_EQ(to_vuzo(column, {}).column_names().front(), "STARTDATE");
}

TEST(VuzoFile, RoundTripsRowsTypesZoneAndContext) {
  testing::TempDir dir;
  Table v = to_vuzo(observations(), context());
  parquet::write_table(v, dir / "a.vuzo");
  VuzoFile back = read_vuzo(dir / "a.vuzo");
  testing::expect_same(back.table, v);
  EXPECT_EQ(back.table.column("STARTDATE").zone(), "Asia/Shanghai");
  EXPECT_EQ(back.table.attributes(), v.attributes());
  testing::expect_same(back.context.station_info, context().station_info);
  EXPECT_EQ(back.context.item_info.num_columns(), 0u);
  EXPECT_EQ(back.context.sampling_rate, 60);
  EXPECT_EQ(back.context.export_time, "2024-05-10T08:30:00.000250");
  // Keys in first-seen order, absent keys missing, integers and other
  // numbers in one column as numbers; a column without any value as texts.
  Table u = v;
  u.attributes()["station_info"] = R"([{"A":1,"B":"x"},{"C":true,"A":2.5,"D":null},{}])";
  parquet::write_table(u, dir / "b.vuzo");
  Table stations = read_vuzo(dir / "b.vuzo").context.station_info;
  EXPECT_EQ(stations.column_names(), (std::vector<std::string>{"A", "B", "C", "D"}));
  EXPECT_EQ(stations.column("D").type(), DataType::String);
  EXPECT_EQ(stations.column("A").type(), DataType::Float64);
  EXPECT_EQ(stations.column("A").float64s()[1], 2.5);
  EXPECT_TRUE(stations.column("B").is_null(1));
  EXPECT_EQ(stations.column("C").type(), DataType::Bool);
  EXPECT_TRUE(stations.column("C").is_null(2));
}

TEST(VuzoFile, BytesInMemoryReadAsTheFile) {
  Table v = to_vuzo(observations(), context());
  std::string bytes = parquet::write_table_to_bytes(v);
  VuzoFile back = read_vuzo_from_bytes(bytes, "download");
  testing::expect_same(back.table, v);
  EXPECT_EQ(back.context.sampling_rate, 60);
  EXPECT_EQ(back.context.export_time, "2024-05-10T08:30:00.000250");
  Table plain = v;
  plain.attributes().erase("vuzo.version");
  EXPECT_EQ(error_of([&] { read_vuzo_from_bytes(parquet::write_table_to_bytes(plain), "download"); }),
            "'download' is not a VUZO file: it has no 'vuzo.version' entry");
  EXPECT_THROW(read_vuzo_from_bytes(bytes.substr(0, bytes.size() / 2), "download"), IOError);
  // Entries nested too deeply to handle safely are refused.
  Table deep = v;
  deep.attributes()["sampling_rate"] = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(
      error_of([&] { read_vuzo_from_bytes(parquet::write_table_to_bytes(deep), "download"); }),
      "'download': the VUZO entry 'sampling_rate' cannot be read: arrays and objects nest deeper than 512 levels");
}

TEST(VuzoFile, FilesThatAreNotVuzoAreNamed) {
  testing::TempDir dir;
  Table v = to_vuzo(observations(), context());
  auto file = [&](const std::string& name, const std::function<void(Table&)>& change) {
    Table t = v;
    change(t);
    parquet::write_table(t, dir / name);
    return (dir / name).string();
  };
  std::string plain = file("plain.parquet", [](Table& t) { t.attributes().erase("vuzo.version"); });
  EXPECT_EQ(error_of([&] { read_vuzo(plain); }), "'" + plain + "' is not a VUZO file: it has no 'vuzo.version' entry");
  std::string v2 = file("v2.vuzo", [](Table& t) { t.attributes()["vuzo.version"] = "2"; });
  EXPECT_EQ(error_of([&] { read_vuzo(v2); }),
            "'" + v2 + "' is a VUZO file of version '2'; this reader knows version 1");
  std::string broken = file("broken.vuzo", [](Table& t) { t.attributes()["station_info"] = "[{"; });
  EXPECT_THROW(read_vuzo(broken), IOError);
  EXPECT_TRUE(error_of([&] { read_vuzo(broken); }).starts_with("'" + broken + "': the VUZO entry 'station_info'"));
  std::string no_rate = file("no_rate.vuzo", [](Table& t) { t.attributes().erase("sampling_rate"); });
  EXPECT_EQ(error_of([&] { read_vuzo(no_rate); }),
            "'" + no_rate + "': the VUZO entry 'sampling_rate' cannot be read: it is missing");
  for (const char* rate : {R"("60")", "60.5", "18446744073709551615"}) {
    std::string bad_rate = file("bad_rate.vuzo", [&](Table& t) { t.attributes()["sampling_rate"] = rate; });
    EXPECT_THROW(read_vuzo(bad_rate), IOError) << rate;
  }
  std::string time_number = file("time_number.vuzo", [](Table& t) { t.attributes()["export_time"] = "1"; });
  EXPECT_THROW(read_vuzo(time_number), IOError);
  std::string not_records = file("not_records.vuzo", [](Table& t) { t.attributes()["item_info"] = "[1]"; });
  EXPECT_THROW(read_vuzo(not_records), IOError);
  auto text = dir.write("text.vuzo", "not parquet");
  EXPECT_THROW(read_vuzo(text), IOError);
  EXPECT_NE(error_of([&] { read_vuzo(text); }).find(text.string()), std::string::npos);
  EXPECT_THROW(read_vuzo(dir / "none.vuzo"), FileNotFoundError);
}

}  // namespace
}  // namespace tremora::exchange
