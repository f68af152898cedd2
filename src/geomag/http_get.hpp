// A plain HTTP(S) GET through libcurl.
#pragma once

#include <string>

namespace tremora::geomag {

/// Sends one GET (following redirects) and returns the body of a reply
/// whose status is below 400. `timeout_seconds` (positive) limits the
/// whole request, redirects included, to the millisecond: connecting,
/// sending and receiving together never take longer.
/// HttpError carrying the status for a reply of 400 or above; IOError naming
/// the address when the connection fails or times out.
std::string http_get(const std::string& url, double timeout_seconds);

}  // namespace tremora::geomag
