#include "tremora/gzip.hpp"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace tremora {

namespace {

// Deflates `data` whole into a gzip (window_bits 15 + 16) or zlib (15) stream.
std::string deflated(std::string_view data, int level, int window_bits, const char* what) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error(std::string(what) + ": cannot start the compressor");
  // zlib counts in 32 bits: larger data goes in and out in slices.
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  std::string out;
  std::size_t fed = 0;
  int rc = Z_OK;
  char buffer[1 << 16];
  do {
    if (z.avail_in == 0 && fed < data.size()) {
      std::size_t take = std::min(kSlice, data.size() - fed);
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + fed));
      z.avail_in = uInt(take);
      fed += take;
    }
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = uInt(sizeof buffer);
    rc = deflate(&z, fed == data.size() ? Z_FINISH : Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  } while (rc == Z_OK || rc == Z_BUF_ERROR);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error(std::string(what) + ": compression failed");
  return out;
}

}  // namespace

std::string gzip_compress(std::string_view data, int level) { return deflated(data, level, 15 + 16, "gzip"); }

std::string zlib_compress(std::string_view data, int level) { return deflated(data, level, 15, "zlib"); }

std::string gzip_decompress(std::string_view data, std::size_t max_size) {
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) throw std::runtime_error("gzip: cannot start the decompressor");
  std::string out;
  out.resize(std::min<std::size_t>(max_size, std::max<std::size_t>(data.size() * 4, 1024)));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  std::size_t produced = 0;
  while (true) {
    if (produced == out.size()) {
      if (out.size() >= max_size) {
        inflateEnd(&z);
        throw std::runtime_error("gzip: the data expands beyond " + std::to_string(max_size) + " bytes");
      }
      out.resize(std::min(max_size, out.size() * 2));
    }
    z.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z.avail_out = uInt(out.size() - produced);
    int rc = inflate(&z, Z_NO_FLUSH);
    produced = out.size() - z.avail_out;
    if (rc == Z_STREAM_END) {
      if (z.avail_in == 0) break;
      inflateReset(&z);  // another gzip member follows
      continue;
    }
    if (rc == Z_BUF_ERROR && z.avail_in == 0) {
      inflateEnd(&z);
      throw std::runtime_error("gzip: the data is truncated");
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      std::string why = z.msg ? z.msg : "corrupt data";
      inflateEnd(&z);
      throw std::runtime_error("gzip: " + why);
    }
  }
  inflateEnd(&z);
  out.resize(produced);
  return out;
}

}  // namespace tremora
