// A plain HTTP(S) GET through libcurl.
#pragma once

#include <cstddef>
#include <string>

namespace tremora::geomag {

/// The longest reply body http_get takes by default: 64 MiB, far more than
/// any Kp reply (about 40 bytes of JSON per 3-hour interval, so a century
/// of them is about 12 MiB).
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} << 20;

/// Sends one GET (following redirects) and returns the body of a reply
/// whose status is below 400. `timeout_seconds` (positive) limits the
/// whole request, redirects included, to the millisecond: connecting,
/// sending and receiving together never take longer.
/// HttpError carrying the status for a reply of 400 or above; IOError naming
/// the address when the connection fails or times out, or when the body
/// grows past `max_bytes` (the transfer stops there, so memory stays bounded).
std::string http_get(const std::string& url, double timeout_seconds, std::size_t max_bytes = kMaxReplyBytes);

}  // namespace tremora::geomag
