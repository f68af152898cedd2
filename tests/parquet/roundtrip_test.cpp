#include <gtest/gtest.h>

#include <cmath>

#include "table_checks.hpp"
#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

// A table with every element type, missing values in each, and a zone.
Table every_type(std::size_t n) {
  std::vector<int64_t> times, durations, ints;
  std::vector<uint8_t> int_valid, bools, bool_valid;
  std::vector<float> f32;
  std::vector<double> f64;
  std::vector<std::optional<std::string>> codes, notes, blobs;
  for (std::size_t i = 0; i < n; ++i) {
    times.push_back(i % 11 == 3 ? Timestamp::NaT : make_timestamp(2024, 5, 10).ns + int64_t(i) * kNanosPerMinute + 7);
    durations.push_back(i % 13 == 1 ? Timestamp::NaT : int64_t(i) * kNanosPerSecond);
    ints.push_back(int64_t(i) * 1000 - 5);
    int_valid.push_back(i % 5 != 2);
    bools.push_back(i % 3 == 0);
    bool_valid.push_back(i % 7 != 4);
    f32.push_back(i % 9 == 8 ? NAN : float(i) * 0.1f);
    f64.push_back(i % 6 == 5 ? NAN : double(i) / 3);
    codes.push_back(i % 17 == 16 ? std::nullopt : std::optional<std::string>(i % 2 ? "郯城" : "37001"));
    notes.push_back(i % 4 == 3 ? std::nullopt : std::optional<std::string>("note " + std::to_string(i)));
    blobs.push_back(i % 8 == 7 ? std::nullopt : std::optional<std::string>(std::string("\0\x01\xff", 3) + char(i)));
  }
  Table t;
  t.add_column(Column::from_timestamps("STARTDATE", times, "Asia/Shanghai"));
  t.add_column(Column::from_timestamps("NAIVE", times));
  t.add_column(Column::from_float32("OBSVALUE", f32));
  t.add_column(Column::from_float64("D", f64));
  t.add_column(Column::from_int64("N", ints, int_valid));
  t.add_column(Column::from_bool("B", bools, bool_valid));
  t.add_column(Column::from_strings("STATIONID", codes).dictionary_encoded());
  t.add_column(Column::from_strings("NOTE", notes));
  t.add_column(Column::from_binary("BLOB", blobs));
  t.add_column(Column::from_durations("SPAN", durations));
  return t;
}

using testing::expect_same;

TEST(ParquetRoundTrip, EveryTypeCompressionAndRowGroupSize) {
  Table t = every_type(2500);
  t.attributes()["source"] = "GFZ Potsdam";
  for (Compression c : {Compression::snappy, Compression::zstd, Compression::gzip, Compression::none}) {
    for (int64_t group : {int64_t{1} << 20, int64_t{999}, int64_t{1}}) {
      if (group == 1 && c != Compression::snappy) continue;
      for (bool dict : {true, false}) {
        std::string bytes = write_table_to_bytes(
            t, {.compression = c, .row_group_size = group, .dictionary = dict, .metadata = {{"license", "CC BY 4.0"}}});
        Table back = read_table_from_bytes(bytes);
        expect_same(t, back);
        EXPECT_EQ(back.attributes().at("source"), "GFZ Potsdam");
        EXPECT_EQ(back.attributes().at("license"), "CC BY 4.0");
        EXPECT_EQ(back.attributes().count("tremora.zone.STARTDATE"), 0u);
        EXPECT_EQ(back.column("STATIONID").is_dictionary(), dict);
      }
    }
  }
}

