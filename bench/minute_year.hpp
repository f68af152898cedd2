// A sample database holding a year of minute data of three series (station
// 32005: tilt NS and EW, volume strain; 1095 day rows with gzip values,
// 1,576,800 samples), built once per benchmark program.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tremora/db.hpp"
#include "tremora/sampledb.hpp"

namespace tremora::bench {

struct MinuteYear {
  std::filesystem::path file;
  std::shared_ptr<db::Connection> conn;
  MinuteYear() {
    file = std::filesystem::temp_directory_path() / ("tremora-bench-" + std::to_string(getpid()) + ".db");
    sampledb::Options o;
    o.stations = {"32005"};
    o.rates = {"01"};
    o.minute = {make_timestamp(2024, 1, 1), make_timestamp(2024, 12, 30)};
    sampledb::write_database(file, o);
    conn = db::open_sqlite(file);
  }
  ~MinuteYear() { std::filesystem::remove(file); }
  MinuteYear(const MinuteYear&) = delete;
  MinuteYear& operator=(const MinuteYear&) = delete;
};

/// The database, made at the first call.
inline MinuteYear& minute_year() {
  static MinuteYear m;
  return m;
}

}  // namespace tremora::bench
