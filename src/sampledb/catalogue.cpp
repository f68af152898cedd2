// The sample earthquake catalogue: events near the sample stations, plus
// two historical events of northern China, in the fixed-column layout.
#include <fmt/format.h>

#include <cmath>
#include <ostream>

#include "series.hpp"
#include "tremora/files.hpp"

namespace tremora::sampledb {
namespace {

struct Event {
  Timestamp time;
  double latitude, longitude, magnitude;
  std::string name;
};

std::string line_of(const Event& e) {
  // Origin time 0-14, blank, latitude 15-21, longitude 21-27, blank,
  // magnitude 28-32, seven unread characters, place name from 39.
  return fmt::format("{} {:6.2f}{:6.2f} {:4.1f}       {}", format_timestamp(e.time, "%Y%m%d%H%M%S"), e.latitude,
                     e.longitude, e.magnitude, e.name);
}

const char* const kPlaces[] = {"附近", "东北", "西南", "以北", "以南", "海域"};

std::vector<Event> events(const Options& options) {
  std::vector<Event> out{
      {make_timestamp(1966, 3, 22, 16, 19, 46), 37.53, 114.92, 7.2, "河北邢台"},
      {make_timestamp(1976, 7, 28, 3, 42, 54), 39.63, 118.18, 7.8, "河北唐山"},
  };
  int64_t first = options.day_and_hour.first_day.ns, last = options.day_and_hour.last_day.ns;
  int64_t span_s = nanos_between(Timestamp{first}, Timestamp{last}) / kNanosPerSecond + 86400;
  uint64_t h = mix(options.seed ^ 0x51ED);
  for (const Station& s : stations()) {
    for (int k = 0; k < 6; ++k) {
      h = mix(h);
      double distance_deg = 0.2 + 2.3 * uniform(h);
      double bearing = 6.283185307179586 * uniform(mix(h + 1));
      double magnitude = std::round((2.0 + 3.8 * std::pow(uniform(mix(h + 2)), 2.5)) * 10) / 10;
      int64_t at = first / kNanosPerSecond + int64_t(uniform(mix(h + 3)) * double(span_s));
      std::string place = s.name + kPlaces[mix(h + 4) % 6];
      out.push_back({Timestamp{at * kNanosPerSecond}, s.latitude + distance_deg * std::cos(bearing),
                     s.longitude + distance_deg * std::sin(bearing), magnitude, place});
    }
  }
  // One event in the days of the second data, near Tai'an, to mark on charts.
  out.push_back({Timestamp{options.second.first_day.ns + 36 * kNanosPerHour + 1234 * kNanosPerSecond}, 36.05, 117.30,
                 4.6, "山东泰安"});
  return out;
}

}  // namespace

void write_catalogue(const std::filesystem::path& file, const Options& options) {
  std::vector<Event> list = events(options);
  write_file_atomically(file, [&](std::ostream& out) {
    for (const auto& e : list) out << line_of(e) << '\n';
  });
}

}  // namespace tremora::sampledb
