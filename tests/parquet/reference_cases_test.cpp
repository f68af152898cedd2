// Layouts that the field's writers produce and that once read wrongly or
// not at all: byte-stream-split fixed-length values, unsigned 64-bit
// integers, empty page bodies, chunks of no rows, the LZ4 framings, codecs
// we do not have and encrypted files.
#include <gtest/gtest.h>
#include <lz4.h>

#include "craft.hpp"
#include "tremora/errors.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

using namespace testing;

std::string error_of(const std::string& bytes) {
  try {
    read_table_from_bytes(bytes, "f.parquet");
  } catch (const IOError& e) {
    return e.what();
  }
  return "";
}

// The same values of a REQUIRED column, PLAIN and BYTE_STREAM_SPLIT.
std::pair<Table, Table> plain_and_split(const meta::SchemaElement& leaf, const std::string& plain, std::size_t width) {
  std::size_t n = plain.size() / width;
  std::string split(plain.size(), '\0');
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t k = 0; k < width; ++k) split[k * n + i] = plain[i * width + k];
  auto file = [&](const std::string& body, meta::Encoding e) {
    return read_table_from_bytes(craft_file(leaf, {{data_header(int32_t(n), body.size(), e), body}}, int64_t(n)));
  };
  return {file(plain, meta::Encoding::Plain), file(split, meta::Encoding::ByteStreamSplit)};
}

TEST(ReferenceCases, ByteStreamSplitEqualsItsPlainTwin) {
  std::string bytes;
  for (int i = 0; i < 200 * 5; ++i) bytes += char((i * 37 + i / 5) & 0xff);
  meta::SchemaElement flba = column("flba5", meta::PhysicalType::FixedLenByteArray, meta::Repetition::Required);
  flba.type_length = 5;
  auto [plain, split] = plain_and_split(flba, bytes, 5);
  ASSERT_EQ(split.num_rows(), 200u);
  for (std::size_t i = 0; i < 200; ++i) ASSERT_EQ(split.column("flba5").at(i), plain.column("flba5").at(i)) << i;
  EXPECT_EQ(split.column("flba5").text(199), bytes.substr(995, 5));
  std::string doubles;
  for (int i = 0; i < 300; ++i) {
    double v = i * 1.25 - 7;
    doubles += std::string(reinterpret_cast<const char*>(&v), 8);
  }
  auto [dp, ds] = plain_and_split(column("d", meta::PhysicalType::Double, meta::Repetition::Required), doubles, 8);
  EXPECT_EQ(ds.column("d").float64s(), dp.column("d").float64s());
}

std::string int64s(const std::vector<uint64_t>& v) {
  return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 8);
}

TEST(ReferenceCases, UnsignedIntegersReadExactlyOrAreRefused) {
  meta::SchemaElement u64 = column("big", meta::PhysicalType::Int64, meta::Repetition::Required);
  u64.converted_type = meta::kUint64;
  std::string fits = int64s({0, 1, uint64_t(INT64_MAX)});
  Table t = read_table_from_bytes(craft_file(u64, {{data_header(3, fits.size(), meta::Encoding::Plain), fits}}, 3));
  EXPECT_EQ(t.column("big").int64s(), (std::vector<int64_t>{0, 1, INT64_MAX}));
  std::string beyond = int64s({5, UINT64_MAX});
  std::string e = error_of(craft_file(u64, {{data_header(2, beyond.size(), meta::Encoding::Plain), beyond}}, 2));
  EXPECT_NE(e.find("column 'big'"), std::string::npos) << e;
  EXPECT_NE(e.find("18446744073709551615"), std::string::npos) << e;
  // Delta-encoded, the same.
  std::string delta = delta_encode({1, -1});
  e = error_of(craft_file(u64, {{data_header(2, delta.size(), meta::Encoding::DeltaBinaryPacked), delta}}, 2));
  EXPECT_NE(e.find("18446744073709551615"), std::string::npos) << e;
  // UINT_32 stays exact up to its largest value.
  meta::SchemaElement u32 = column("u", meta::PhysicalType::Int32, meta::Repetition::Required);
  u32.converted_type = meta::kUint32;
  std::string top = le32(UINT32_MAX);
  EXPECT_EQ(read_table_from_bytes(craft_file(u32, {{data_header(1, 4, meta::Encoding::Plain), top}}, 1))
                .column("u")
                .int64s()[0],
            int64_t{UINT32_MAX});
}

