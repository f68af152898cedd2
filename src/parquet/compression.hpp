// Page compression codecs: snappy, gzip, zstd and none both ways; LZ4 (both
// of its framings), LZ4_RAW and BROTLI for reading.
#pragma once

#include <string>
#include <string_view>

#include "metadata.hpp"

namespace tremora::parquet {

/// Compresses page bytes with a codec (Uncompressed copies them).
std::string compress(meta::Codec codec, std::string_view data);

/// The codec's name as the Parquet format spells it ("BROTLI", "LZ4_RAW").
const char* codec_name(meta::Codec codec);

/// Decompresses page bytes that must expand to exactly `size` bytes (empty
/// data of size 0 is an empty page, whatever the codec). DecodeError naming
/// the codec for an unsupported codec, corrupt data or a size mismatch.
std::string decompress(meta::Codec codec, std::string_view data, std::size_t size);

}  // namespace tremora::parquet
