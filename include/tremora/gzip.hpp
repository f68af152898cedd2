// gzip (RFC 1952) and zlib (RFC 1950) compression of byte strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tremora {

/// The gzip-compressed form of `data` (one member, default level).
std::string gzip_compress(std::string_view data, int level = 6);

/// The zlib (RFC 1950) stream of `data`, as PNG files hold their pixels;
/// `level` from 1 (fastest) to 9 (smallest).
std::string zlib_compress(std::string_view data, int level = 6);

/// The decompressed bytes of gzip data (several members are joined; raw
/// zlib streams are accepted too). std::runtime_error on corrupt or
/// truncated data, or when the result would exceed `max_size` bytes:
/// inflating stops there, so memory and time stay bounded by the limit
/// ("gzip: the data expands beyond <max_size> bytes").
std::string gzip_decompress(std::string_view data, std::size_t max_size = std::size_t{1} << 32);

}  // namespace tremora
