// Writes tables as Parquet files: one OPTIONAL leaf column per table column,
// row groups of a fixed number of rows, data pages v1 of about 1 MiB, string
// columns (UTF-8 only) with a dictionary page when they are
// dictionary-encoded, and chunk statistics (null count, minimum, maximum).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <sstream>

#include "compression.hpp"
#include "encoding.hpp"
#include "metadata.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/parquet.hpp"
#include "tremora/text.hpp"

namespace tremora::parquet {
namespace {

using meta::Encoding;
using meta::PhysicalType;

constexpr std::size_t kPageBytes = 1 << 20;
constexpr std::size_t kMaxDictionaryBytes = 1 << 20;
constexpr char kMagic[] = "PAR1";

meta::Codec codec_of(Compression c) {
  switch (c) {
    case Compression::none: return meta::Codec::Uncompressed;
    case Compression::snappy: return meta::Codec::Snappy;
    case Compression::gzip: return meta::Codec::Gzip;
    case Compression::zstd: return meta::Codec::Zstd;
  }
  return meta::Codec::Snappy;
}

template <typename T>
void append_le(std::string& out, T v) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  out.append(b, sizeof(T));
}

template <typename T>
std::string le_bytes(T v) {
  std::string s;
  append_le(s, v);
  return s;
}

// One table column as it is written.
struct LeafColumn {
  // The table's column, or a re-encoded copy of a string column.
  std::shared_ptr<const Column> column;
  PhysicalType physical = PhysicalType::Int64;
  meta::SchemaElement schema;
  bool dictionary = false;
};

std::size_t dictionary_bytes(const Column& c) {
  std::size_t n = 0;
  for (const auto& s : c.dictionary()) n += s.size() + 4;
  return n;
}

[[noreturn]] void fail_not_utf8(const Column& c, std::size_t row) {
  throw std::invalid_argument("column '" + c.name() + "', row " + std::to_string(row) +
                              " (rows counted from 0): the text is not valid UTF-8, which a Parquet string "
                              "column cannot hold");
}

// Parquet string values must be UTF-8 (readers refuse the file otherwise):
// the first row holding other bytes is refused by number. Dictionary texts
// are checked once each, not once per row; a dictionary column whose
// invalid texts no row uses comes back re-encoded without them, so that
// they are not written either.
std::shared_ptr<const Column> utf8_texts(std::shared_ptr<const Column> column) {
  const Column& c = *column;
  if (!c.is_dictionary()) {
    for (std::size_t i = 0; i < c.size(); ++i)
      if (!is_valid_utf8(c.text(i))) fail_not_utf8(c, i);
    return column;
  }
  const std::vector<std::string>& dictionary = c.dictionary();
  std::vector<uint8_t> invalid(dictionary.size());
  bool any = false;
  for (std::size_t k = 0; k < dictionary.size(); ++k) any |= (invalid[k] = !is_valid_utf8(dictionary[k]));
  if (!any) return column;
  const std::vector<int32_t>& codes = c.codes();
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (codes[i] >= 0 && invalid[std::size_t(codes[i])]) fail_not_utf8(c, i);
  return std::make_shared<const Column>(c.plain_encoded().dictionary_encoded());
}

// Plans how a column is written; `column` may share the caller's column.
// Its name goes into the schema, whose texts must be UTF-8 as its values'.
LeafColumn plan_leaf(std::shared_ptr<const Column> column, bool use_dictionary) {
  if (!is_valid_utf8(column->name()))
    throw std::invalid_argument("column name '" + escape_controls(column->name()) +
                                "' is not valid UTF-8, which a Parquet schema cannot hold");
  if (column->type() == DataType::String) column = utf8_texts(std::move(column));
  const Column& c = *column;
  LeafColumn leaf;
  leaf.schema.name = c.name();
  leaf.schema.repetition = meta::Repetition::Optional;
  using K = meta::LogicalType::Kind;
  switch (c.type()) {
    case DataType::Float32: leaf.physical = PhysicalType::Float; break;
    case DataType::Float64: leaf.physical = PhysicalType::Double; break;
    case DataType::Int64:
    case DataType::Duration: leaf.physical = PhysicalType::Int64; break;
    case DataType::Bool: leaf.physical = PhysicalType::Boolean; break;
    case DataType::Binary: leaf.physical = PhysicalType::ByteArray; break;
    case DataType::Timestamp:
      leaf.physical = PhysicalType::Int64;
      leaf.schema.logical.kind = K::Timestamp;
      leaf.schema.logical.unit = meta::TimeUnit::Nanos;
      leaf.schema.logical.adjusted_to_utc = !c.zone().empty();
      break;
    case DataType::String:
      leaf.physical = PhysicalType::ByteArray;
      leaf.schema.logical.kind = K::String;
      leaf.schema.converted_type = meta::kUtf8;
      break;
  }
  leaf.schema.type = leaf.physical;
  if (c.type() == DataType::String && use_dictionary) {
    auto dict = std::make_shared<const Column>(c.dictionary_encoded());
    if (dictionary_bytes(*dict) <= kMaxDictionaryBytes) {
      leaf.column = std::move(dict);
      leaf.dictionary = true;
      return leaf;
    }
  }
  if (c.is_dictionary()) leaf.column = std::make_shared<const Column>(c.plain_encoded());
  else leaf.column = std::move(column);
  return leaf;
}

// Null flags of rows [begin, end), empty when none is null.
std::vector<uint8_t> null_flags(const Column& c, std::size_t begin, std::size_t end) {
  std::vector<uint8_t> flags(end - begin);
  bool any = false;
  auto fill = [&](const auto& is_null) {
    for (std::size_t i = begin; i < end; ++i) any |= (flags[i - begin] = is_null(i));
  };
  switch (c.type()) {
    case DataType::Float32: {
      const float* v = c.float32s().data();
      fill([v](std::size_t i) { return v[i] != v[i]; });
      break;
    }
    case DataType::Float64: {
      const double* v = c.float64s().data();
      fill([v](std::size_t i) { return v[i] != v[i]; });
      break;
    }
    case DataType::Timestamp:
    case DataType::Duration: {
      const int64_t* v = c.int64s().data();
      fill([v](std::size_t i) { return v[i] == Timestamp::NaT; });
      break;
    }
    default:
      if (c.is_dictionary()) {
        const int32_t* v = c.codes().data();
        fill([v](std::size_t i) { return v[i] < 0; });
      } else if (!c.validity().empty()) {
        const uint8_t* v = c.validity().data();
        fill([v](std::size_t i) { return v[i] == 0; });
      }
  }
  if (!any) flags.clear();
  return flags;
}

// Rows [begin, end) of a page or chunk and their null flags.
struct Span {
  std::size_t begin, end;
  std::vector<uint8_t> nulls;  // empty when nothing is null
  bool null_at(std::size_t i) const { return !nulls.empty() && nulls[i - begin]; }
  std::size_t null_count() const { return std::size_t(std::count(nulls.begin(), nulls.end(), uint8_t{1})); }
};

// Min and max of the non-null values, PLAIN-encoded.
struct MinMax {
  std::optional<std::string> min, max;
};

template <typename T>
MinMax numeric_min_max(const T* v, const Span& s) {
  bool any = false;
  T lo{}, hi{};
  for (std::size_t i = s.begin; i < s.end; ++i) {
    if (s.null_at(i)) continue;
    if (!any) lo = hi = v[i], any = true;
    else lo = std::min(lo, v[i]), hi = std::max(hi, v[i]);
  }
  if (!any) return {};
  if constexpr (std::is_floating_point_v<T>) {
    if (lo == 0) lo = -T(0);  // a zero minimum is written as -0, a zero maximum as +0
    if (hi == 0) hi = T(0);
  }
  return {le_bytes(lo), le_bytes(hi)};
}

MinMax text_min_max(const Column& c, const Span& s) {
  std::optional<std::string_view> lo, hi;
  auto consider = [&](std::string_view t) {
    if (!lo || t < *lo) lo = t;
    if (!hi || t > *hi) hi = t;
  };
  if (c.is_dictionary()) {
    std::vector<uint8_t> used(c.dictionary().size());
    const int32_t* codes = c.codes().data();
    for (std::size_t i = s.begin; i < s.end; ++i)
      if (codes[i] >= 0) used[codes[i]] = 1;
    for (std::size_t k = 0; k < used.size(); ++k)
      if (used[k]) consider(c.dictionary()[k]);
  } else {
    for (std::size_t i = s.begin; i < s.end; ++i)
      if (!s.null_at(i)) consider(c.text(i));
  }
  if (!lo) return {};
  return {std::string(*lo), std::string(*hi)};
}

MinMax min_max(const Column& c, const Span& s) {
  switch (c.type()) {
    case DataType::Float32: return numeric_min_max(c.float32s().data(), s);
    case DataType::Float64: return numeric_min_max(c.float64s().data(), s);
    case DataType::Bool: return numeric_min_max(c.bools().data(), s);
    case DataType::String:
    case DataType::Binary: return text_min_max(c, s);
    default: return numeric_min_max(c.int64s().data(), s);
  }
}

// Definition levels: 1 for a value, 0 for null, with their length in front.
void encode_levels(const Span& s, std::string& out) {
  std::string levels;
  if (s.nulls.empty()) {
    rle_encode_repeated(1, s.end - s.begin, 1, levels);
  } else {
    std::vector<uint32_t> v(s.nulls.size());
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = !s.nulls[i];
    rle_encode(v.data(), v.size(), 1, levels);
  }
  append_le(out, uint32_t(levels.size()));
  out += levels;
}

template <typename T>
void plain_fixed(const T* v, const Span& s, std::string& out) {
  if (s.nulls.empty()) {
    out.append(reinterpret_cast<const char*>(v + s.begin), (s.end - s.begin) * sizeof(T));
    return;
  }
  for (std::size_t i = s.begin; i < s.end; ++i)
    if (!s.null_at(i)) append_le(out, v[i]);
}

void plain_values(const Column& c, const Span& s, std::string& out) {
  switch (c.type()) {
    case DataType::Float32: return plain_fixed(c.float32s().data(), s, out);
    case DataType::Float64: return plain_fixed(c.float64s().data(), s, out);
    case DataType::Bool: {
      const uint8_t* v = c.bools().data();
      uint8_t acc = 0;
      int bits = 0;
      for (std::size_t i = s.begin; i < s.end; ++i) {
        if (s.null_at(i)) continue;
        acc |= uint8_t(v[i] << bits);
        if (++bits == 8) out += char(acc), acc = 0, bits = 0;
      }
      if (bits) out += char(acc);
      return;
    }
    case DataType::String:
    case DataType::Binary:
      for (std::size_t i = s.begin; i < s.end; ++i) {
        if (s.null_at(i)) continue;
        std::string_view t = c.text(i);
        append_le(out, uint32_t(t.size()));
        out.append(t);
      }
      return;
    default: return plain_fixed(c.int64s().data(), s, out);
  }
}

void dictionary_indices(const Column& c, const Span& s, std::string& out) {
  std::vector<uint32_t> idx;
  idx.reserve(s.end - s.begin);
  const int32_t* codes = c.codes().data();
  for (std::size_t i = s.begin; i < s.end; ++i)
    if (codes[i] >= 0) idx.push_back(uint32_t(codes[i]));
  int width = bit_width(c.dictionary().empty() ? 0 : c.dictionary().size() - 1);
  out += char(width);
  rle_encode(idx.data(), idx.size(), width, out);
}

// Writes bytes to the stream, keeping count of the file offset.
class Output {
 public:
  explicit Output(std::ostream& out) : out_(out) {}
  void write(std::string_view bytes) {
    out_.write(bytes.data(), std::streamsize(bytes.size()));
    offset_ += int64_t(bytes.size());
  }
  int64_t offset() const { return offset_; }

