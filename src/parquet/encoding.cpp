#include "encoding.hpp"

#include <algorithm>
#include <bit>

namespace tremora::parquet {
namespace {

void put_varint(uint64_t v, std::string& out) {
  while (v >= 0x80) {
    out += char(uint8_t(v) | 0x80);
    v >>= 7;
  }
  out += char(uint8_t(v));
}

uint64_t get_varint(ByteCursor& in) {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t b = in.u8();
    v |= uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return v;
  }
  throw DecodeError("a run header is too long");
}

void put_rle_run(uint32_t value, std::size_t n, int width, std::string& out) {
  put_varint(uint64_t(n) << 1, out);
  int bytes = (width + 7) / 8;
  for (int b = 0; b < bytes; ++b) out += char(uint8_t(value >> (8 * b)));
}

// Bit-packs values (a multiple of 8 of them, the last group padded by the
// caller) least significant bit first.
void put_bit_packed(const uint32_t* values, std::size_t n, int width, std::string& out) {
  std::size_t groups = (n + 7) / 8;
  put_varint((uint64_t(groups) << 1) | 1, out);
  uint64_t acc = 0;
  int bits = 0;
  std::size_t padded = groups * 8;
  out.reserve(out.size() + groups * std::size_t(width));
  for (std::size_t i = 0; i < padded; ++i) {
    acc |= uint64_t(i < n ? values[i] : 0) << bits;
    bits += width;
    while (bits >= 8) {
      out += char(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
}

// The `width` bits at bit position `at`, least significant bit first.
uint64_t read_bits(std::string_view bytes, uint64_t at, int width) {
  uint64_t v = 0;
  for (int got = 0; got < width;) {
    int offset = int(at & 7);
    int take = std::min(8 - offset, width - got);
    uint64_t part = (uint8_t(bytes[std::size_t(at >> 3)]) >> offset) & ((1u << take) - 1);
    v |= part << got;
    got += take;
    at += uint64_t(take);
  }
  return v;
}

}  // namespace

int bit_width(uint64_t max_value) { return max_value == 0 ? 0 : 64 - std::countl_zero(max_value); }

void rle_encode_repeated(uint32_t value, std::size_t n, int width, std::string& out) {
  if (n) put_rle_run(value, n, width, out);
}

void rle_encode(const uint32_t* v, std::size_t n, int width, std::string& out) {
  std::size_t literal_start = 0, i = 0;
  while (i < n) {
    std::size_t j = i + 1;
    while (j < n && v[j] == v[i]) ++j;
    std::size_t run = j - i;
    // Literal groups hold exactly eight values, so a run first tops up the
    // pending literals to a multiple of eight.
    std::size_t fill = (8 - (i - literal_start) % 8) % 8;
    if (run >= fill + 8) {
      i += fill;
      run -= fill;
      if (i > literal_start) put_bit_packed(v + literal_start, i - literal_start, width, out);
      put_rle_run(v[i], run, width, out);
      i += run;
      literal_start = i;
    } else {
      i = j;
    }
  }
  if (n > literal_start) put_bit_packed(v + literal_start, n - literal_start, width, out);
}

void rle_decode(std::string_view data, int width, std::size_t n, uint32_t limit, uint32_t* out) {
  if (width < 0 || width > 32) throw DecodeError("bit width " + std::to_string(width) + " is out of range");
  ByteCursor in(data);
  std::size_t done = 0;
  uint64_t mask = width == 32 ? 0xFFFFFFFFu : (uint64_t{1} << width) - 1;
  while (done < n) {
    uint64_t header = get_varint(in);
    if (header & 1) {
      uint64_t groups = header >> 1;
      if (groups == 0 || groups > (uint64_t{1} << 40)) throw DecodeError("a bit-packed run has a bad length");
      std::size_t count = std::size_t(groups) * 8;
      std::string_view bytes = in.take(std::size_t(groups) * std::size_t(width));
      std::size_t take = std::min(count, n - done);
      uint64_t acc = 0;
      int bits = 0;
      std::size_t pos = 0;
      for (std::size_t k = 0; k < take; ++k) {
        while (bits < width) {
          acc |= uint64_t(uint8_t(bytes[pos++])) << bits;
          bits += 8;
        }
        uint32_t value = uint32_t(acc & mask);
        acc >>= width;
        bits -= width;
        if (value >= limit) throw DecodeError("an index is out of range");
        out[done + k] = value;
      }
      done += take;
    } else {
      uint64_t count = header >> 1;
      std::string_view bytes = in.take(std::size_t((width + 7) / 8));
      uint32_t value = 0;
      for (std::size_t b = 0; b < bytes.size(); ++b) value |= uint32_t(uint8_t(bytes[b])) << (8 * b);
      if (count == 0) throw DecodeError("an empty run");
      if (value >= limit) throw DecodeError("an index is out of range");
      std::size_t take = std::size_t(std::min<uint64_t>(count, n - done));
      std::fill(out + done, out + done + take, value);
      done += take;
    }
  }
}

std::size_t delta_binary_decode(std::string_view data, std::size_t n, std::vector<int64_t>& out) {
  ByteCursor in(data);
  auto zigzag = [](uint64_t v) { return int64_t(v >> 1) ^ -int64_t(v & 1); };
  uint64_t block_size = get_varint(in), miniblocks = get_varint(in), total = get_varint(in);
  if (block_size == 0 || block_size % 128 || block_size > (1 << 20) || miniblocks == 0 || block_size % miniblocks ||
      (block_size / miniblocks) % 32)
    throw DecodeError("a delta-encoded block has a bad shape");
  if (total < n) throw DecodeError("a delta-encoded run holds fewer values than the page");
  uint64_t per_miniblock = block_size / miniblocks;
  uint64_t value = uint64_t(zigzag(get_varint(in)));
  out.clear();
  out.reserve(n);
  if (n) out.push_back(int64_t(value));
  std::vector<uint8_t> widths(miniblocks);
  while (out.size() < n) {
    uint64_t min_delta = uint64_t(zigzag(get_varint(in)));
    for (auto& w : widths) {
      w = in.u8();
      if (w > 64) throw DecodeError("a delta bit width is out of range");
    }
    for (uint64_t mb = 0; mb < miniblocks && out.size() < n; ++mb) {
      int w = widths[mb];
      std::string_view bytes = in.take(std::size_t(per_miniblock * uint64_t(w) / 8));
      for (uint64_t k = 0; k < per_miniblock && out.size() < n; ++k) {
        value += min_delta + read_bits(bytes, k * uint64_t(w), w);
        out.push_back(int64_t(value));
      }
    }
  }
  return data.size() - in.remaining();
}

}  // namespace tremora::parquet