TEST(ReferenceCases, EmptyPageBodiesAndChunksOfNoRows) {
  // A v2 page of one null: its levels and an empty body that is not decompressed.
  std::string levels;
  std::vector<uint32_t> absent{0};
  rle_encode(absent.data(), 1, 1, levels);
  meta::PageHeader h;
  h.type = meta::PageType::DataV2;
  h.uncompressed_page_size = h.compressed_page_size = int32_t(levels.size());
  h.data_v2 = meta::DataPageHeaderV2{1, 1, 1, meta::Encoding::Plain, int32_t(levels.size()), 0, true};
  for (meta::Codec codec : {meta::Codec::Snappy, meta::Codec::Zstd, meta::Codec::Gzip, meta::Codec::Lz4Raw}) {
    Table t = read_table_from_bytes(craft_file(column("v", meta::PhysicalType::Int64), {{h, levels}}, 1, codec));
    ASSERT_EQ(t.num_rows(), 1u);
    EXPECT_TRUE(t.column("v").is_null(0));
  }
  // A chunk of no rows whose offsets are 0, as Arrow writes it.
  Table none = read_table_from_bytes(
      craft_file(column("v", meta::PhysicalType::Int64), {}, 0, meta::Codec::Snappy, [](meta::ColumnMetaData& m) {
        m.data_page_offset = 0;
        m.total_compressed_size = 0;
      }));
  EXPECT_EQ(none.num_rows(), 0u);
  EXPECT_EQ(none.column("v").type(), DataType::Int64);
}

std::string lz4_block(const std::string& raw) {
  std::string out(std::size_t(LZ4_compressBound(int(raw.size()))), '\0');
  out.resize(std::size_t(LZ4_compress_default(raw.data(), out.data(), int(raw.size()), int(out.size()))));
  return out;
}

std::string be32(uint32_t v) { return {char(v >> 24), char((v >> 16) & 0xff), char((v >> 8) & 0xff), char(v & 0xff)}; }

TEST(ReferenceCases, Lz4InBothFramingsAndLz4Raw) {
  std::vector<uint64_t> values;
  for (uint64_t i = 0; i < 500; ++i) values.push_back(i * i % 97);
  std::string raw = int64s(values);
  auto read = [&](const std::string& packed, meta::Codec codec) {
    meta::PageHeader h = data_header(500, raw.size(), meta::Encoding::Plain);
    h.compressed_page_size = int32_t(packed.size());
    auto leaf = column("v", meta::PhysicalType::Int64, meta::Repetition::Required);
    return read_table_from_bytes(craft_file(leaf, {{h, packed}}, 500, codec), "lz4.parquet");
  };
  std::vector<int64_t> expected(values.begin(), values.end());
  // Hadoop's framing, in two blocks.
  std::string first = raw.substr(0, 1600), second = raw.substr(1600);
  std::string a = lz4_block(first), b = lz4_block(second);
  std::string hadoop = be32(uint32_t(first.size())) + be32(uint32_t(a.size())) + a + be32(uint32_t(second.size())) +
                       be32(uint32_t(b.size())) + b;
  EXPECT_EQ(read(hadoop, meta::Codec::Lz4).column("v").int64s(), expected);
  // The bare block of older writers under the same codec, and LZ4_RAW.
  EXPECT_EQ(read(lz4_block(raw), meta::Codec::Lz4).column("v").int64s(), expected);
  EXPECT_EQ(read(lz4_block(raw), meta::Codec::Lz4Raw).column("v").int64s(), expected);
  // Damage is named by codec.
  std::string broken = lz4_block(raw);
  broken.resize(broken.size() / 2);
  try {
    read(broken, meta::Codec::Lz4Raw);
    FAIL();
  } catch (const IOError& e) {
    EXPECT_NE(std::string(e.what()).find("LZ4_RAW data is corrupt"), std::string::npos) << e.what();
  }
}

TEST(ReferenceCases, UnsupportedCodecsAndEncryptionAreNamed) {
  std::string raw = int64s({1, 2});
  auto leaf = column("v", meta::PhysicalType::Int64, meta::Repetition::Required);
  std::string file = craft_file(leaf, {{data_header(2, raw.size(), meta::Encoding::Plain), raw}}, 2, meta::Codec::Lzo);
  EXPECT_NE(error_of(file).find("the compression codec LZO is not supported"), std::string::npos) << error_of(file);
  // Encrypted footers end in PARE (and so does the start of the file).
  std::string encrypted = craft_file(leaf, {{data_header(2, raw.size(), meta::Encoding::Plain), raw}}, 2);
  encrypted.replace(0, 4, "PARE");
  encrypted.replace(encrypted.size() - 4, 4, "PARE");
  EXPECT_NE(error_of(encrypted).find("encrypted"), std::string::npos) << error_of(encrypted);
  EXPECT_EQ(error_of(encrypted).find("no PAR1 magic"), std::string::npos);
}

}  // namespace
}  // namespace tremora::parquet
