// Builds small Parquet files page by page, for tests that need files our
// writer does not produce (other physical types, encodings, damaged pages).
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "encoding.hpp"
#include "metadata.hpp"

namespace tremora::parquet::testing {

using Page = std::pair<meta::PageHeader, std::string>;

inline std::string le32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

/// A file of one column described by `leaf`, made of `pages`; `adjust`
/// changes the chunk's metadata last (offsets as another writer sets them).
inline std::string craft_file(const meta::SchemaElement& leaf, const std::vector<Page>& pages, int64_t rows,
                              meta::Codec codec = meta::Codec::Uncompressed,
                              const std::function<void(meta::ColumnMetaData&)>& adjust = {}) {
  std::string out = "PAR1";
  meta::ColumnMetaData m;
  m.type = *leaf.type;
  m.path = {leaf.name};
  m.codec = codec;
  m.num_values = rows;
  m.data_page_offset = 4;
  for (const auto& [header, body] : pages) {
    if (header.type == meta::PageType::Dictionary) m.dictionary_page_offset = int64_t(out.size());
    std::string h;
    thrift::Writer w(h);
    meta::write(w, header);
    out += h + body;
  }
  m.total_compressed_size = int64_t(out.size()) - 4;
  if (adjust) adjust(m);
  meta::FileMetaData fm;
  fm.num_rows = rows;
  meta::SchemaElement root;
  root.name = "schema";
  root.num_children = 1;
  fm.schema = {root, leaf};
  meta::RowGroup g;
  g.num_rows = rows;
  meta::ColumnChunk c;
  c.meta = m;
  g.columns = {c};
  fm.row_groups = {g};
  std::string footer;
  thrift::Writer w(footer);
  meta::write(w, fm);
  return out + footer + le32(uint32_t(footer.size())) + "PAR1";
}

inline meta::SchemaElement column(const std::string& name, meta::PhysicalType type,
                                  meta::Repetition repetition = meta::Repetition::Optional) {
  meta::SchemaElement e;
  e.name = name;
  e.type = type;
  e.repetition = repetition;
  return e;
}

inline meta::PageHeader dictionary_header(int32_t values, std::size_t size) {
  meta::PageHeader h;
  h.type = meta::PageType::Dictionary;
  h.uncompressed_page_size = h.compressed_page_size = int32_t(size);
  h.dictionary = meta::DictionaryPageHeader{values, meta::Encoding::Plain};
  return h;
}

inline meta::PageHeader data_header(int32_t values, std::size_t size, meta::Encoding encoding) {
  meta::PageHeader h;
  h.type = meta::PageType::Data;
  h.uncompressed_page_size = h.compressed_page_size = int32_t(size);
  h.data = meta::DataPageHeader{values, encoding, meta::Encoding::Rle, meta::Encoding::Rle};
  return h;
}

/// Definition levels of a v1 page (1 = value, 0 = null) with their length.
inline std::string levels_v1(const std::vector<uint32_t>& present) {
  std::string levels;
  rle_encode(present.data(), present.size(), 1, levels);
  return le32(uint32_t(levels.size())) + levels;
}

/// DELTA_BINARY_PACKED encoding: blocks of 128 values in one miniblock.
inline std::string delta_encode(const std::vector<int64_t>& v) {
  std::string out;
  auto varint = [&](uint64_t x) {
    while (x >= 0x80) out += char(uint8_t(x) | 0x80), x >>= 7;
    out += char(uint8_t(x));
  };
  auto zigzag = [](int64_t x) { return (uint64_t(x) << 1) ^ uint64_t(x >> 63); };
  varint(128);
  varint(1);
  varint(v.size());
  varint(zigzag(v.empty() ? 0 : v[0]));
  for (std::size_t start = 1; start < v.size(); start += 128) {
    std::vector<int64_t> d;
    for (std::size_t i = start; i < std::min(v.size(), start + 128); ++i) d.push_back(v[i] - v[i - 1]);
    int64_t lo = *std::min_element(d.begin(), d.end()), hi = *std::max_element(d.begin(), d.end());
    int width = bit_width(uint64_t(hi - lo));
    varint(zigzag(lo));
    out += char(width);
    uint64_t acc = 0;
    int bits = 0;
    for (std::size_t k = 0; k < 128; ++k) {
      uint64_t x = k < d.size() ? uint64_t(d[k] - lo) : 0;
      for (int b = 0; b < width; ++b) {
        acc |= ((x >> b) & 1) << bits;
        if (++bits == 8) out += char(uint8_t(acc)), acc = 0, bits = 0;
      }
    }
  }
  return out;
}

inline std::string plain_texts(const std::vector<std::string>& texts) {
  std::string out;
  for (const auto& t : texts) out += le32(uint32_t(t.size())) + t;
  return out;
}

}  // namespace tremora::parquet::testing
