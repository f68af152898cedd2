// gzip (RFC 1952) and zlib (RFC 1950) compression of byte strings.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tremora {

/// The gzip-compressed form of `data` (one member, default level).
std::string gzip_compress(std::string_view data, int level = 6);

/// The zlib (RFC 1950) stream of `data`, as PNG files hold their pixels;
/// `level` from 1 (fastest) to 9 (smallest).
std::string zlib_compress(std::string_view data, int level = 6);

/// A zlib stream written piece by piece, for data too large to hold whole
/// (the rows of a large image): the compressed bytes gather as the pieces
/// come. std::runtime_error when the compressor fails.
class ZlibWriter {
 public:
  explicit ZlibWriter(int level = 6);
  ~ZlibWriter();
  ZlibWriter(const ZlibWriter&) = delete;
  ZlibWriter& operator=(const ZlibWriter&) = delete;

  void write(std::string_view piece);
  /// Ends the stream and hands over all compressed bytes.
  std::string finish();

 private:
  void run(std::string_view piece, bool last);
  struct State;
  State* z_;
  std::string out_;
  bool finished_ = false;
};

/// The decompressed bytes of gzip data (several members are joined; raw
/// zlib streams are accepted too). std::runtime_error on corrupt or
/// truncated data, or when the result would exceed `max_size` bytes:
/// inflating stops there, so memory and time stay bounded by the limit
/// ("gzip: the data expands beyond <max_size> bytes").
std::string gzip_decompress(std::string_view data, std::size_t max_size = std::size_t{1} << 32);

/// The size a gzip member says its data has (the ISIZE of its trailer, the
/// size modulo 2^32); 0 when `data` does not start as gzip. Data may lie:
/// use it as a guess, as GzipInflater::inflate_exactly checks it.
std::size_t gzip_stated_size(std::string_view data);

/// Inflates many gzip values one after another, its state reused between
/// them. Not for two threads at once: give each run of work its own.
class GzipInflater {
 public:
  GzipInflater();
  ~GzipInflater();
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  /// Inflates `data` into `out` and tells whether it was one gzip member
  /// (or zlib stream) that expands to exactly out.size() bytes. On false
  /// (other sizes, more members, corrupt or truncated data) `out` holds
  /// nothing of use and gzip_decompress says what the data holds or what is
  /// wrong with it.
  bool inflate_exactly(std::string_view data, std::span<char> out);

 private:
  struct State;
  State* z_;
};

}  // namespace tremora
