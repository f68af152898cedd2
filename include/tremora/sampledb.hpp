// The sample precursor database: a deterministic, physically plausible
// QZDATA database in a SQLite file, for tests, demos and benchmarks, and a
// sample earthquake catalogue near its stations.
//
// The network has eight stations in eastern China with their points, the
// dictionary tables (methods, stations, points, items, station-items), and
// observation tables named QZ_<method>_<type>_<rate> ("QZ_411_DYU_01";
// product tables QZ_<method>_CP_AVG_<rate> and QZ_<method>_CP_INS_<rate>),
// one development table containing "_DEV_" and log tables QZ_<method>_DLG.
// Each day row holds the samples of one day as text ("NULL" for a missing
// sample, "NULLALL" for a day without data); second and minute tables hold
// them gzip-compressed in a BLOB. Series carry tides, seasonal cycles,
// trends, noise and spikes; the geo-electric field shows the geomagnetic
// storm of 10-11 May 2024.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tremora/time.hpp"

namespace tremora::sampledb {

/// A span of whole days, both ends included.
struct Period {
  Timestamp first_day;
  Timestamp last_day;
};

struct Options {
  /// Station codes to include; empty for all eight.
  std::vector<std::string> stations{};
  /// Sampling-rate codes that get observation tables: "02" second, "01"
  /// minute, "60" hour, "90" day.
  std::vector<std::string> rates{"02", "01", "60", "90"};
  /// Days of the day and hour tables.
  Period day_and_hour{make_timestamp(2022, 1, 1), make_timestamp(2024, 12, 31)};
  /// Days of the minute tables.
  Period minute{make_timestamp(2024, 4, 1), make_timestamp(2024, 5, 31)};
  /// Days of the second tables.
  Period second{make_timestamp(2024, 5, 9), make_timestamp(2024, 5, 12)};
  /// Seed of the random parts (noise, spikes, gaps).
  uint64_t seed = 20240510;
};

/// A station of the sample network.
struct Station {
  std::string code;
  std::string name;
  double latitude;
  double longitude;
};

/// The eight stations of the sample network.
const std::vector<Station>& stations();

/// What was written.
struct Summary {
  std::size_t tables = 0;
  std::size_t day_rows = 0;
  std::uintmax_t bytes = 0;
};

/// Writes the database to `file` (atomically: built under a temporary name
/// in the same folder, then renamed). std::invalid_argument for an unknown
/// station or rate code or an empty period; DatabaseError/IOError when the
/// file cannot be written.
Summary write_database(const std::filesystem::path& file, const Options& options = {});

/// Writes a sample earthquake catalogue in the fixed-column layout (origin
/// time in columns 0-14, latitude 15-21, longitude 21-27, magnitude 28-32,
/// place name from 39) with events near the stations over the period of
/// the day tables, written atomically.
void write_catalogue(const std::filesystem::path& file, const Options& options = {});

}  // namespace tremora::sampledb
