// The sample network: methods, items, station points and which items each
// point observes, and which sampling rates each method is recorded at.
#pragma once

#include <string>
#include <vector>

#include "tremora/sampledb.hpp"

namespace tremora::sampledb {

/// What an item measures, which decides how its series behaves.
enum class Kind { Tilt, Strain, Resistivity, GeoelectricField, WaterLevel, Rainfall };

struct Method {
  std::string code;
  std::string name;
  /// Rate codes with observation tables.
  std::vector<std::string> rates;
};

struct Item {
  std::string code;  // the first three characters are the method code
  std::string name;
  std::string unit;
  Kind kind;
  int decimals;
};

struct Point {
  std::string station;
  std::string point;
  std::string name;
  std::vector<std::string> items;
};

const std::vector<Method>& methods();
const std::vector<Item>& items();
const std::vector<Point>& points();
const Item& item(const std::string& code);

}  // namespace tremora::sampledb
