#include "compression.hpp"

#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

#include "encoding.hpp"

namespace tremora::parquet {
namespace {

std::string gzip_compress(std::string_view data) {
  z_stream z{};
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("gzip: cannot start the compressor");
  std::string out(deflateBound(&z, uLong(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("gzip: compression failed");
  return out;
}

std::string gzip_decompress(std::string_view data, std::size_t size) {
  // Deflate cannot expand data by more than about 1032 times.
  if (size > data.size() * 1032 + 1024) throw DecodeError("gzip data cannot expand to the stated page size");
  z_stream z{};
  if (inflateInit2(&z, 15 + 32) != Z_OK) throw DecodeError("gzip: cannot start the decompressor");
  std::string out(size, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  std::size_t produced = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced != size) throw DecodeError("gzip data is corrupt or has the wrong size");
  return out;
}

}  // namespace

std::string compress(meta::Codec codec, std::string_view data) {
  switch (codec) {
    case meta::Codec::Uncompressed: return std::string(data);
    case meta::Codec::Snappy: {
      std::string out(snappy::MaxCompressedLength(data.size()), '\0');
      std::size_t n = 0;
      snappy::RawCompress(data.data(), data.size(), out.data(), &n);
      out.resize(n);
      return out;
    }
    case meta::Codec::Zstd: {
      std::string out(ZSTD_compressBound(data.size()), '\0');
      std::size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 1);
      if (ZSTD_isError(n)) throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(n));
      out.resize(n);
      return out;
    }
    case meta::Codec::Gzip: return gzip_compress(data);
    default: throw std::invalid_argument("unsupported compression codec " + std::to_string(int(codec)));
  }
}

std::string decompress(meta::Codec codec, std::string_view data, std::size_t size) {
  switch (codec) {
    case meta::Codec::Uncompressed:
      if (data.size() != size) throw DecodeError("an uncompressed page has the wrong size");
      return std::string(data);
    case meta::Codec::Snappy: {
      std::size_t n = 0;
      if (!snappy::GetUncompressedLength(data.data(), data.size(), &n) || n != size)
        throw DecodeError("snappy data is corrupt or has the wrong size");
      std::string out(size, '\0');
      if (!snappy::RawUncompress(data.data(), data.size(), out.data())) throw DecodeError("snappy data is corrupt");
      return out;
    }
    case meta::Codec::Zstd: {
      unsigned long long stated = ZSTD_getFrameContentSize(data.data(), data.size());
      if (stated == ZSTD_CONTENTSIZE_ERROR) throw DecodeError("zstd data is corrupt");
      if (stated != ZSTD_CONTENTSIZE_UNKNOWN ? stated > size : size > data.size() * 65536 + 65536)
        throw DecodeError("zstd data cannot expand to the stated page size");
      std::string out(size, '\0');
      std::size_t n = ZSTD_decompress(out.data(), out.size(), data.data(), data.size());
      if (ZSTD_isError(n) || n != size) throw DecodeError("zstd data is corrupt or has the wrong size");
      return out;
    }
    case meta::Codec::Gzip: return gzip_decompress(data, size);
    default: throw DecodeError("unsupported compression codec " + std::to_string(int(codec)));
  }
}

}  // namespace tremora::parquet
