// A small sample database, built once per test program in a temporary
// folder: stations 37001 郯城 (water level, rainfall), 37005 泰安
// (resistivity, geo-electric field) and 41001 郑州 (water level of methods
// 411 and 417), 60 days of day and hour data, 3 days of minute data and 1
// day of second data.
#pragma once

#include <filesystem>

#include "test_support.hpp"
#include "tremora/sampledb.hpp"

namespace tremora::testing {

inline sampledb::Options small_sample_options() {
  sampledb::Options o;
  o.stations = {"37001", "37005", "41001"};
  o.day_and_hour = {make_timestamp(2024, 4, 1), make_timestamp(2024, 5, 30)};
  o.minute = {make_timestamp(2024, 5, 9), make_timestamp(2024, 5, 11)};
  o.second = {make_timestamp(2024, 5, 10), make_timestamp(2024, 5, 10)};
  return o;
}

inline const std::filesystem::path& small_sample_db() {
  static TempDir dir;
  static const std::filesystem::path file = [] {
    auto f = dir / "sample.db";
    sampledb::write_database(f, small_sample_options());
    return f;
  }();
  return file;
}

}  // namespace tremora::testing
