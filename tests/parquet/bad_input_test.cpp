// Damaged and hostile Parquet input must give IOError, never a crash, a hang
// or an absurd allocation.
#include <gtest/gtest.h>

#include <random>

#include "compression.hpp"
#include "craft.hpp"
#include "encoding.hpp"
#include "metadata.hpp"
#include "tremora/errors.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

std::string valid_file() {
  std::vector<int64_t> times;
  std::vector<float> values;
  std::vector<std::optional<std::string>> codes;
  for (int i = 0; i < 300; ++i) {
    times.push_back(i % 17 ? int64_t(i) * kNanosPerMinute : Timestamp::NaT);
    values.push_back(i % 13 ? float(i) : NAN);
    codes.push_back(i % 11 ? std::optional<std::string>(i % 2 ? "a" : "郯城") : std::nullopt);
  }
  Table t;
  t.add_column(Column::from_timestamps("T", times, "UTC"));
  t.add_column(Column::from_float32("V", values));
  t.add_column(Column::from_strings("S", codes).dictionary_encoded());
  return write_table_to_bytes(t, {.row_group_size = 100});
}

// Reads bytes and says what happened: "ok", or the IOError message.
std::string outcome(const std::string& bytes) {
  try {
    read_table_from_bytes(bytes, "x.parquet");
    return "ok";
  } catch (const IOError& e) {
    std::string m = e.what();
    EXPECT_EQ(m.rfind("x.parquet: ", 0), 0u) << m;
    return m;
  }
}

TEST(ParquetBadInput, EveryTruncationIsAnError) {
  std::string good = valid_file();
  ASSERT_EQ(outcome(good), "ok");
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(outcome(good.substr(0, n)), "ok") << n;
}

TEST(ParquetBadInput, RandomByteFlipsNeverCrash) {
  std::string good = valid_file();
  std::mt19937 rng(12345);
  int errors = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string bad = good;
    int flips = 1 + int(rng() % 3);
    for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] ^= char(1 + rng() % 255);
    errors += outcome(bad) != "ok";  // any IOError is fine; other exceptions fail the test
  }
  EXPECT_GT(errors, 100);
}

TEST(ParquetBadInput, NotParquetAndCorruptFooter) {
  EXPECT_NE(outcome("hello, this is a CSV file\n1,2,3\n").find("not a Parquet file"), std::string::npos);
  EXPECT_NE(outcome("").find("too short"), std::string::npos);
  std::string good = valid_file();
  std::string bad = good;
  uint32_t huge = 0x7FFFFFF0;
  std::memcpy(bad.data() + bad.size() - 8, &huge, 4);
  EXPECT_NE(outcome(bad).find("corrupt footer length"), std::string::npos);
  bad = good;
  uint32_t small = 3;
  std::memcpy(bad.data() + bad.size() - 8, &small, 4);
  EXPECT_NE(outcome(bad).find("footer"), std::string::npos);
}

using testing::craft_file;
using testing::data_header;
using testing::dictionary_header;
using testing::plain_texts;

std::string craft(const std::vector<testing::Page>& pages, int64_t rows,
                  meta::Codec codec = meta::Codec::Uncompressed) {
  meta::SchemaElement leaf = testing::column("S", meta::PhysicalType::ByteArray);
  leaf.logical.kind = meta::LogicalType::Kind::String;
  return craft_file(leaf, pages, rows, codec);
}

// Definition levels (all present) then dictionary indices of bit width 3.
std::string indexed_body(const std::vector<uint32_t>& idx) {
  std::string levels;
  rle_encode_repeated(1, idx.size(), 1, levels);
  uint32_t n = uint32_t(levels.size());
  std::string body = std::string(reinterpret_cast<const char*>(&n), 4) + levels + char(3);
  rle_encode(idx.data(), idx.size(), 3, body);
  return body;
}

