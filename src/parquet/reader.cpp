// Reads Parquet files of flat tables. Every offset, size and count taken
// from the file is checked against the bytes that are there before it is
// used, so that a damaged file gives an IOError, never a crash.
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "compression.hpp"
#include "encoding.hpp"
#include "metadata.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/parquet.hpp"

namespace tremora::parquet {
namespace {

using namespace meta;

constexpr int64_t kJulianEpochDay = 2440588;  // Julian day number of 1970-01-01

// How the stored values of a leaf column become tremora values.
enum class Conv {
  Bool, I32, U32, I32Date, I32TimeMillis, I32Decimal, I64, I64Scaled, I64Decimal, I96,
  Float, Double, Bytes, BytesDecimal, Fixed, FixedDecimal, Float16
};

struct Leaf {
  std::string name;
  PhysicalType physical = PhysicalType::Int64;
  Conv conv = Conv::I64;
  DataType type = DataType::Int64;
  std::string zone;
  bool optional = true;
  int64_t unit_ns = 1;     // I64Scaled: nanoseconds per stored unit
  int32_t scale = 0;       // decimals
  int32_t fixed_len = 0;   // FIXED_LEN_BYTE_ARRAY
};

struct FormatError : std::exception {
  std::string message;
  explicit FormatError(std::string m) : message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
};

[[noreturn]] void bad(const std::string& what) { throw FormatError(what); }

int64_t unit_nanos(TimeUnit u) {
  return u == TimeUnit::Millis ? 1'000'000 : u == TimeUnit::Micros ? 1'000 : 1;
}

Leaf leaf_of(const SchemaElement& e, const std::map<std::string, std::string>& kv) {
  using K = LogicalType::Kind;
  if (!e.type || e.num_children > 0) bad("nested columns are not supported: '" + e.name + "'");
  if (e.repetition == Repetition::Repeated) bad("repeated columns are not supported: '" + e.name + "'");
  Leaf leaf;
  leaf.name = e.name;
  leaf.physical = *e.type;
  leaf.optional = e.repetition != Repetition::Required;
  const LogicalType& lt = e.logical;
  int32_t ct = e.converted_type.value_or(-1);
  bool decimal = lt.kind == K::Decimal || ct == kDecimal;
  leaf.scale = lt.kind == K::Decimal ? lt.scale : e.scale;
  switch (*e.type) {
    case PhysicalType::Boolean: leaf.conv = Conv::Bool, leaf.type = DataType::Bool; break;
    case PhysicalType::Int32:
      if (lt.kind == K::Date || ct == kDate) leaf.conv = Conv::I32Date, leaf.type = DataType::Timestamp;
      else if (decimal) leaf.conv = Conv::I32Decimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::Time || ct == kTimeMillis) leaf.conv = Conv::I32TimeMillis, leaf.type = DataType::Duration;
      else if ((lt.kind == K::Integer && !lt.is_signed) || ct == kUint8 || ct == kUint16 || ct == kUint32)
        leaf.conv = Conv::U32, leaf.type = DataType::Int64;
      else leaf.conv = Conv::I32, leaf.type = DataType::Int64;
      break;
    case PhysicalType::Int64:
      if (lt.kind == K::Timestamp) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Timestamp, leaf.unit_ns = unit_nanos(lt.unit);
        if (lt.adjusted_to_utc) leaf.zone = "UTC";
      } else if (ct == kTimestampMillis || ct == kTimestampMicros) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Timestamp, leaf.zone = "UTC";
        leaf.unit_ns = ct == kTimestampMillis ? 1'000'000 : 1'000;
      } else if (decimal) {
        leaf.conv = Conv::I64Decimal, leaf.type = DataType::Float64;
      } else if (lt.kind == K::Time || ct == kTimeMicros) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Duration;
        leaf.unit_ns = lt.kind == K::Time ? unit_nanos(lt.unit) : 1'000;
      } else {
        leaf.conv = Conv::I64, leaf.type = DataType::Int64;
      }
      break;
    case PhysicalType::Int96: leaf.conv = Conv::I96, leaf.type = DataType::Timestamp; break;
    case PhysicalType::Float: leaf.conv = Conv::Float, leaf.type = DataType::Float32; break;
    case PhysicalType::Double: leaf.conv = Conv::Double, leaf.type = DataType::Float64; break;
    case PhysicalType::ByteArray:
      if (decimal) leaf.conv = Conv::BytesDecimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::String || lt.kind == K::Enum || lt.kind == K::Json || ct == kUtf8 || ct == kEnum ||
               ct == kJson)
        leaf.conv = Conv::Bytes, leaf.type = DataType::String;
      else leaf.conv = Conv::Bytes, leaf.type = DataType::Binary;
      break;
    case PhysicalType::FixedLenByteArray:
      if (e.type_length <= 0) bad("column '" + e.name + "' has no fixed length");
      leaf.fixed_len = e.type_length;
      if (decimal) leaf.conv = Conv::FixedDecimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::Float16 && e.type_length == 2) leaf.conv = Conv::Float16, leaf.type = DataType::Float32;
      else leaf.conv = Conv::Fixed, leaf.type = DataType::Binary;
      break;
    default: bad("column '" + e.name + "' has an unknown physical type " + std::to_string(int(*e.type)));
  }
  if (auto z = kv.find("tremora.zone." + e.name); z != kv.end() && leaf.type == DataType::Timestamp) leaf.zone = z->second;
  if (auto t = kv.find("tremora.type." + e.name); t != kv.end() && t->second == "duration" && leaf.conv == Conv::I64)
    leaf.type = DataType::Duration;
  return leaf;
}