 private:
  std::ostream& out_;
  int64_t offset_ = 0;
};

// Compresses a page body and writes it with its header; returns the bytes
// written (header included) and adds the uncompressed size to `uncompressed`.
int64_t write_page(Output& out, meta::PageHeader header, std::string_view body, meta::Codec codec,
                   int64_t& uncompressed) {
  std::string compressed = compress(codec, body);
  if (body.size() > INT32_MAX || compressed.size() > INT32_MAX) throw IOError("a page is larger than 2 GiB");
  header.uncompressed_page_size = int32_t(body.size());
  header.compressed_page_size = int32_t(compressed.size());
  std::string head;
  thrift::Writer w(head);
  meta::write(w, header);
  out.write(head);
  out.write(compressed);
  uncompressed += int64_t(head.size() + body.size());
  return int64_t(head.size() + compressed.size());
}

meta::ColumnChunk write_chunk(Output& out, const LeafColumn& leaf, std::size_t begin, std::size_t end,
                              meta::Codec codec) {
  const Column& c = *leaf.column;
  meta::ColumnMetaData m;
  m.type = leaf.physical;
  m.path = {c.name()};
  m.codec = codec;
  m.num_values = int64_t(end - begin);
  int64_t uncompressed = 0, compressed = 0;
  if (leaf.dictionary) {
    m.dictionary_page_offset = out.offset();
    std::string body;
    for (const auto& s : c.dictionary()) {
      append_le(body, uint32_t(s.size()));
      body += s;
    }
    meta::PageHeader h;
    h.type = meta::PageType::Dictionary;
    h.dictionary = meta::DictionaryPageHeader{int32_t(c.dictionary().size()), Encoding::Plain};
    compressed += write_page(out, h, body, codec, uncompressed);
    m.encodings = {Encoding::Plain, Encoding::Rle, Encoding::RleDictionary};
  } else {
    m.encodings = {Encoding::Plain, Encoding::Rle};
  }
  m.data_page_offset = out.offset();
  std::size_t width = leaf.dictionary ? 1 : c.type() == DataType::Float32 ? 4 : c.type() == DataType::Bool ? 1 : 8;
  std::size_t page_rows = std::max<std::size_t>(1, kPageBytes / width);
  for (std::size_t p = begin; p < end; p += page_rows) {
    std::size_t q = std::min(end, p + page_rows);
    Span page{p, q, null_flags(c, p, q)};
    std::string body;
    encode_levels(page, body);
    if (leaf.dictionary) dictionary_indices(c, page, body);
    else plain_values(c, page, body);
    meta::PageHeader h;
    h.type = meta::PageType::Data;
    h.data = meta::DataPageHeader{int32_t(q - p), leaf.dictionary ? Encoding::RleDictionary : Encoding::Plain,
                                  Encoding::Rle, Encoding::Rle};
    compressed += write_page(out, h, body, codec, uncompressed);
  }
  Span rows{begin, end, null_flags(c, begin, end)};
  MinMax mm = min_max(c, rows);
  m.statistics = meta::Statistics{mm.max, mm.min, int64_t(rows.null_count())};
  m.total_uncompressed_size = uncompressed;
  m.total_compressed_size = compressed;
  meta::ColumnChunk chunk;
  chunk.file_offset = 0;
  chunk.meta = std::move(m);
  return chunk;
}

std::vector<LeafColumn> plan_leaves(const Table& table, const WriteOptions& options) {
  std::vector<LeafColumn> leaves;
  if (options.write_key && table.has_key()) {
    auto key = std::make_shared<Column>(table.key());
    if (key->name().empty()) key->set_name("index");
    if (table.has_column(key->name()))
      throw std::invalid_argument("the row key '" + key->name() + "' has the name of a column");
    leaves.push_back(plan_leaf(std::move(key), options.dictionary));
  }
  for (const auto& c : table.columns())
    leaves.push_back(plan_leaf(std::shared_ptr<const Column>(std::shared_ptr<const Column>(), &c), options.dictionary));
  return leaves;
}

std::vector<meta::KeyValue> key_values(const Table& table, const std::vector<LeafColumn>& leaves,
                                       const WriteOptions& options) {
  std::map<std::string, std::string> kv = table.attributes();
  for (const auto& [k, v] : options.metadata) kv[k] = v;
  for (const auto& leaf : leaves) {
    const Column& c = *leaf.column;
    if (c.type() == DataType::Timestamp && !c.zone().empty()) kv["tremora.zone." + c.name()] = c.zone();
    if (c.type() == DataType::Duration) kv["tremora.type." + c.name()] = "duration";
  }
  std::vector<meta::KeyValue> out;
  for (auto& [k, v] : kv) out.push_back({k, v});
  return out;
}

void write_file(const Table& table, const WriteOptions& options, std::ostream& stream) {
  if (options.row_group_size < 1) throw std::invalid_argument("row_group_size must be at least 1");
  std::vector<LeafColumn> leaves = plan_leaves(table, options);
  meta::Codec codec = codec_of(options.compression);
  Output out(stream);
  out.write(std::string_view(kMagic, 4));
  meta::FileMetaData fm;
  fm.num_rows = int64_t(table.num_rows());
  fm.created_by = "tremora version 0.1.0";
  meta::SchemaElement root;
  root.name = "schema";
  root.num_children = int32_t(leaves.size());
  fm.schema.push_back(root);
  for (const auto& leaf : leaves) fm.schema.push_back(leaf.schema);
  fm.column_orders = leaves.size();
  std::size_t rows = table.num_rows(), group = std::size_t(options.row_group_size);
  for (std::size_t begin = 0; begin < rows; begin += group) {
    std::size_t end = std::min(rows, begin + group);
    meta::RowGroup g;
    g.num_rows = int64_t(end - begin);
    for (const auto& leaf : leaves) {
      g.columns.push_back(write_chunk(out, leaf, begin, end, codec));
      g.total_byte_size += g.columns.back().meta->total_uncompressed_size;
    }
    fm.row_groups.push_back(std::move(g));
  }
  fm.key_value_metadata = key_values(table, leaves, options);
  std::string footer;
  thrift::Writer w(footer);
  meta::write(w, fm);
  out.write(footer);
  std::string tail = le_bytes(uint32_t(footer.size()));
  out.write(tail);
  out.write(std::string_view(kMagic, 4));
}

}  // namespace

std::string write_table_to_bytes(const Table& table, const WriteOptions& options) {
  std::ostringstream out;
  write_file(table, options, out);
  return std::move(out).str();
}

void write_table(const Table& table, const std::filesystem::path& path, const WriteOptions& options) {
  write_file_atomically(path, [&](std::ostream& out) { write_file(table, options, out); });
}

}  // namespace tremora::parquet
