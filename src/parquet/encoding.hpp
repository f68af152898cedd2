// Value encodings of Parquet pages: the RLE / bit-packing hybrid used for
// definition levels and dictionary indices, and bounds-checked little-endian
// reads for PLAIN values.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tremora::parquet {

/// Thrown by the decoders for malformed page data; the reader adds context.
struct DecodeError : std::exception {
  std::string message;
  explicit DecodeError(std::string m) : message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
};

/// The number of bits needed for values up to `max_value`.
int bit_width(uint64_t max_value);

/// Appends the RLE / bit-packed hybrid encoding of `values` (each below
/// 2^bit_width) to `out`: runs of 8 or more equal values as RLE runs, the
/// rest bit-packed in groups of 8.
void rle_encode(const uint32_t* values, std::size_t n, int bit_width, std::string& out);
/// The same for a run of `n` equal values.
void rle_encode_repeated(uint32_t value, std::size_t n, int bit_width, std::string& out);

/// Decodes exactly `n` values of the hybrid encoding from `data` into `out`.
/// DecodeError when the data ends early or a value is not below `limit`.
void rle_decode(std::string_view data, int bit_width, std::size_t n, uint32_t limit, uint32_t* out);

/// Decodes `n` values of DELTA_BINARY_PACKED data into `out` (64-bit
/// arithmetic; 32-bit columns truncate the results). Returns the number of
/// bytes the encoding took. DecodeError for malformed data.
std::size_t delta_binary_decode(std::string_view data, std::size_t n, std::vector<int64_t>& out);

/// The value of type T stored (little-endian, as on every supported
/// machine) at `p`, which need not be aligned.
template <typename T>
T load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

/// A bounds-checked cursor over page bytes.
class ByteCursor {
 public:
  explicit ByteCursor(std::string_view data) : data_(data) {}
  std::size_t remaining() const { return data_.size() - pos_; }
  const char* here() const { return data_.data() + pos_; }
  std::string_view take(std::size_t n) {
    need(n);
    std::string_view s = data_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  uint32_t u32() {
    uint32_t v;
    std::memcpy(&v, take(4).data(), 4);
    return v;
  }
  uint8_t u8() { return uint8_t(take(1)[0]); }
  void need(std::size_t n) const {
    if (n > remaining()) throw DecodeError("page data ends early");
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

}  // namespace tremora::parquet
