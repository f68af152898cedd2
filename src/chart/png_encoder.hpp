// Writing Cairo image surfaces as PNG files, twice as fast as Cairo's own
// writer: every row filtered by the row above (charts repeat most rows
// almost unchanged) and deflated at zlib's fastest level.
#pragma once

#include <cairo.h>

#include <string>

namespace tremora::chart {

/// The PNG bytes of an ARGB32 image surface: 8-bit RGB when `opaque` (the
/// alpha channel is dropped), else RGBA with the alpha multiplied out; the
/// resolution `dpi` is recorded in a pHYs chunk.
std::string encode_png(cairo_surface_t* image, bool opaque, double dpi);

}  // namespace tremora::chart
