// Files with layouts our writer does not produce but other writers do:
// legacy INT96 and converted-type timestamps, REQUIRED columns, data pages
// v2, RLE booleans, prefix-encoded texts, nested schemas.
#include <gtest/gtest.h>

#include <cmath>

#include "craft.hpp"
#include "tremora/errors.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

using namespace testing;

TEST(OtherWriters, Int96AndLegacyTimestamps) {
  // INT96: nanoseconds of the day, then the Julian day number.
  std::string values;
  for (int64_t nanos : {int64_t{0}, 12 * kNanosPerHour + 5}) {
    values += std::string(reinterpret_cast<const char*>(&nanos), 8);
    values += le32(2460441);  // 2024-05-10
  }
  std::string body = levels_v1({1, 1}) + values;
  Table t = read_table_from_bytes(craft_file(column("T", meta::PhysicalType::Int96),
                                             {{data_header(2, body.size(), meta::Encoding::Plain), body}}, 2));
  EXPECT_EQ(t.column("T").type(), DataType::Timestamp);
  EXPECT_EQ(t.column("T").zone(), "");
  EXPECT_EQ(t.column("T").int64s()[0], make_timestamp(2024, 5, 10).ns);
  EXPECT_EQ(t.column("T").int64s()[1], make_timestamp(2024, 5, 10, 12).ns + 5);

  // A REQUIRED INT64 column with the legacy TIMESTAMP_MILLIS annotation: UTC, no levels.
  meta::SchemaElement ms = column("MS", meta::PhysicalType::Int64, meta::Repetition::Required);
  ms.converted_type = meta::kTimestampMillis;
  int64_t millis = 1715299200123;
  std::string plain(reinterpret_cast<const char*>(&millis), 8);
  Table m = read_table_from_bytes(craft_file(ms, {{data_header(1, plain.size(), meta::Encoding::Plain), plain}}, 1));
  EXPECT_EQ(m.column("MS").zone(), "UTC");
  EXPECT_EQ(m.column("MS").int64s()[0], millis * 1'000'000);
  // 9999-12-31 in milliseconds does not fit in nanoseconds: an error, not a wrapped value.
  int64_t far = 253402214400000;
  std::string far_plain(reinterpret_cast<const char*>(&far), 8);
  try {
    read_table_from_bytes(craft_file(ms, {{data_header(1, 8, meta::Encoding::Plain), far_plain}}, 1), "far.parquet");
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("out of the range"), std::string::npos) << e.what();
  }
}

TEST(OtherWriters, DataPageV2WithNullsAndRleBooleans) {
  // Booleans true, null, false, true: levels (uncompressed in v2) then RLE values.
  std::string levels;
  std::vector<uint32_t> present{1, 0, 1, 1};
  rle_encode(present.data(), present.size(), 1, levels);
  std::string bits;
  std::vector<uint32_t> v{1, 0, 1};
  rle_encode(v.data(), v.size(), 1, bits);
  std::string values = le32(uint32_t(bits.size())) + bits;
  meta::PageHeader h;
  h.type = meta::PageType::DataV2;
  h.uncompressed_page_size = h.compressed_page_size = int32_t(levels.size() + values.size());
  h.data_v2 = meta::DataPageHeaderV2{4, 1, 4, meta::Encoding::Rle, int32_t(levels.size()), 0, false};
  Table t = read_table_from_bytes(craft_file(column("B", meta::PhysicalType::Boolean), {{h, levels + values}}, 4));
  const Column& b = t.column("B");
  EXPECT_EQ(b.at(0), Value(true));
  EXPECT_TRUE(b.is_null(1));
  EXPECT_EQ(b.at(2), Value(false));
  EXPECT_EQ(b.at(3), Value(true));
}

TEST(OtherWriters, DeltaEncodedIntegersAndTexts) {
  std::vector<int64_t> ints;
  for (int i = 0; i < 1000; ++i) ints.push_back(int64_t(i) * i * (i % 2 ? -1 : 1) - 5);
  std::vector<uint32_t> all(ints.size(), 1);
  std::string body = levels_v1(all) + delta_encode(ints);
  Table t = read_table_from_bytes(
      craft_file(column("N", meta::PhysicalType::Int64),
                 {{data_header(1000, body.size(), meta::Encoding::DeltaBinaryPacked), body}}, 1000));
  EXPECT_EQ(t.column("N").int64s(), ints);

  meta::SchemaElement leaf = column("S", meta::PhysicalType::ByteArray);
  leaf.logical.kind = meta::LogicalType::Kind::String;
  // "station", "stationA", "stationB": prefixes 0, 7, 7 and suffixes "station", "A", "B".
  std::string texts = levels_v1({1, 1, 1}) + delta_encode({0, 7, 7}) + delta_encode({7, 1, 1}) + "stationAB";
  Table s = read_table_from_bytes(
      craft_file(leaf, {{data_header(3, texts.size(), meta::Encoding::DeltaByteArray), texts}}, 3));
  EXPECT_EQ(s.column("S").text(0), "station");
  EXPECT_EQ(s.column("S").text(1), "stationA");
  EXPECT_EQ(s.column("S").text(2), "stationB");
  // Lengths, then the bytes.
  std::string lengths = levels_v1({1, 1}) + delta_encode({2, 3}) + "abcde";
  Table l = read_table_from_bytes(
      craft_file(leaf, {{data_header(2, lengths.size(), meta::Encoding::DeltaLengthByteArray), lengths}}, 2));
  EXPECT_EQ(l.column("S").text(1), "cde");

  // One megabyte of text repeated as the whole prefix of 100000 values would
  // expand to 100 GB: refused with an error instead.
  std::size_t n = 100000;
  int64_t len = 1 << 20;
  std::vector<int64_t> prefixes(n, len), suffixes(n, 0);
  prefixes[0] = 0;
  suffixes[0] = len;
  std::string bomb = levels_v1(std::vector<uint32_t>(n, 1)) + delta_encode(prefixes) + delta_encode(suffixes) +
                     std::string(std::size_t(len), 'x');
  try {
    read_table_from_bytes(
        craft_file(leaf, {{data_header(int32_t(n), bomb.size(), meta::Encoding::DeltaByteArray), bomb}}, int64_t(n)),
        "bomb.parquet");
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("expand too far"), std::string::npos) << e.what();
  }
}

TEST(OtherWriters, NestedSchemasAreRefused) {
  meta::SchemaElement leaf = column("x", meta::PhysicalType::Int64);
  std::string file = craft_file(leaf, {}, 0);
  EXPECT_NO_THROW(read_table_from_bytes(file));
  // A schema whose root does not count its children as leaves.
  meta::SchemaElement group;
  group.name = "g";
  group.num_children = 1;
  group.repetition = meta::Repetition::Optional;
  meta::FileMetaData fm;
  meta::SchemaElement root;
  root.name = "schema";
  root.num_children = 1;
  fm.schema = {root, group, leaf};
  std::string footer;
  thrift::Writer w(footer);
  meta::write(w, fm);
  std::string nested = "PAR1" + footer + le32(uint32_t(footer.size())) + "PAR1";
  try {
    read_table_from_bytes(nested, "n.parquet");
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("nested"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tremora::parquet
