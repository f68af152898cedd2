// Reading time bounds into instants of a time zone.
#include <stdexcept>

#include "tremora/geomag.hpp"
#include "tremora/text.hpp"

namespace tremora::geomag {
namespace {

void require_known_zone(const std::string& zone) {
  if (!is_known_time_zone(zone)) throw std::invalid_argument("unknown time zone '" + zone + "'");
}

bool names_no_time(std::string_view text) {
  std::string lower = to_lower_ascii(strip_whitespace(text));
  return lower.empty() || lower == "nat";
}

[[noreturn]] void missing_bound() { throw std::invalid_argument("Kp time bounds must not be NaT"); }

ZonedTime from_wall_clock(Timestamp wall, const std::string& zone) {
  if (wall.is_nat()) missing_bound();
  return {local_to_utc(wall, zone), zone};
}

ZonedTime from_text(const std::string& text, const std::string& zone) {
  if (names_no_time(text)) missing_bound();
  ParsedDate parsed = parse_date_text(text);
  if (!parsed.utc_offset_seconds) return from_wall_clock(parsed.wall, zone);
  return {parsed.instant(), zone};
}

}  // namespace

ZonedTime _timestamp(const TimeBound& value, const std::string& timezone) {
  require_known_zone(timezone);
  if (const auto* wall = std::get_if<Timestamp>(&value)) return from_wall_clock(*wall, timezone);
  if (const auto* text = std::get_if<std::string>(&value)) return from_text(*text, timezone);
  const ZonedTime& zoned = std::get<ZonedTime>(value);
  if (zoned.utc.is_nat()) missing_bound();
  return {zoned.utc, timezone};
}

}  // namespace tremora::geomag
