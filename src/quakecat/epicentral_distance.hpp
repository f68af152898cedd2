// Epicentral distances on the WGS-84 ellipsoid.
#pragma once

#include "tremora/quakecat.hpp"

namespace tremora::quakecat {

/// The length in km of the geodesic from the station to the epicentre on
/// the WGS-84 ellipsoid; +inf when a coordinate is missing or not finite or
/// a latitude lies outside -90..90. Longitudes of any size are taken modulo
/// 360.
double epicentral_distance_km(Station station, double latitude, double longitude);

}  // namespace tremora::quakecat
