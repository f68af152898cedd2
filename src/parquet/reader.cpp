// Reads Parquet files of flat tables. Every offset, size and count taken
// from the file is checked against the bytes that are there before it is
// used, so that a damaged file gives an IOError, never a crash.
#include <cmath>
#include <unordered_map>

#include "compression.hpp"
#include "encoding.hpp"
#include "leaf.hpp"
#include "metadata.hpp"
#include "page_values.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

using namespace meta;

// Collects the values of one column over all row groups.
class Accumulator {
 public:
  explicit Accumulator(const Leaf& leaf, std::size_t reserve) : leaf_(leaf) {
    switch (storage()) {
      case 'i': i64_.reserve(reserve); break;
      case 'd': f64_.reserve(reserve); break;
      case 'f': f32_.reserve(reserve); break;
      default: break;
    }
  }

  std::size_t rows() const { return rows_; }

  // Appends `n` rows: where `present` is given, only rows flagged 1 take the
  // next value; the others are missing.
  void append(const Values& v, const uint8_t* present, std::size_t n) {
    if (is_text()) use_plain();
    if (!present && append_all(v, n)) return;
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
      bool has = !present || present[i];
      switch (storage()) {
        case 'i': {
          bool nat_type = leaf_.type != DataType::Int64;
          i64_.push_back(has ? v.i64[k] : nat_type ? Timestamp::NaT : 0);
          if (!nat_type) note_valid(has);
          break;
        }
        case 'd': f64_.push_back(has ? v.f64[k] : NAN); break;
        case 'f': f32_.push_back(has ? v.f32[k] : NAN); break;
        case 'b':
          b_.push_back(has ? v.b[k] : 0);
          note_valid(has);
          break;
        default: has ? plain_.append(v.text[k]) : plain_.append_null(); break;
      }
      k += has;
      ++rows_;
    }
  }

  // Appends `n` rows of a text column given as indices into a chunk
  // dictionary, keeping the result dictionary-encoded.
  void append_codes(const std::vector<std::string_view>& dict, std::size_t dict_id, const std::vector<uint32_t>& idx,
                    const uint8_t* present, std::size_t n) {
    if (plain_mode_) {
      Values texts;
      texts.text = dict;
      append(gather(texts, idx), present, n);
      return;
    }
    if (dict_id != remap_id_) {
      remap_.resize(dict.size());
      for (std::size_t k = 0; k < dict.size(); ++k) {
        auto [it, added] = index_.try_emplace(std::string(dict[k]), int32_t(dict_.size()));
        if (added) dict_.emplace_back(dict[k]);
        remap_[k] = it->second;
      }
      remap_id_ = dict_id;
    }
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
      bool has = !present || present[i];
      codes_.push_back(has ? remap_[idx[k]] : -1);
      k += has;
    }
    rows_ += n;
  }

  Column finish() {
    const std::string& name = leaf_.name;
    if (any_null_) valid_.resize(rows_, 1);
    switch (leaf_.type) {
      case DataType::Float32: return Column::from_float32(name, std::move(f32_));
      case DataType::Float64: return Column::from_float64(name, std::move(f64_));
      case DataType::Int64:
        return Column::from_int64(name, std::move(i64_), any_null_ ? std::move(valid_) : std::vector<uint8_t>{});
      case DataType::Bool:
        return Column::from_bool(name, std::move(b_), any_null_ ? std::move(valid_) : std::vector<uint8_t>{});
      case DataType::Timestamp: return Column::from_timestamps(name, std::move(i64_), leaf_.zone);
      case DataType::Duration: return Column::from_durations(name, std::move(i64_));
      default:
        if (!plain_mode_ && leaf_.type == DataType::String)
          return Column::from_dictionary(name, std::move(codes_), std::move(dict_));
        return plain_.finish(name);
    }
  }

 private:
  char storage() const {
    switch (leaf_.type) {
      case DataType::Float32: return 'f';
      case DataType::Float64: return 'd';
      case DataType::Bool: return 'b';
      case DataType::String:
      case DataType::Binary: return 's';
      default: return 'i';
    }
  }
  bool is_text() const { return storage() == 's'; }

  // Appends rows that all have values in one go; false for texts.
  bool append_all(const Values& v, std::size_t n) {
    auto extend = [n](auto& to, const auto& from) {
      to.insert(to.end(), from.begin(), from.begin() + std::ptrdiff_t(n));
    };
    switch (storage()) {
      case 'i': extend(i64_, v.i64); break;
      case 'd': extend(f64_, v.f64); break;
      case 'f': extend(f32_, v.f32); break;
      case 'b': extend(b_, v.b); break;
      default: return false;
    }
    if (any_null_) valid_.resize(valid_.size() + n, 1);
    rows_ += n;
    return true;
  }

  void note_valid(bool has) {
    if (!has && !any_null_) {
      valid_.assign(rows_, 1);
      any_null_ = true;
    }
    if (any_null_) valid_.push_back(has);
  }

  // Texts that came dictionary-encoded so far continue plain-encoded.
  void use_plain() {
    if (plain_mode_) return;
    plain_mode_ = true;
    for (int32_t c : codes_) c < 0 ? plain_.append_null() : plain_.append(dict_[c]);
    codes_ = {};
    dict_ = {};
    index_ = {};
  }

  Leaf leaf_;
  std::size_t rows_ = 0;
  std::vector<int64_t> i64_;
  std::vector<double> f64_;
  std::vector<float> f32_;
  std::vector<uint8_t> b_, valid_;
  bool any_null_ = false;
  // Texts: dictionary-encoded (codes into dict_) until a plain page arrives.
  bool plain_mode_ = false;
  std::vector<int32_t> codes_;
  std::vector<std::string> dict_;
  std::unordered_map<std::string, int32_t> index_;
  std::vector<int32_t> remap_;
  std::size_t remap_id_ = 0;
  StringColumnBuilder plain_{DataType::String};

 public:
  void set_binary() { plain_ = StringColumnBuilder(DataType::Binary); }
};

