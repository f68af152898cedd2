#include "http_get.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "tremora/errors.hpp"

namespace tremora::geomag {
namespace {

// libcurl's global state is set up once per process, before any handle.
void initialise_curl() {
  static const CURLcode status = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (status != CURLE_OK) throw IOError(std::string("cannot initialise libcurl: ") + curl_easy_strerror(status));
}

// The reply body as it comes, up to a limit: a piece that would pass it
// stops the transfer (libcurl ends it when fewer bytes are taken than given).
struct Body {
  std::string text;
  std::size_t limit;
  bool too_long = false;
};

size_t append_to_body(char* data, size_t size, size_t count, void* target) {
  Body& body = *static_cast<Body*>(target);
  std::size_t n = size * count;
  if (n > body.limit - body.text.size()) {
    body.too_long = true;
    return 0;
  }
  body.text.append(data, n);
  return n;
}

// A time-out in seconds as libcurl's whole milliseconds: rounded up, at
// least 1 (0 would mean no limit), at most 24 days.
long time_limit_millis(double seconds) {
  constexpr double kLongestMillis = 86400.0 * 24 * 1000;
  return static_cast<long>(std::clamp(std::ceil(seconds * 1000.0), 1.0, kLongestMillis));
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

}  // namespace

std::string http_get(const std::string& url, double timeout_seconds, std::size_t max_bytes) {
  if (!(std::isfinite(timeout_seconds) && timeout_seconds > 0))
    throw std::invalid_argument("timeout must be a positive number of seconds");
  initialise_curl();
  // Declared before the handle, so that they outlive it.
  Body body{.text = {}, .limit = max_bytes};
  char error[CURL_ERROR_SIZE] = "";
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw IOError("cannot create a libcurl handle for " + url);
  // The limit holds for the request as a whole, to the millisecond:
  // connecting, sending and receiving, across redirects, stop when it has
  // passed, however much of the reply has come.
  long millis = time_limit_millis(timeout_seconds);
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, millis);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, millis);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, append_to_body);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error);
  CURLcode result = curl_easy_perform(curl.get());
  if (body.too_long)
    throw IOError("GET " + url + " failed: the reply is longer than " + std::to_string(max_bytes) + " bytes");
  if (result != CURLE_OK)
    throw IOError("GET " + url + " failed: " + (error[0] ? std::string(error) : curl_easy_strerror(result)));
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) throw HttpError(int(status), "GET " + url + " failed with HTTP status " + std::to_string(status));
  return std::move(body.text);
}

}  // namespace tremora::geomag
