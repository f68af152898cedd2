#include "tremora/postprocessing.hpp"

namespace tremora::postprocessing {

bool _is_leap_year(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

Table& create_normalized_dates(Table& df, int64_t reference_year) {
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
  const std::string& zone = key.zone();
  std::vector<int64_t> out(key.size(), Timestamp::NaT);
  for (std::size_t i = 0; i < key.size(); ++i) {
    Timestamp t{key.int64s()[i]};
    if (t.is_nat()) continue;
    CivilTime c = to_civil(zone.empty() ? t : utc_to_local(t, zone));
    int day = c.month == 2 && c.day == 29 && !_is_leap_year(reference_year) ? 28 : c.day;
    Timestamp wall = make_timestamp(int(reference_year), c.month, day);
    out[i] = (zone.empty() ? wall : local_to_utc(wall, zone)).ns;
  }
  df.set_column(Column::from_timestamps("datetime_norm", std::move(out), zone));
  return df;
}

}  // namespace tremora::postprocessing
