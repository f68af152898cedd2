// Fetching Kp intervals from the GFZ Potsdam Kp-index web service.
#include <cstdlib>
#include <stdexcept>

#include "http_get.hpp"
#include "reply.hpp"
#include "tremora/geomag.hpp"

namespace tremora::geomag {
namespace {

std::string query_time(Timestamp utc) { return format_timestamp(utc, "%Y-%m-%dT%H:%M:%SZ"); }

// The query starts at the three-hour UTC interval (00, 03, ..., 21 o'clock)
// that holds the start.
std::string request_url(Timestamp start, Timestamp end) {
  return kp_service_url() + "/app/json/?start=" + query_time(floor_to_step(start, kKpIntervalNanos)) +
         "&end=" + query_time(end) + "&index=Kp";
}

}  // namespace

UtcRange kp_range(const TimeBound& start_time, const TimeBound& end_time, const std::string& timezone) {
  UtcRange range{_timestamp(start_time, timezone).utc, _timestamp(end_time, timezone).utc};
  if (range.end < range.start) throw std::invalid_argument("end_time must not precede start_time");
  return range;
}

std::string kp_service_url() {
  const char* configured = std::getenv("TREMORA_KP_URL");
  std::string url = configured && *configured ? configured : "https://kp.gfz-potsdam.de";
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

Table fetch_geomag(const TimeBound& start_time, const TimeBound& end_time, const std::string& timezone,
                   double timeout) {
  auto [start, end] = kp_range(start_time, end_time, timezone);
  std::string url = request_url(start, end);
  Table raw = kp_table_from_reply(parse_json(http_get(url, timeout), "the reply of " + url));
  Table kp = overlapping_intervals(normalize_geomag(raw, timezone), start, end);
  kp.key().set_name("datetime");
  kp.attributes()["source"] = "GFZ Potsdam";
  kp.attributes()["license"] = "CC BY 4.0";
  return kp;
}

}  // namespace tremora::geomag
