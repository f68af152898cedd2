// The wall-clock time now in a time zone as the date library gives it, an
// independent reading for tests of the local clock.
#pragma once

#include <date/tz.h>

#include <chrono>
#include <string>

#include "tremora/time.hpp"

namespace tremora::testing {

/// The time now in `zone`, to the second, as the date library reads it.
inline Timestamp zone_now(const std::string& zone) {
  auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  return parse_timestamp(date::format("%F %T", date::make_zoned(zone, now)));
}

}  // namespace tremora::testing