TEST(ParquetRoundTrip, FilesSchemaMetadataAndKey) {
  testing::TempDir dir;
  Table t = every_type(10);
  t.set_key_column(Column::from_int64("row", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  auto path = dir / "t.parquet";
  write_table(t, path);
  Table back = read_table(path);
  EXPECT_FALSE(back.has_column("row"));  // the key is not written unless asked
  EXPECT_FALSE(back.has_key());
  write_table(t, path, {.metadata = {{"a", "1"}}, .write_key = true});
  back = read_table(path);
  EXPECT_EQ(back.column(0).name(), "row");
  EXPECT_EQ(back.column("row").at(9), Value(int64_t{9}));
  auto kv = read_metadata(path);
  EXPECT_EQ(kv.at("a"), "1");
  EXPECT_EQ(kv.at("tremora.zone.STARTDATE"), "Asia/Shanghai");
  auto schema = read_schema(path);
  ASSERT_EQ(schema.size(), 11u);
  EXPECT_EQ(schema[1].name, "STARTDATE");
  EXPECT_EQ(schema[1].type, DataType::Timestamp);
  EXPECT_EQ(schema[1].zone, "Asia/Shanghai");
  EXPECT_EQ(schema[2].zone, "");
  EXPECT_EQ(schema[10].type, DataType::Duration);
  EXPECT_THROW(read_table(dir / "none.parquet"), FileNotFoundError);
  EXPECT_THROW(write_table(t, path, {.row_group_size = 0}), std::invalid_argument);
}

TEST(ParquetRoundTrip, EmptyTablesAndLargeDistinctTexts) {
  Table empty = every_type(0);
  Table back = read_table_from_bytes(write_table_to_bytes(empty));
  EXPECT_EQ(back.num_rows(), 0u);
  EXPECT_EQ(back.column_names(), empty.column_names());
  // Distinct texts beyond the dictionary limit are written plain.
  std::vector<std::optional<std::string>> texts;
  for (int i = 0; i < 40000; ++i) texts.push_back(std::string(30, char('a' + i % 26)) + std::to_string(i));
  Table big(std::vector<Column>{Column::from_strings("T", texts)});
  Table read = read_table_from_bytes(write_table_to_bytes(big));
  EXPECT_FALSE(read.column("T").is_dictionary());
  EXPECT_EQ(read.column("T").text(39999), *texts.back());
}

TEST(ParquetRoundTrip, FailedWriteKeepsTheOldFile) {
  testing::TempDir dir;
  auto path = dir / "t.parquet";
  Table t = every_type(5);
  write_table(t, path);
  std::string before = testing::read_text(path);
  Table clash = t;
  clash.set_key_column(Column::from_int64("N", {1, 2, 3, 4, 5}));
  EXPECT_THROW(write_table(clash, path, {.write_key = true}), std::invalid_argument);
  EXPECT_EQ(testing::read_text(path), before);
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST(ParquetRoundTrip, StringColumnsHoldOnlyUtf8) {
  const std::string bad =
      "37\xff"
      "01";  // 0xFF never occurs in UTF-8
  std::vector<std::optional<std::string>> texts = {"郯城", std::nullopt, "ok", bad, bad};
  Table plain(std::vector<Column>{Column::from_strings("STATIONID", texts)});
  const std::string expected =
      "column 'STATIONID', row 3 (rows counted from 0): the text is not valid UTF-8, which a Parquet string "
      "column cannot hold";
  for (bool dict : {true, false}) {
    EXPECT_EQ(testing::error_of([&] { write_table_to_bytes(plain, {.dictionary = dict}); }), expected);
    Table coded(std::vector<Column>{plain.column("STATIONID").dictionary_encoded()});
    EXPECT_EQ(testing::error_of([&] { write_table_to_bytes(coded, {.dictionary = dict}); }), expected);
  }
  Table keyed(std::vector<Column>{Column::from_int64("N", {1, 2, 3, 4, 5})});
  keyed.set_key_column(Column::from_strings("id", texts));
  EXPECT_NE(testing::error_of([&] { write_table_to_bytes(keyed, {.write_key = true}); }).find("column 'id', row 3"),
            std::string::npos);
  EXPECT_NO_THROW(write_table_to_bytes(keyed));  // the key is not written

  // A dictionary text that no row uses is left out of the file.
  Table unused(std::vector<Column>{Column::from_dictionary("S", {0, -1, 0}, {"ok", bad})});
  std::string bytes = write_table_to_bytes(unused, {.compression = Compression::none});
  EXPECT_EQ(bytes.find(bad), std::string::npos);
  Table back = read_table_from_bytes(bytes);
  EXPECT_EQ(back.column("S").text(2), "ok");
  EXPECT_TRUE(back.column("S").is_null(1));

  // Bytes are written as bytes, without the string annotation.
  Table blobs(std::vector<Column>{Column::from_binary("BLOB", texts)});
  back = read_table_from_bytes(write_table_to_bytes(blobs));
  EXPECT_EQ(back.column("BLOB").type(), DataType::Binary);
  EXPECT_EQ(back.column("BLOB").text(3), bad);
}

}  // namespace
}  // namespace tremora::parquet