class FileReader {
 public:
  FileReader(std::string_view bytes, std::string source) : bytes_(bytes), source_(std::move(source)) {}

  Table read_table();
  std::map<std::string, std::string> key_values();
  std::vector<Leaf> leaves();

 private:
  [[noreturn]] void fail(const std::string& what) const { throw IOError(source_ + ": " + what); }
  void parse_footer();
  void check_value_count() const;
  void read_chunk(const ColumnChunk& chunk, const Leaf& leaf, int64_t rows, Accumulator& acc);
  void read_data_page(const PageHeader& h, std::string_view page, const ColumnMetaData& m, const Leaf& leaf,
                      Accumulator& acc, std::size_t remaining);
  std::vector<uint8_t> definition_levels(std::string_view levels, std::size_t n);

  std::string_view bytes_;
  std::string source_;
  FileMetaData meta_;
  std::size_t footer_start_ = 0;
  bool parsed_ = false;
  // The dictionary of the chunk being read.
  std::string dict_page_;
  Values dict_;
  bool have_dict_ = false;
  std::size_t dict_id_ = 0;
};

void FileReader::parse_footer() {
  if (parsed_) return;
  if (bytes_.size() < 12) fail("not a Parquet file (too short)");
  if (bytes_.substr(bytes_.size() - 4) == "PARE")
    fail("the file is encrypted (Parquet modular encryption, magic PARE), which is not supported");
  if (bytes_.substr(0, 4) != "PAR1" || bytes_.substr(bytes_.size() - 4) != "PAR1")
    fail("not a Parquet file (no PAR1 magic)");
  uint32_t len = load<uint32_t>(bytes_.data() + bytes_.size() - 8);
  if (len > bytes_.size() - 12) fail("corrupt footer length " + std::to_string(len));
  footer_start_ = bytes_.size() - 8 - len;
  try {
    thrift::Reader r(reinterpret_cast<const uint8_t*>(bytes_.data() + footer_start_), len);
    meta_ = read_file_metadata(r);
  } catch (const thrift::Reader::Error& e) {
    fail(std::string("footer: ") + e.what());
  }
  if (meta_.schema.empty()) fail("the footer has no schema");
  if (meta_.schema[0].num_children != int32_t(meta_.schema.size() - 1))
    fail("nested columns are not supported (the schema is not flat)");
  int64_t total = 0;
  for (const auto& g : meta_.row_groups) {
    if (g.num_rows < 0 || g.num_rows > INT32_MAX) fail("a row group has a bad row count " + std::to_string(g.num_rows));
    if (g.columns.size() != meta_.schema.size() - 1) fail("a row group does not have one chunk per column");
    total += g.num_rows;
  }
  if (total != meta_.num_rows) fail("the row groups do not add up to the file's row count");
  parsed_ = true;
}

