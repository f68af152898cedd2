// Writing Cairo image surfaces as PNG files, twice as fast as Cairo's own
// writer: every row filtered by the row above (charts repeat most rows
// almost unchanged) and deflated at zlib's fastest level.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tremora::chart {

/// A PNG image made strip by strip (so that a large image need not be
/// held whole). Each strip of rows is filtered (every row by the row above)
/// and deflated at zlib's fastest level on its own, with the 32 KiB of
/// filtered data before it as its dictionary, so that strips can be
/// compressed on any thread and joined in order into one zlib stream, as
/// pigz joins its blocks. The bytes depend on the pixels and the strips'
/// heights only.
class PngWriter {
 public:
  PngWriter(int width, int height, bool opaque, double dpi);

  /// A strip compressed: its deflate blocks, ended by a sync flush (or, for
  /// the image's last strip, the final block), and the Adler-32 and length
  /// of its filtered data.
  struct Piece {
    std::string deflated;
    uint32_t adler = 1;
    std::size_t length = 0;
    int rows = 0;
  };
  /// Compresses an ARGB32 strip of the image's width; `above` is the strip
  /// just above it (null for the first). Safe to call from several threads.
  Piece deflate_strip(cairo_surface_t* strip, cairo_surface_t* above, bool last) const;
  /// Compresses rows [from, to) of a strip on their own, so that the parts
  /// of one strip can be compressed on several threads; `above` is needed
  /// for the part from row 0 only. std::logic_error for rows not in it.
  Piece deflate_rows(cairo_surface_t* strip, int from, int to, cairo_surface_t* above, bool last) const;
  /// Appends the next strip; std::logic_error when its rows do not fit.
  void add(Piece piece);
  /// The file's bytes; std::logic_error when rows are missing.
  std::string finish();

 private:
  using FilteredRow = std::function<void(std::string_view)>;
  class Deflater;
  // Hands each row of [from, to) to `take`, filtered; `row` ends with the
  // samples of row to - 1.
  void filter_rows(cairo_surface_t* strip, int from, int to, const uint8_t* above_row, const FilteredRow& take,
                   std::vector<uint8_t>& row) const;
  // The filtered data just before row `end` of `rows` (its last 32 KiB at
  // most, or as much of it as `rows` has), and the samples of row end - 1.
  void data_before(cairo_surface_t* rows, int end, std::string& dictionary, std::vector<uint8_t>& last_row) const;
  int width_, height_, rows_done_ = 0;
  bool opaque_;
  std::size_t row_bytes_;
  std::string head_, stream_;
  uint32_t adler_ = 1;
};

/// The PNG bytes of an ARGB32 image surface: 8-bit RGB when `opaque` (the
/// alpha channel is dropped), else RGBA with the alpha multiplied out; the
/// resolution `dpi` is recorded in a pHYs chunk.
std::string encode_png(cairo_surface_t* image, bool opaque, double dpi);

}  // namespace tremora::chart
