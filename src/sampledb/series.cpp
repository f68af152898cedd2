#include "series.hpp"

#include <cmath>

namespace tremora::sampledb {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kM2Hours = 12.4206;        // principal lunar semi-diurnal tide
constexpr double kO1Hours = 25.8193;        // principal lunar diurnal tide
constexpr int64_t kEpoch2022 = 1640995200;  // 2022-01-01 00:00:00
// The geomagnetic storm of 10-11 May 2024, in Beijing time.
constexpr int64_t kStormStart = 1715385600;  // 2024-05-11 00:00
constexpr int64_t kStormEnd = 1715486400;    // 2024-05-12 04:00

uint64_t text_hash(const std::string& s) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ULL;
  return h;
}

double gaussian(uint64_t h) {
  double u1 = std::max(uniform(h), 1e-12), u2 = uniform(mix(h ^ 0x9E3779B97F4A7C15ULL));
  return std::sqrt(-2 * std::log(u1)) * std::cos(kTwoPi * u2);
}

double level(const SeriesModel& m, int64_t seconds) {
  double days = double(seconds - kEpoch2022) / 86400.0;
  double hours = double(seconds) / 3600.0;
  double v = m.base + m.seasonal * std::sin(kTwoPi * days / 365.25 + m.phase) + m.trend_per_year * days / 365.25;
  v += m.tide * std::sin(kTwoPi * hours / kM2Hours + m.phase) + 0.45 * m.tide * std::sin(kTwoPi * hours / kO1Hours);
  double local_hour = std::fmod(hours, 24.0);
  v += m.diurnal * std::sin(kTwoPi * (local_hour - 8) / 24);
  if (m.kind == Kind::GeoelectricField && seconds >= kStormStart && seconds < kStormEnd)
    v += 18 * std::sin(kTwoPi * double(seconds - kStormStart) / 2400.0) * std::sin(kTwoPi * double(seconds) / 97.0);
  return v;
}

// Rain of one hour: wet hours are rarer in winter, amounts spread widely.
double rain_of_hour(const SeriesModel& m, int64_t hour_index) {
  double days = double(hour_index * 3600 - kEpoch2022) / 86400.0;
  double wet = 0.04 + 0.06 * std::max(0.0, std::sin(kTwoPi * (days - 90) / 365.25));
  uint64_t h = mix(m.seed ^ uint64_t(hour_index));
  if (uniform(h) >= wet) return 0;
  return std::round(-std::log(std::max(uniform(mix(h)), 1e-9)) * 2.5 * 10) / 10;
}

}  // namespace

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

double uniform(uint64_t h) { return double(h >> 11) * 0x1.0p-53; }

SeriesModel model_for(const std::string& station, const std::string& point, const Item& item, uint64_t seed) {
  uint64_t s = mix(seed ^ text_hash(station + "/" + point + "/" + item.code));
  double jitter = uniform(s);
  SeriesModel m{item.kind, s, 0, 0, 0, 0, 0, 0, kTwoPi * jitter};
  switch (item.kind) {
    case Kind::Tilt:
      m.base = 800 + 400 * jitter, m.seasonal = 30, m.trend_per_year = 40, m.tide = 12, m.noise = 0.3;
      break;
    case Kind::Strain:
      m.base = 4000 + 2000 * jitter, m.seasonal = 150, m.trend_per_year = -80, m.tide = 50, m.noise = 1;
      break;
    case Kind::Resistivity: m.base = 30 + 30 * jitter, m.seasonal = 1.2, m.trend_per_year = -0.3, m.noise = 0.05; break;
    case Kind::GeoelectricField: m.base = 5 + 20 * jitter, m.diurnal = 3, m.noise = 0.2; break;
    case Kind::WaterLevel:
      m.base = 3 + 10 * jitter, m.seasonal = 0.35, m.trend_per_year = -0.05, m.tide = 0.015, m.noise = 0.001;
      break;
    case Kind::Rainfall: break;
  }
  return m;
}

double sample_value(const SeriesModel& m, int64_t seconds) {
  if (m.kind == Kind::Rainfall) return rain_of_hour(m, seconds / 3600);
  return level(m, seconds) + m.noise * gaussian(mix(m.seed + uint64_t(seconds)));
}

double interval_value(const SeriesModel& m, int64_t seconds, int64_t span) {
  if (m.kind == Kind::Rainfall) {
    double sum = 0;
    for (int64_t h = seconds / 3600; h < (seconds + span) / 3600; ++h) sum += rain_of_hour(m, h);
    return sum;
  }
  constexpr int kSteps = 12;
  double sum = 0;
  for (int k = 0; k < kSteps; ++k) sum += level(m, seconds + span * (2 * k + 1) / (2 * kSteps));
  return sum / kSteps + m.noise * 0.2 * gaussian(mix(m.seed ^ uint64_t(seconds) ^ 0xA5A5));
}

}  // namespace tremora::sampledb
