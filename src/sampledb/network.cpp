#include "network.hpp"

#include <stdexcept>

namespace tremora::sampledb {

const std::vector<Station>& stations() {
  static const std::vector<Station> list{
      {"37001", "郯城", 34.61, 118.35}, {"37005", "泰安", 36.19, 117.12}, {"32005", "南京", 32.06, 118.80},
      {"41001", "郑州", 34.75, 113.65}, {"34002", "合肥", 31.86, 117.28}, {"13001", "昌黎", 39.70, 119.17},
      {"11003", "延庆", 40.47, 115.97}, {"35003", "泉州", 24.91, 118.59},
  };
  return list;
}

const std::vector<Method>& methods() {
  static const std::vector<Method> list{
      {"211", "水平摆倾斜", {"02", "01", "60", "90"}},
      {"231", "体应变", {"01", "60", "90"}},
      {"312", "直流单装置地电阻率", {"60", "90"}},
      {"321", "地电场", {"02", "01", "60", "90"}},
      {"411", "水位", {"01", "60", "90"}},
      {"417", "水位(旧网)", {"01", "60", "90"}},
      {"491", "降雨量", {"60", "90"}},
  };
  return list;
}

const std::vector<Item>& items() {
  static const std::vector<Item> list{
      {"2111", "水平摆倾斜NS", "ms", Kind::Tilt, 3},
      {"2112", "水平摆倾斜EW", "ms", Kind::Tilt, 3},
      {"2311", "体应变", "10-10", Kind::Strain, 2},
      {"3121", "直流单装置地电阻率", "Ω·m", Kind::Resistivity, 3},
      {"3211", "地电场NS", "mV/km", Kind::GeoelectricField, 3},
      {"3212", "地电场EW", "mV/km", Kind::GeoelectricField, 3},
      {"4112", "水位", "m", Kind::WaterLevel, 4},
      {"4171", "井水位", "m", Kind::WaterLevel, 4},
      {"4911", "降雨量", "mm", Kind::Rainfall, 1},
  };
  return list;
}

const std::vector<Point>& points() {
  static const std::vector<Point> list{
      {"37001", "1", "郯城井", {"4112", "4911"}},
      {"37005", "1", "泰安地电台", {"3121", "3211", "3212"}},
      {"32005", "1", "南京山洞", {"2111", "2112", "2311"}},
      {"41001", "1", "郑州井", {"4112", "4171"}},
      {"34002", "1", "合肥地电台", {"3121"}},
      {"13001", "1", "昌黎地电台", {"3211", "3212"}},
      {"11003", "1", "延庆山洞", {"2111", "2112"}},
      {"11003", "2", "延庆井", {"4112"}},
      {"35003", "1", "泉州台", {"2311", "4911"}},
  };
  return list;
}

const Item& item(const std::string& code) {
  for (const auto& i : items())
    if (i.code == code) return i;
  throw std::invalid_argument("no sample item '" + code + "'");
}

}  // namespace tremora::sampledb