// Runs of missing or repeated values let a few bytes stand for any number of
// rows. So that memory stays in proportion to the file, the values a file
// may hold are bounded by its size: kValuesWithoutData, plus
// kValuesPerByte for each byte. Real tables need a byte for a few values.
void FileReader::check_value_count() const {
  constexpr uint64_t kValuesWithoutData = uint64_t{1} << 24;
  constexpr uint64_t kValuesPerByte = 64;
  uint64_t columns = meta_.schema.size() - 1;
  uint64_t limit = kValuesWithoutData + kValuesPerByte * bytes_.size();
  if (columns > 0 && uint64_t(meta_.num_rows) > limit / columns)
    fail("the file claims " + std::to_string(meta_.num_rows) + " rows of " + std::to_string(columns) +
         " columns, more values than its " + std::to_string(bytes_.size()) + " bytes can hold");
}

std::map<std::string, std::string> FileReader::key_values() {
  parse_footer();
  std::map<std::string, std::string> kv;
  for (const auto& e : meta_.key_value_metadata) kv[e.key] = e.value.value_or("");
  return kv;
}

std::vector<Leaf> FileReader::leaves() {
  auto kv = key_values();
  std::vector<Leaf> out;
  try {
    for (std::size_t i = 1; i < meta_.schema.size(); ++i) out.push_back(leaf_of(meta_.schema[i], kv));
  } catch (const FormatError& e) {
    fail(e.message);
  }
  return out;
}

std::vector<uint8_t> FileReader::definition_levels(std::string_view levels, std::size_t n) {
  std::vector<uint32_t> v(n);
  rle_decode(levels, 1, n, 2, v.data());
  return std::vector<uint8_t>(v.begin(), v.end());
}

void FileReader::read_data_page(const PageHeader& h, std::string_view raw, const ColumnMetaData& m, const Leaf& leaf,
                                Accumulator& acc, std::size_t remaining) {
  std::string page;
  std::string_view levels, values;
  std::size_t n = 0;
  Encoding encoding;
  if (h.type == PageType::Data) {
    if (!h.data) throw DecodeError("a data page without its header");
    if (h.data->num_values < 0) throw DecodeError("a negative value count");
    n = std::size_t(h.data->num_values);
    encoding = h.data->encoding;
    page = decompress(m.codec, raw, std::size_t(h.uncompressed_page_size));
    ByteCursor in(page);
    if (leaf.optional) {
      if (h.data->definition_level_encoding != Encoding::Rle)
        throw DecodeError("unsupported definition level encoding");
      levels = in.take(in.u32());
    }
    values = std::string_view(in.here(), in.remaining());
  } else {
    if (!h.data_v2) throw DecodeError("a data page without its header");
    const DataPageHeaderV2& v2 = *h.data_v2;
    if (v2.num_values < 0 || v2.definition_levels_byte_length < 0 || v2.repetition_levels_byte_length < 0)
      throw DecodeError("negative sizes in a data page header");
    n = std::size_t(v2.num_values);
    encoding = v2.encoding;
    std::size_t lv = std::size_t(v2.definition_levels_byte_length) + std::size_t(v2.repetition_levels_byte_length);
    if (lv > raw.size() || lv > std::size_t(h.uncompressed_page_size))
      throw DecodeError("level sizes past the page end");
    levels = raw.substr(std::size_t(v2.repetition_levels_byte_length), std::size_t(v2.definition_levels_byte_length));
    std::string_view body = raw.substr(lv);
    std::size_t body_size = std::size_t(h.uncompressed_page_size) - lv;
    page = v2.is_compressed ? decompress(m.codec, body, body_size) : std::string(body);
    values = page;
  }
  if (n > remaining) throw DecodeError("a page holds more values than its column chunk");
  std::vector<uint8_t> present;
  std::size_t m_values = n;
  if (leaf.optional) {
    present = definition_levels(levels, n);
    m_values = std::size_t(std::count(present.begin(), present.end(), uint8_t{1}));
  }
  const uint8_t* flags = leaf.optional && m_values < n ? present.data() : nullptr;
  ByteCursor in(values);
  if (encoding == Encoding::PlainDictionary || encoding == Encoding::RleDictionary) {
    if (!have_dict_) throw DecodeError("a dictionary-encoded page without a dictionary");
    int width = in.u8();
    std::vector<uint32_t> idx(m_values);
    std::size_t dict_size = dict_.size();
    rle_decode(std::string_view(in.here(), in.remaining()), width, m_values,
               uint32_t(std::min<std::size_t>(dict_size, UINT32_MAX)), idx.data());
    if (leaf.type == DataType::String) acc.append_codes(dict_.text, dict_id_, idx, flags, n);
    else acc.append(gather(dict_, idx), flags, n);
  } else {
    Values v;
    decode_values(leaf, encoding, in, m_values, v);
    acc.append(v, flags, n);
  }
}

