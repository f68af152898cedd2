#include "page_values.hpp"

#include <cmath>
#include <cstring>

#include "tremora/time.hpp"

namespace tremora::parquet {
namespace {

using namespace meta;

constexpr int64_t kJulianEpochDay = 2440588;  // Julian day number of 1970-01-01

double decimal_value(std::string_view be, int32_t scale) {
  if (be.empty()) return 0;
  long double v = 0;
  for (unsigned char c : be) v = v * 256 + c;
  if (static_cast<unsigned char>(be[0]) & 0x80) v -= std::pow(256.0L, (long double)be.size());
  return double(v / std::pow(10.0L, (long double)scale));
}

float half_to_float(uint16_t h) {
  int sign = h >> 15, exp = (h >> 10) & 0x1F, frac = h & 0x3FF;
  float v = exp == 0    ? std::ldexp(float(frac), -24)
            : exp == 31 ? (frac ? NAN : INFINITY)
                        : std::ldexp(float(frac | 0x400), exp - 25);
  return sign ? -v : v;
}

// a * b + c as nanoseconds; DecodeError when it does not fit in 64 bits.
int64_t to_nanos(int64_t a, int64_t b, int64_t c = 0) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r) || __builtin_add_overflow(r, c, &r))
    throw DecodeError("a time value is out of the range of nanosecond timestamps (years 1677 to 2262)");
  return r;
}

// Unsigned 64-bit values read as int64 are exact up to INT64_MAX; beyond
// it they would read as negative numbers, so they are refused.
void check_unsigned(const std::vector<int64_t>& v) {
  for (int64_t x : v)
    if (x < 0)
      throw DecodeError("the unsigned 64-bit value " + std::to_string(uint64_t(x)) +
                        " is beyond the largest integer a column holds (9223372036854775807)");
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
        out.i64[i] = leaf.conv == Conv::U32             ? int64_t(uint32_t(v))
                     : leaf.conv == Conv::I32Date       ? to_nanos(v, kNanosPerDay)
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
    case Conv::U64:
    case Conv::I64Scaled:
      out.i64 = raw;
      if (leaf.conv == Conv::U64) check_unsigned(out.i64);
      scale_to_nanos(out.i64, leaf.unit_ns);
      return;
    default: throw DecodeError("an integer encoding on a column that does not hold integers");
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
  // The values are put back together in the arena, which the texts of
  // fixed-length byte arrays keep viewing after this returns.
  auto plain = std::make_shared<std::string>(m * w, '\0');
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t k = 0; k < w; ++k) (*plain)[i * w + k] = data[k * m + i];
  ByteCursor in(*plain);
  decode_plain(leaf, in, m, out);
  out.arena = std::move(plain);
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

}  // namespace

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
    case Conv::U64:
    case Conv::I64Scaled: {
      const char* p = fixed(8);
      out.i64.resize(m);
      copy_bytes(out.i64.data(), p, m * 8);
      if (leaf.conv == Conv::U64) check_unsigned(out.i64);
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

}  // namespace tremora::parquet