TEST(ParquetBadInput, CraftedPagesNameWhatIsWrong) {
  std::string dict = plain_texts({"a", "b"});
  std::string body = indexed_body({0, 1, 1, 0});
  // The crafted file itself is sound.
  std::string good = craft(
      {{dictionary_header(2, dict.size()), dict}, {data_header(4, body.size(), meta::Encoding::RleDictionary), body}},
      4);
  Table t = read_table_from_bytes(good);
  EXPECT_EQ(t.column("S").text(2), "b");
  // A dictionary index past the dictionary.
  std::string out_of_range = indexed_body({0, 5, 1, 0});
  EXPECT_NE(outcome(craft({{dictionary_header(2, dict.size()), dict},
                           {data_header(4, out_of_range.size(), meta::Encoding::RleDictionary), out_of_range}},
                          4))
                .find("index is out of range"),
            std::string::npos);
  // A page size that points past the end of the chunk.
  meta::PageHeader past = data_header(4, body.size(), meta::Encoding::RleDictionary);
  past.compressed_page_size = 1 << 30;
  EXPECT_NE(outcome(craft({{dictionary_header(2, dict.size()), dict}, {past, body}}, 4)).find("past the end"),
            std::string::npos);
  // Pages that hold fewer values than the chunk claims.
  EXPECT_NE(outcome(craft({{dictionary_header(2, dict.size()), dict},
                           {data_header(4, body.size(), meta::Encoding::RleDictionary), body}},
                          9))
                .find("ends before all its values"),
            std::string::npos);
  // A dictionary page that claims more texts than it holds.
  EXPECT_NE(outcome(craft({{dictionary_header(1000000, dict.size()), dict},
                           {data_header(4, body.size(), meta::Encoding::RleDictionary), body}},
                          4))
                .find("ends early"),
            std::string::npos);
  // Indices without a dictionary.
  EXPECT_NE(outcome(craft({{data_header(4, body.size(), meta::Encoding::RleDictionary), body}}, 4))
                .find("without a dictionary"),
            std::string::npos);
  // Compressed data that does not decompress.
  meta::PageHeader snappy_page = data_header(4, body.size(), meta::Encoding::RleDictionary);
  std::string garbage(body.size(), '\xff');
  snappy_page.compressed_page_size = int32_t(garbage.size());
  EXPECT_NE(outcome(craft({{snappy_page, garbage}}, 4, meta::Codec::Snappy)).find("snappy"), std::string::npos);
  // An encoding we do not know.
  EXPECT_NE(outcome(craft({{data_header(4, body.size(), meta::Encoding(42)), body}}, 4)).find("unsupported encoding"),
            std::string::npos);
}

// A few bytes can claim any size or number of values; the reader refuses
// what the file's bytes cannot hold before it sets memory aside.
TEST(ParquetBadInput, ClaimedSizesStayInProportionToTheFile) {
  // A snappy page whose preamble states 256 MiB: snappy expands data at most
  // about 21 times.
  constexpr int32_t kHuge = 1 << 28;
  std::string snappy_body = "\x80\x80\x80\x80\x01" + std::string(8, '\0');  // varint 2^28, then too little
  meta::PageHeader snappy_page = data_header(4, snappy_body.size(), meta::Encoding::Plain);
  snappy_page.uncompressed_page_size = kHuge;
  EXPECT_NE(outcome(craft({{snappy_page, snappy_body}}, 4, meta::Codec::Snappy)).find("cannot expand to the stated"),
            std::string::npos);
  // A zstd frame whose header states 256 MiB of content (single segment,
  // four-byte content size), followed by one small RLE block.
  std::string zstd_body =
      std::string("\x28\xB5\x2F\xFD\xA0", 5) + testing::le32(uint32_t(kHuge)) + std::string("\x83\x00\x00\x07", 4);
  meta::PageHeader zstd_page = data_header(4, zstd_body.size(), meta::Encoding::Plain);
  zstd_page.uncompressed_page_size = kHuge;
  EXPECT_NE(outcome(craft({{zstd_page, zstd_body}}, 4, meta::Codec::Zstd)).find("cannot expand to the stated"),
            std::string::npos);
  // One run of definition levels standing for 2^25 missing values.
  constexpr int64_t kRows = int64_t{1} << 25;
  std::string levels;
  rle_encode_repeated(0, std::size_t(kRows), 1, levels);
  std::string nulls = testing::le32(uint32_t(levels.size())) + levels;
  std::string file = craft_file(testing::column("N", meta::PhysicalType::Int64),
                                {{data_header(int32_t(kRows), nulls.size(), meta::Encoding::Plain), nulls}}, kRows);
  EXPECT_EQ(outcome(file), "x.parquet: the file claims 33554432 rows of 1 columns, more values than its " +
                               std::to_string(file.size()) + " bytes can hold");
}

TEST(ParquetBadInput, HybridDecoderChecksBounds) {
  std::vector<uint32_t> v{1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 0, 1, 2, 3, 1, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 0};
  std::string enc;
  rle_encode(v.data(), v.size(), 3, enc);
  std::vector<uint32_t> back(v.size());
  rle_decode(enc, 3, v.size(), 8, back.data());
  EXPECT_EQ(back, v);
  EXPECT_THROW(rle_decode(enc, 3, v.size(), 7, back.data()), DecodeError);
  EXPECT_THROW(rle_decode(enc.substr(0, enc.size() - 1), 3, v.size(), 8, back.data()), DecodeError);
  EXPECT_THROW(rle_decode(enc, 33, 1, 8, back.data()), DecodeError);
  std::mt19937 rng(9);
  for (int round = 0; round < 200; ++round) {
    int width = 1 + int(rng() % 20);
    std::vector<uint32_t> r(rng() % 500);
    uint32_t mask = (1u << width) - 1;
    for (auto& x : r) x = (rng() % 3 ? uint32_t(rng() % 4) : uint32_t(rng())) & mask;
    std::string e;
    rle_encode(r.data(), r.size(), width, e);
    std::vector<uint32_t> d(r.size());
    rle_decode(e, width, r.size(), UINT32_MAX, d.data());
    ASSERT_EQ(d, r) << "width " << width;
  }
}

}  // namespace
}  // namespace tremora::parquet