void FileReader::read_chunk(const ColumnChunk& chunk, const Leaf& leaf, int64_t rows, Accumulator& acc) {
  if (!chunk.meta) fail("column '" + leaf.name + "': a chunk without metadata");
  const ColumnMetaData& m = *chunk.meta;
  if (m.type != leaf.physical) fail("column '" + leaf.name + "': chunk type differs from the schema");
  if (m.num_values != rows) fail("column '" + leaf.name + "': chunk value count differs from the row group's rows");
  // A chunk of no rows has nothing to read; writers leave its offsets 0.
  if (rows == 0) return;
  int64_t start = m.data_page_offset;
  if (m.dictionary_page_offset && *m.dictionary_page_offset > 0 && *m.dictionary_page_offset < start)
    start = *m.dictionary_page_offset;
  if (start < 4 || m.total_compressed_size < 0 || start > int64_t(footer_start_) ||
      m.total_compressed_size > int64_t(footer_start_) - start)
    fail("column '" + leaf.name + "': the chunk lies outside the file's data");
  std::size_t pos = std::size_t(start), end = std::size_t(start + m.total_compressed_size);
  have_dict_ = false;
  std::size_t done = 0, target = std::size_t(rows);
  try {
    while (done < target) {
      if (pos >= end) throw DecodeError("the chunk ends before all its values");
      thrift::Reader r(reinterpret_cast<const uint8_t*>(bytes_.data() + pos), end - pos);
      PageHeader h = read_page_header(r);
      pos += std::size_t(r.position() - reinterpret_cast<const uint8_t*>(bytes_.data() + pos));
      if (h.compressed_page_size < 0 || h.uncompressed_page_size < 0 || std::size_t(h.compressed_page_size) > end - pos)
        throw DecodeError("a page size points past the end of the chunk");
      std::string_view raw = bytes_.substr(pos, std::size_t(h.compressed_page_size));
      pos += std::size_t(h.compressed_page_size);
      if (h.type == PageType::Dictionary) {
        if (!h.dictionary || h.dictionary->num_values < 0) throw DecodeError("a dictionary page without its header");
        if (have_dict_) throw DecodeError("a second dictionary page");
        dict_page_ = decompress(m.codec, raw, std::size_t(h.uncompressed_page_size));
        dict_ = Values{};
        ByteCursor in(dict_page_);
        decode_plain(leaf, in, std::size_t(h.dictionary->num_values), dict_);
        have_dict_ = true;
        ++dict_id_;
      } else if (h.type == PageType::Data || h.type == PageType::DataV2) {
        std::size_t before = acc.rows();
        read_data_page(h, raw, m, leaf, acc, target - done);
        done += acc.rows() - before;
      }
    }
  } catch (const DecodeError& e) {
    fail("column '" + leaf.name + "': " + e.message);
  } catch (const thrift::Reader::Error& e) {
    fail("column '" + leaf.name + "': page header: " + e.what());
  }
}

Table FileReader::read_table() {
  std::vector<Leaf> cols = leaves();
  check_value_count();
  std::map<std::string, std::string> kv = key_values();
  std::size_t reserve = std::size_t(std::min<int64_t>(meta_.num_rows, int64_t(bytes_.size())));
  Table table;
  for (std::size_t c = 0; c < cols.size(); ++c) {
    Accumulator acc(cols[c], reserve);
    if (cols[c].type == DataType::Binary) acc.set_binary();
    for (const auto& g : meta_.row_groups) read_chunk(g.columns[c], cols[c], g.num_rows, acc);
    try {
      table.add_column(acc.finish());
    } catch (const std::invalid_argument& e) {
      fail(e.what());
    }
  }
  for (const auto& [k, v] : kv) {
    if (k.rfind("tremora.", 0) == 0 || k == "ARROW:schema" || k == "pandas") continue;
    table.attributes()[k] = v;
  }
  return table;
}

}  // namespace

Table read_table_from_bytes(std::string_view bytes, const std::string& source) {
  return FileReader(bytes, source).read_table();
}

Table read_table(const std::filesystem::path& path) {
  std::string bytes = read_file(path);
  return read_table_from_bytes(bytes, path.string());
}

std::map<std::string, std::string> read_metadata(const std::filesystem::path& path) {
  std::string bytes = read_file(path);
  return FileReader(bytes, path.string()).key_values();
}

std::vector<ColumnSchema> read_schema(const std::filesystem::path& path) {
  std::string bytes = read_file(path);
  std::vector<ColumnSchema> out;
  for (const Leaf& leaf : FileReader(bytes, path.string()).leaves())
    out.push_back(ColumnSchema{leaf.name, leaf.type, leaf.zone, leaf.optional});
  return out;
}

}  // namespace tremora::parquet