// Decoded values of a page or dictionary in the leaf's storage type.
struct Values {
  std::vector<int64_t> i64;
  std::vector<double> f64;
  std::vector<float> f32;
  std::vector<uint8_t> b;
  std::vector<std::string_view> text;  // views into page bytes kept alive by the caller, or into arena
  std::shared_ptr<std::string> arena;  // texts rebuilt from prefixes and suffixes
  std::size_t size() const { return std::max({i64.size(), f64.size(), f32.size(), b.size(), text.size()}); }
};

double decimal_value(std::string_view be, int32_t scale) {
  if (be.empty()) return 0;
  long double v = 0;
  for (unsigned char c : be) v = v * 256 + c;
  if (static_cast<unsigned char>(be[0]) & 0x80) v -= std::pow(256.0L, (long double)be.size());
  return double(v / std::pow(10.0L, (long double)scale));
}

float half_to_float(uint16_t h) {
  int sign = h >> 15, exp = (h >> 10) & 0x1F, frac = h & 0x3FF;
  float v = exp == 0 ? std::ldexp(float(frac), -24) : exp == 31 ? (frac ? NAN : INFINITY)
                                                                : std::ldexp(float(frac | 0x400), exp - 25);
  return sign ? -v : v;
}

template <typename T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

// a * b + c as nanoseconds; DecodeError when it does not fit in 64 bits.
int64_t to_nanos(int64_t a, int64_t b, int64_t c = 0) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r) || __builtin_add_overflow(r, c, &r))
    throw DecodeError("a time value is out of the range of nanosecond timestamps (years 1677 to 2262)");
  return r;
}

void scale_to_nanos(std::vector<int64_t>& v, int64_t unit_ns) {
  if (unit_ns == 1) return;
  for (auto& x : v) x = to_nanos(x, unit_ns);
}

void copy_bytes(void* to, const char* from, std::size_t n) {
  if (n) std::memcpy(to, from, n);
}

// Turns stored integers into the leaf's values.
void integers_to_values(const Leaf& leaf, const std::vector<int64_t>& raw, Values& out) {
  switch (leaf.conv) {
    case Conv::I32:
    case Conv::U32:
    case Conv::I32Date:
    case Conv::I32TimeMillis:
      out.i64.resize(raw.size());
      for (std::size_t i = 0; i < raw.size(); ++i) {
        int32_t v = int32_t(uint32_t(uint64_t(raw[i])));
        out.i64[i] = leaf.conv == Conv::U32 ? int64_t(uint32_t(v))
                     : leaf.conv == Conv::I32Date ? to_nanos(v, kNanosPerDay)
                     : leaf.conv == Conv::I32TimeMillis ? int64_t(v) * 1'000'000
                                                         : int64_t(v);
      }
      return;
    case Conv::I32Decimal:
    case Conv::I64Decimal:
      out.f64.resize(raw.size());
      for (std::size_t i = 0; i < raw.size(); ++i) {
        int64_t v = leaf.conv == Conv::I32Decimal ? int64_t(int32_t(uint32_t(uint64_t(raw[i])))) : raw[i];
        out.f64[i] = double(v) / std::pow(10.0, leaf.scale);
      }
      return;
    case Conv::I64:
    case Conv::I64Scaled:
      out.i64 = raw;
      scale_to_nanos(out.i64, leaf.unit_ns);
      return;
    default: throw DecodeError("an integer encoding on a column that does not hold integers");
  }
}

