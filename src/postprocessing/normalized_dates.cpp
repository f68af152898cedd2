#include <fmt/format.h>

#include <stdexcept>

#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {
namespace {

// Every day of a reference year must be a timestamp: 1677 and 2262 are
// only partly inside the range.
void check_reference_year(int64_t year) {
  if (year < 1678 || year > 2261)
    throw std::invalid_argument(
        fmt::format("reference year {} lies outside the years that timestamps cover whole (1678 to 2261)", year));
}

}  // namespace

bool _is_leap_year(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

Table& create_normalized_dates(Table& df, int64_t reference_year) {
  check_reference_year(reference_year);
  if (!df.has_key()) return df;
  if (df.key().type() == DataType::String) {
    try {
      Column converted = parse_timestamps(df.key());
      converted.set_name(df.key().name());
      df.set_key_column(std::move(converted));
    } catch (const std::exception&) {
      return df;
    }
  }
  const Column& key = df.key();
  if (key.type() != DataType::Timestamp) return df;
  // The day of each time is the day of its own wall clock; the normalised
  // midnight is the start of that day in the same zone.
  ZoneClock clock(key.zone());
  std::vector<int64_t> out(key.size(), Timestamp::NaT);
  for (std::size_t i = 0; i < key.size(); ++i) {
    Timestamp t{key.int64s()[i]};
    if (t.is_nat()) continue;
    CivilTime c = to_civil(clock.to_local(t));
    int day = c.month == 2 && c.day == 29 && !_is_leap_year(reference_year) ? 28 : c.day;
    out[i] = clock.start_of(make_timestamp(int(reference_year), c.month, day)).ns;
  }
  df.set_column(Column::from_timestamps("datetime_norm", std::move(out), key.zone()));
  return df;
}

}  // namespace tremora::postprocessing
