#include "compression.hpp"

#include <brotli/decode.h>
#include <lz4.h>
#include <snappy.h>
#include <zstd.h>

#include <memory>
#include <stdexcept>

#include "encoding.hpp"
#include "tremora/gzip.hpp"

namespace tremora::parquet {
namespace {

// Bounds on how much each codec can expand its data: deflate about 1032
// times; snappy about 21 times (a three-byte copy makes at most 64 bytes);
// lz4 about 255 times (each length byte adds 255); zstd about 32768 times (a
// four-byte RLE block makes at most 128 KiB), so 65536 leaves room. A page
// that states a larger size is refused before memory is set aside for it.
// Brotli has no such small bound: its output is grown as it comes, up to
// the stated size.
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

// One LZ4 block of exactly `size` bytes.
bool lz4_block(std::string_view data, char* out, std::size_t size) {
  if (data.size() > INT32_MAX || size > INT32_MAX) return false;
  int n = LZ4_decompress_safe(data.data(), out, int(data.size()), int(size));
  return n >= 0 && std::size_t(n) == size;
}

// Hadoop's framing of LZ4: blocks of a big-endian uncompressed size, a
// big-endian compressed size and an LZ4 block, to the end of the data.
bool lz4_hadoop(std::string_view data, std::string& out) {
  auto be32 = [](const char* p) {
    auto b = reinterpret_cast<const unsigned char*>(p);
    return std::size_t(b[0]) << 24 | std::size_t(b[1]) << 16 | std::size_t(b[2]) << 8 | std::size_t(b[3]);
  };
  std::size_t written = 0;
  while (!data.empty()) {
    if (data.size() < 8) return false;
    std::size_t raw = be32(data.data()), packed = be32(data.data() + 4);
    data.remove_prefix(8);
    if (packed > data.size() || raw > out.size() - written) return false;
    if (!lz4_block(data.substr(0, packed), out.data() + written, raw)) return false;
    data.remove_prefix(packed);
    written += raw;
  }
  return written == out.size();
}

std::string lz4_exact(meta::Codec codec, std::string_view data, std::size_t size) {
  check_expansion(data, size, 256, "LZ4");
  std::string out(size, '\0');
  // Codec LZ4 is Hadoop's framing in most files, a bare block in files of
  // older writers: the framing is tried first, as the readers of those
  // files do.
  if (codec == meta::Codec::Lz4 && lz4_hadoop(data, out)) return out;
  if (!lz4_block(data, out.data(), size)) throw DecodeError(std::string(codec_name(codec)) + " data is corrupt");
  return out;
}

std::string brotli_exact(std::string_view data, std::size_t size) {
  std::unique_ptr<BrotliDecoderState, decltype(&BrotliDecoderDestroyInstance)> state(
      BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), &BrotliDecoderDestroyInstance);
  if (!state) throw std::bad_alloc();
  std::string out;
  std::size_t in_left = data.size();
  auto in = reinterpret_cast<const uint8_t*>(data.data());
  BrotliDecoderResult r = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
  while (r == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT && out.size() <= size) {
    std::size_t had = out.size(), room = std::min<std::size_t>(std::max<std::size_t>(had, 65536), size + 1 - had);
    out.resize(had + room);
    auto next = reinterpret_cast<uint8_t*>(out.data() + had);
    r = BrotliDecoderDecompressStream(state.get(), &in_left, &in, &room, &next, nullptr);
    out.resize(out.size() - room);
  }
  if (r != BROTLI_DECODER_RESULT_SUCCESS || out.size() != size)
    throw DecodeError("BROTLI data is corrupt or has the wrong size");
  return out;
}

}  // namespace

const char* codec_name(meta::Codec codec) {
  switch (codec) {
    case meta::Codec::Uncompressed: return "UNCOMPRESSED";
    case meta::Codec::Snappy: return "SNAPPY";
    case meta::Codec::Gzip: return "GZIP";
    case meta::Codec::Lzo: return "LZO";
    case meta::Codec::Brotli: return "BROTLI";
    case meta::Codec::Lz4: return "LZ4";
    case meta::Codec::Zstd: return "ZSTD";
    case meta::Codec::Lz4Raw: return "LZ4_RAW";
  }
  return "an unknown codec";
}

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
    default: throw std::invalid_argument(std::string("writing ") + codec_name(codec) + " is not supported");
  }
}

std::string decompress(meta::Codec codec, std::string_view data, std::size_t size) {
  if (data.empty() && size == 0) return {};  // an empty page body: nothing was compressed
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
    case meta::Codec::Lz4:
    case meta::Codec::Lz4Raw: return lz4_exact(codec, data, size);
    case meta::Codec::Brotli: return brotli_exact(data, size);
    default: {
      std::string name = codec_name(codec);
      if (name == "an unknown codec") name += " (" + std::to_string(int(codec)) + ")";
      throw DecodeError("the compression codec " + name + " is not supported");
    }
  }
}

}  // namespace tremora::parquet