// Reads `m` PLAIN values.
void decode_plain(const Leaf& leaf, ByteCursor& in, std::size_t m, Values& out) {
  auto fixed = [&](std::size_t width) {
    if (m > in.remaining() / width) throw DecodeError("page data ends early");
    return in.take(m * width).data();
  };
  switch (leaf.conv) {
    case Conv::Bool: {
      if ((m + 7) / 8 > in.remaining()) throw DecodeError("page data ends early");
      const char* p = in.take((m + 7) / 8).data();
      out.b.resize(m);
      for (std::size_t i = 0; i < m; ++i) out.b[i] = (uint8_t(p[i / 8]) >> (i % 8)) & 1;
      return;
    }
    case Conv::I32:
    case Conv::U32:
    case Conv::I32Date:
    case Conv::I32TimeMillis:
    case Conv::I32Decimal: {
      const char* p = fixed(4);
      std::vector<int64_t> raw(m);
      for (std::size_t i = 0; i < m; ++i) raw[i] = load<int32_t>(p + 4 * i);
      return integers_to_values(leaf, raw, out);
    }
    case Conv::I64:
    case Conv::I64Scaled: {
      const char* p = fixed(8);
      out.i64.resize(m);
      copy_bytes(out.i64.data(), p, m * 8);
      scale_to_nanos(out.i64, leaf.unit_ns);
      return;
    }
    case Conv::I64Decimal: {
      const char* p = fixed(8);
      std::vector<int64_t> raw(m);
      copy_bytes(raw.data(), p, m * 8);
      return integers_to_values(leaf, raw, out);
    }
    case Conv::I96: {
      const char* p = fixed(12);
      out.i64.resize(m);
      for (std::size_t i = 0; i < m; ++i) {
        int64_t nanos = load<int64_t>(p + 12 * i);
        int64_t day = load<int32_t>(p + 12 * i + 8);
        out.i64[i] = to_nanos(day - kJulianEpochDay, kNanosPerDay, nanos);
      }
      return;
    }
    case Conv::Float: {
      const char* p = fixed(4);
      out.f32.resize(m);
      copy_bytes(out.f32.data(), p, m * 4);
      return;
    }
    case Conv::Double: {
      const char* p = fixed(8);
      out.f64.resize(m);
      copy_bytes(out.f64.data(), p, m * 8);
      return;
    }
    case Conv::Bytes:
    case Conv::BytesDecimal: {
      if (m > in.remaining() / 4) throw DecodeError("page data ends early");
      if (leaf.conv == Conv::Bytes) out.text.reserve(m);
      for (std::size_t i = 0; i < m; ++i) {
        std::string_view s = in.take(in.u32());
        if (leaf.conv == Conv::Bytes) out.text.push_back(s);
        else out.f64.push_back(decimal_value(s, leaf.scale));
      }
      return;
    }
    case Conv::Fixed:
    case Conv::FixedDecimal:
    case Conv::Float16: {
      std::size_t w = std::size_t(leaf.fixed_len);
      const char* p = fixed(w);
      for (std::size_t i = 0; i < m; ++i) {
        std::string_view s(p + i * w, w);
        if (leaf.conv == Conv::Fixed) out.text.push_back(s);
        else if (leaf.conv == Conv::FixedDecimal) out.f64.push_back(decimal_value(s, leaf.scale));
        else out.f32.push_back(half_to_float(load<uint16_t>(s.data())));
      }
      return;
    }
  }
}

std::size_t value_width(const Leaf& leaf) {
  switch (leaf.physical) {
    case PhysicalType::Int32:
    case PhysicalType::Float: return 4;
    case PhysicalType::Int64:
    case PhysicalType::Double: return 8;
    case PhysicalType::FixedLenByteArray: return std::size_t(leaf.fixed_len);
    default: throw DecodeError("byte-stream-split encoding on a column of variable width");
  }
}

// BYTE_STREAM_SPLIT: byte k of value i is at k * m + i.
void decode_byte_stream_split(const Leaf& leaf, std::string_view data, std::size_t m, Values& out) {
  std::size_t w = value_width(leaf);
  if (m > data.size() / w) throw DecodeError("page data ends early");
  std::string plain(m * w, '\0');
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t k = 0; k < w; ++k) plain[i * w + k] = data[k * m + i];
  ByteCursor in(plain);
  decode_plain(leaf, in, m, out);
}

// Byte arrays of the delta encodings become texts or decimals.
void texts_to_values(const Leaf& leaf, Values& out) {
  if (leaf.conv == Conv::Bytes) return;
  if (leaf.conv != Conv::BytesDecimal) throw DecodeError("a byte-array encoding on a column of another type");
  for (auto t : out.text) out.f64.push_back(decimal_value(t, leaf.scale));
  out.text.clear();
}

// DELTA_LENGTH_BYTE_ARRAY: the lengths, delta-encoded, then the bytes.
void decode_delta_length(const Leaf& leaf, std::string_view data, std::size_t m, Values& out) {
  std::vector<int64_t> lengths;
  std::size_t used = delta_binary_decode(data, m, lengths);
  ByteCursor in(data.substr(used));
  for (int64_t len : lengths) {
    if (len < 0) throw DecodeError("a negative text length");
    out.text.push_back(in.take(std::size_t(len)));
  }
  texts_to_values(leaf, out);
}

