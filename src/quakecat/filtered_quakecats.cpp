// Marking the catalogued events near a station: distance, filter flag,
// marker size and chart label.
#include <cmath>
#include <string>

#include "epicentral_distance.hpp"
#include "tremora/errors.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/text.hpp"

namespace tremora::quakecat {
namespace {

std::vector<Filter> filter_list(const std::optional<Filters>& filters, double default_magnitude,
                                double default_distance) {
  if (!filters) return {Filter{default_distance, default_magnitude}};
  if (const auto* one = std::get_if<Filter>(&*filters)) return {*one};
  return std::get<std::vector<Filter>>(*filters);
}

void require_event_table(const Table& df) {
  if (!df.has_key() || df.key().type() != DataType::Timestamp)
    throw TypeError("the event table has no timestamp row key");
  for (const char* name : {"lat", "lon", "magnitude", "name"})
    if (!df.has_column(name)) throw KeyError("the event table has no column '" + std::string(name) + "'");
}

// Rows whose time is later than 1970-01-01 00:00:00 on the column's clock.
std::vector<uint8_t> later_than_1970(const Column& times) {
  int64_t start = times.zone().empty() ? 0 : local_to_utc(Timestamp{0}, times.zone()).ns;
  const auto& ns = times.int64s();
  return row_mask(ns.size(), [&](std::size_t i) { return ns[i] != Timestamp::NaT && ns[i] > start; });
}

std::vector<double> distances_km(const Table& events, Station station) {
  const auto latitudes = to_number(events.column("lat")).float64s();
  const auto longitudes = to_number(events.column("lon")).float64s();
  std::vector<double> km(latitudes.size());
  for (std::size_t i = 0; i < km.size(); ++i) km[i] = epicentral_distance_km(station, latitudes[i], longitudes[i]);
  return km;
}

// 1 where an event passes any filter; NaN magnitudes fail every comparison.
std::vector<int64_t> flags(const std::vector<double>& km, const std::vector<double>& magnitudes,
                           const std::vector<Filter>& filters) {
  std::vector<int64_t> flag(km.size(), 0);
  for (const Filter& f : filters)
    for (std::size_t i = 0; i < km.size(); ++i)
      if (km[i] < f.max_distance_km && magnitudes[i] >= f.min_magnitude) flag[i] = 1;
  return flag;
}

std::vector<double> marker_sizes(const std::vector<double>& magnitudes) {
  std::vector<double> size(magnitudes.size());
  for (std::size_t i = 0; i < size.size(); ++i) {
    size[i] = (magnitudes[i] - 3) * 5;
    if (size[i] < 5) size[i] = 5;  // false for NaN, which stays missing
  }
  return size;
}

// Rounds to one decimal: ten times the value to the nearest integer, ties to
// even, divided by ten.
double round_to_tenth(double value) { return std::nearbyint(value * 10) / 10; }

Column labels(const Column& names, const std::vector<double>& magnitudes, const std::vector<double>& km) {
  Column texts = to_text(names);
  StringColumnBuilder out;
  for (std::size_t i = 0; i < km.size(); ++i) {
    if (texts.is_null(i)) {
      out.append_null();
      continue;
    }
    out.append(std::string(texts.text(i)) + "Ml" + python_float_text(magnitudes[i]) + "\n" +
               python_float_text(round_to_tenth(km[i])) + "km");
  }
  return out.finish("text");
}

}  // namespace

Table filtered_quakecats(Table& df, Station station, const std::optional<Filters>& filters, double default_magnitude,
                         double default_distance) {
  std::vector<Filter> filter_pairs = filter_list(filters, default_magnitude, default_distance);
  require_event_table(df);
  df.key().set_name("date");
  Table events = filter(df, later_than_1970(df.key()));

  std::vector<double> km = distances_km(events, station);
  const auto magnitudes = to_number(events.column("magnitude")).float64s();
  events.set_column(Column::from_float64("distance", km));
  events.set_column(Column::from_int64("flag", flags(km, magnitudes, filter_pairs)));
  events.set_column(Column::from_float64("size", marker_sizes(magnitudes)));
  events.set_column(labels(events.column("name"), magnitudes, km));
  return events;
}

}  // namespace tremora::quakecat
