#include "http_get.hpp"

#include <curl/curl.h>

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

size_t append_to_string(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

}  // namespace

std::string http_get(const std::string& url, double timeout_seconds) {
  if (!(std::isfinite(timeout_seconds) && timeout_seconds > 0))
    throw std::invalid_argument("timeout must be a positive number of seconds");
  initialise_curl();
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw IOError("cannot create a libcurl handle for " + url);
  auto millis = static_cast<long>(std::ceil(timeout_seconds * 1000.0));
  std::string body;
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, millis);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, millis);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, append_to_string);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, error);
  CURLcode result = curl_easy_perform(curl.get());
  if (result != CURLE_OK)
    throw IOError("GET " + url + " failed: " + (error[0] ? std::string(error) : curl_easy_strerror(result)));
  long status = 0;
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) throw HttpError(int(status), "GET " + url + " failed with HTTP status " + std::to_string(status));
  return body;
}

}  // namespace tremora::geomag
