// The normal form of Kp tables, and the cut to the intervals of a range.
#include <cmath>
#include <stdexcept>

#include "tremora/geomag.hpp"

namespace tremora::geomag {
namespace {

void check_shape(const Table& data) {
  if (!data.has_column("Kp") || !data.has_column("status"))
    throw std::invalid_argument("geomag_data must be a DataFrame with Kp and status columns");
  if (!data.has_key() || data.key().type() != DataType::Timestamp || data.key().zone().empty())
    throw std::invalid_argument("geomag_data must have a timezone-aware DatetimeIndex");
  for (int64_t t : data.key().int64s())
    if (t == Timestamp::NaT) throw std::invalid_argument("geomag_data contains invalid timestamps");
}

// Kp as numbers, values outside the index's range 0..9 missing; a column of
// times or bytes holds no numbers at all.
Column kp_values(const Column& kp) {
  bool no_numbers =
      kp.type() == DataType::Timestamp || kp.type() == DataType::Duration || kp.type() == DataType::Binary;
  Column out = no_numbers ? Column::nulls("Kp", DataType::Float64, kp.size()) : to_number(kp);
  out.set_name("Kp");
  for (double& v : out.float64s())
    if (!(v >= 0.0 && v <= 9.0)) v = std::nan("");
  return out;
}

// Positions in ascending key order (ties in input order), keeping only the
// last row of each run of equal keys.
std::vector<int64_t> last_of_each_key(const Column& key) {
  std::vector<int64_t> order = sort_indices(key);
  const std::vector<int64_t>& t = key.int64s();
  std::vector<int64_t> kept;
  kept.reserve(order.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    if (i + 1 == order.size() || t[order[i + 1]] != t[order[i]]) kept.push_back(order[i]);
  return kept;
}

}  // namespace

Table normalize_geomag(const Table& data, const std::string& timezone) {
  check_shape(data);
  if (!is_known_time_zone(timezone)) throw std::invalid_argument("unknown time zone '" + timezone + "'");
  Table result({kp_values(data.column("Kp")), data.column("status")});
  Column key = data.key();
  key.set_zone(timezone);
  result.set_key_column(std::move(key));
  result.attributes() = data.attributes();
  return take(result, last_of_each_key(result.key()));
}

Table overlapping_intervals(const Table& kp, Timestamp start_utc, Timestamp end_utc) {
  const std::vector<int64_t>& t = kp.key().int64s();
  // t + 3 h > start, written so that neither side can overflow.
  int64_t after = 0;
  if (__builtin_sub_overflow(start_utc.ns, kKpIntervalNanos, &after)) after = Timestamp::NaT;
  return filter_rows(kp, [&](std::size_t i) { return t[i] != Timestamp::NaT && t[i] > after && t[i] <= end_utc.ns; });
}

}  // namespace tremora::geomag
