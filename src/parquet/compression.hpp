// Page compression codecs: snappy, gzip, zstd and none.
#pragma once

#include <string>
#include <string_view>

#include "metadata.hpp"

namespace tremora::parquet {

/// Compresses page bytes with a codec (Uncompressed copies them).
std::string compress(meta::Codec codec, std::string_view data);

/// Decompresses page bytes that must expand to exactly `size` bytes.
/// DecodeError for an unsupported codec, corrupt data or a size mismatch.
std::string decompress(meta::Codec codec, std::string_view data, std::size_t size);

}  // namespace tremora::parquet
