#include "epicentral_distance.hpp"

#include <GeographicLib/Geodesic.hpp>
#include <cmath>
#include <limits>

namespace tremora::quakecat {
namespace {

bool is_latitude(double degrees) { return std::isfinite(degrees) && std::abs(degrees) <= 90; }

}  // namespace

double epicentral_distance_km(Station station, double latitude, double longitude) {
  constexpr double kUnknown = std::numeric_limits<double>::infinity();
  if (!is_latitude(station.latitude) || !is_latitude(latitude) || !std::isfinite(station.longitude) ||
      !std::isfinite(longitude))
    return kUnknown;
  // Karney's inverse solution reduces longitudes modulo 360 exactly.
  double metres = kUnknown;
  GeographicLib::Geodesic::WGS84().Inverse(station.latitude, station.longitude, latitude, longitude, metres);
  return std::isfinite(metres) ? metres / 1000 : kUnknown;
}

}  // namespace tremora::quakecat