// DELTA_BYTE_ARRAY: each text is a prefix of the one before plus a suffix.
void decode_delta_byte_array(const Leaf& leaf, std::string_view data, std::size_t m, Values& out) {
  std::vector<int64_t> prefixes, suffixes;
  std::size_t used = delta_binary_decode(data, m, prefixes);
  used += delta_binary_decode(data.substr(used), m, suffixes);
  ByteCursor in(data.substr(used));
  auto arena = std::make_shared<std::string>();
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  std::size_t previous = 0, previous_len = 0;
  // Shared prefixes let a few bytes stand for long texts; bound what they may expand to.
  const std::size_t limit = std::max<std::size_t>(std::size_t{1} << 24, data.size() * 256);
  for (std::size_t i = 0; i < m; ++i) {
    if (prefixes[i] < 0 || suffixes[i] < 0 || std::size_t(prefixes[i]) > previous_len)
      throw DecodeError("a bad prefix or suffix length");
    if (arena->size() + std::size_t(prefixes[i]) > limit) throw DecodeError("prefix-encoded texts expand too far");
    std::size_t start = arena->size();
    arena->append(*arena, previous, std::size_t(prefixes[i]));
    arena->append(in.take(std::size_t(suffixes[i])));
    spans.emplace_back(start, arena->size() - start);
    previous = start;
    previous_len = arena->size() - start;
  }
  for (auto [start, len] : spans) out.text.emplace_back(arena->data() + start, len);
  out.arena = std::move(arena);
  texts_to_values(leaf, out);
}

// Decodes `m` values of a page body in any of the supported value encodings
// except the dictionary ones.
void decode_values(const Leaf& leaf, Encoding encoding, ByteCursor& in, std::size_t m, Values& out) {
  std::string_view rest(in.here(), in.remaining());
  switch (encoding) {
    case Encoding::Plain: return decode_plain(leaf, in, m, out);
    case Encoding::ByteStreamSplit: return decode_byte_stream_split(leaf, rest, m, out);
    case Encoding::DeltaBinaryPacked: {
      std::vector<int64_t> raw;
      delta_binary_decode(rest, m, raw);
      return integers_to_values(leaf, raw, out);
    }
    case Encoding::DeltaLengthByteArray: return decode_delta_length(leaf, rest, m, out);
    case Encoding::DeltaByteArray: return decode_delta_byte_array(leaf, rest, m, out);
    case Encoding::Rle: {
      if (leaf.conv != Conv::Bool) break;
      std::string_view data = in.take(in.u32());
      std::vector<uint32_t> bits(m);
      rle_decode(data, 1, m, 2, bits.data());
      out.b.assign(bits.begin(), bits.end());
      return;
    }
    default: break;
  }
  throw DecodeError("unsupported encoding " + std::to_string(int(encoding)));
}

// Picks dictionary entries by index.
Values gather(const Values& dict, const std::vector<uint32_t>& idx) {
  Values out;
  auto pick = [&](const auto& from, auto& to) {
    if (from.empty()) return;
    to.resize(idx.size());
    for (std::size_t i = 0; i < idx.size(); ++i) to[i] = from[idx[i]];
  };
  pick(dict.i64, out.i64);
  pick(dict.f64, out.f64);
  pick(dict.f32, out.f32);
  pick(dict.b, out.b);
  pick(dict.text, out.text);
  return out;
}

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
      case DataType::Int64: return Column::from_int64(name, std::move(i64_), any_null_ ? std::move(valid_) : std::vector<uint8_t>{});
      case DataType::Bool: return Column::from_bool(name, std::move(b_), any_null_ ? std::move(valid_) : std::vector<uint8_t>{});
      case DataType::Timestamp: return Column::from_timestamps(name, std::move(i64_), leaf_.zone);
      case DataType::Duration: return Column::from_durations(name, std::move(i64_));
      default:
        if (!plain_mode_ && leaf_.type == DataType::String) return Column::from_dictionary(name, std::move(codes_), std::move(dict_));
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
    auto extend = [n](auto& to, const auto& from) { to.insert(to.end(), from.begin(), from.begin() + std::ptrdiff_t(n)); };
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
      if (h.data->definition_level_encoding != Encoding::Rle) throw DecodeError("unsupported definition level encoding");
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
    if (lv > raw.size() || lv > std::size_t(h.uncompressed_page_size)) throw DecodeError("level sizes past the page end");
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
    rle_decode(std::string_view(in.here(), in.remaining()), width, m_values, uint32_t(std::min<std::size_t>(dict_size, UINT32_MAX)),
               idx.data());
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
