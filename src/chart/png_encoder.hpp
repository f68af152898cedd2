// Writing Cairo image surfaces as PNG files, twice as fast as Cairo's own
// writer: every row filtered by the row above (charts repeat most rows
// almost unchanged) and deflated at zlib's fastest level.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tremora/gzip.hpp"

namespace tremora::chart {

/// A PNG image written strip by strip (so that a large image need not be
/// held whole): the rows of ARGB32 image surfaces of the image's width, top
/// to bottom, each filtered by the row above and deflated at zlib's fastest
/// level as it comes.
class PngWriter {
 public:
  PngWriter(int width, int height, bool opaque, double dpi);
  /// Adds the next rows; std::logic_error when they do not fit the image.
  void add_rows(cairo_surface_t* strip);
  /// The file's bytes; std::logic_error when rows are missing.
  std::string finish();

 private:
  int width_, height_, rows_done_ = 0;
  bool opaque_;
  std::string head_;
  ZlibWriter z_;
  std::vector<uint8_t> samples_, prev_, filtered_;
};

/// The PNG bytes of an ARGB32 image surface: 8-bit RGB when `opaque` (the
/// alpha channel is dropped), else RGBA with the alpha multiplied out; the
/// resolution `dpi` is recorded in a pHYs chunk.
std::string encode_png(cairo_surface_t* image, bool opaque, double dpi);

}  // namespace tremora::chart
