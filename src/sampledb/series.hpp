// The synthetic series of the sample network. Every sample is a pure
// function of the series and its instant, so that raw, preprocessed and
// product tables of the same series agree, and the database is the same on
// every run.
#pragma once

#include <cstdint>
#include <string>

#include "network.hpp"

namespace tremora::sampledb {

/// A well-mixed 64-bit hash (splitmix64 finaliser).
uint64_t mix(uint64_t x);
/// A uniform number in [0, 1) from a hash.
double uniform(uint64_t h);

struct SeriesModel {
  Kind kind;
  uint64_t seed;
  double base, seasonal, trend_per_year, tide, diurnal, noise;
  double phase;
};

SeriesModel model_for(const std::string& station, const std::string& point, const Item& item, uint64_t seed);

/// The value at a wall-clock instant (seconds since 1970, Beijing time),
/// with noise; rainfall gives the amount of the hour the instant lies in.
double sample_value(const SeriesModel& m, int64_t seconds);

/// The mean over [seconds, seconds + span): the product "AVG" value, and
/// for rainfall the sum.
double interval_value(const SeriesModel& m, int64_t seconds, int64_t span);

}  // namespace tremora::sampledb
