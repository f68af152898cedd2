#include "compression.hpp"

#include <snappy.h>
#include <zstd.h>

#include <stdexcept>

#include "encoding.hpp"
#include "tremora/gzip.hpp"

namespace tremora::parquet {
namespace {

// Bounds on how much each codec can expand its data: deflate about 1032
// times; snappy about 21 times (a three-byte copy makes at most 64 bytes);
// zstd about 32768 times (a four-byte RLE block makes at most 128 KiB), so
// 65536 leaves room. A page that states a larger size is refused before
// memory is set aside for it.
void check_expansion(std::string_view data, std::size_t size, std::size_t ratio, const char* codec) {
  if (size > data.size() * ratio + ratio)
    throw DecodeError(std::string(codec) + " data cannot expand to the stated page size");
}

std::string gzip_exact(std::string_view data, std::size_t size) {
  check_expansion(data, size, 1032, "gzip");
  std::string out;
  try {
    out = tremora::gzip_decompress(data, size);
  } catch (const std::runtime_error& e) {
    throw DecodeError(std::string("gzip data is corrupt: ") + e.what());
  }
  if (out.size() != size) throw DecodeError("gzip data has the wrong size");
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
    case meta::Codec::Gzip: return tremora::gzip_compress(data);
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
      check_expansion(data, size, 22, "snappy");
      std::string out(size, '\0');
      if (!snappy::RawUncompress(data.data(), data.size(), out.data())) throw DecodeError("snappy data is corrupt");
      return out;
    }
    case meta::Codec::Zstd: {
      unsigned long long stated = ZSTD_getFrameContentSize(data.data(), data.size());
      if (stated == ZSTD_CONTENTSIZE_ERROR) throw DecodeError("zstd data is corrupt");
      if (stated != ZSTD_CONTENTSIZE_UNKNOWN && stated > size)
        throw DecodeError("zstd data cannot expand to the stated page size");
      check_expansion(data, size, 65536, "zstd");
      std::string out(size, '\0');
      std::size_t n = ZSTD_decompress(out.data(), out.size(), data.data(), data.size());
      if (ZSTD_isError(n) || n != size) throw DecodeError("zstd data is corrupt or has the wrong size");
      return out;
    }
    case meta::Codec::Gzip: return gzip_exact(data, size);
    default: throw DecodeError("unsupported compression codec " + std::to_string(int(codec)));
  }
}

}  // namespace tremora::parquet
