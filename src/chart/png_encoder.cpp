#include "png_encoder.hpp"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace tremora::chart {
namespace {

void put_u32(std::string& out, uint32_t v) {
  char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  out.append(b, 4);
}

void chunk(std::string& out, const char* type, const std::string& data) {
  put_u32(out, uint32_t(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  put_u32(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// One row as PNG samples (RGB or straight-alpha RGBA) from Cairo's
// premultiplied native-endian ARGB words.
void row_samples(const uint32_t* px, int width, bool opaque, uint8_t* out) {
  for (int x = 0; x < width; ++x) {
    uint32_t p = px[x];
    uint8_t a = uint8_t(p >> 24), r = uint8_t(p >> 16), g = uint8_t(p >> 8), b = uint8_t(p);
    if (!opaque && a != 0 && a != 255) {
      r = uint8_t((r * 255 + a / 2) / a), g = uint8_t((g * 255 + a / 2) / a), b = uint8_t((b * 255 + a / 2) / a);
    }
    *out++ = r, *out++ = g, *out++ = b;
    if (!opaque) *out++ = a;
  }
}

}  // namespace

PngWriter::PngWriter(int width, int height, bool opaque, double dpi)
    : width_(width), height_(height), opaque_(opaque), row_bytes_(std::size_t(width) * (opaque ? 3 : 4)) {
  head_.assign("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  put_u32(header, uint32_t(width));
  put_u32(header, uint32_t(height));
  header += std::string{char(8), char(opaque ? 2 : 6), 0, 0, 0};  // 8 bits, RGB or RGBA, deflate, filters, no interlace
  chunk(head_, "IHDR", header);
  std::string physical;
  uint32_t per_metre = uint32_t(std::lround(dpi / 0.0254));
  put_u32(physical, per_metre);
  put_u32(physical, per_metre);
  physical += char(1);  // the unit is the metre
  chunk(head_, "pHYs", physical);
  stream_.assign("\x78\x01", 2);  // zlib header: deflate, 32 KiB window, fastest level
}

// The rows [from, to) of `strip`, each with filter byte 2 ("Up": the
// difference from the row above; `above_row` holds the samples of the row
// above the first, all zeros above the image).
void PngWriter::filter_rows(cairo_surface_t* strip, int from, int to, const uint8_t* above_row, const FilteredRow& take,
                            std::vector<uint8_t>& row) const {
  cairo_surface_flush(strip);
  int stride = cairo_image_surface_get_stride(strip);
  const unsigned char* data = cairo_image_surface_get_data(strip);
  std::vector<uint8_t> prev(above_row, above_row + row_bytes_);
  std::string filtered(row_bytes_ + 1, char(2));
  row.resize(row_bytes_);
  for (int y = from; y < to; ++y) {
    row_samples(reinterpret_cast<const uint32_t*>(data + std::size_t(y) * std::size_t(stride)), width_, opaque_,
                row.data());
    for (std::size_t i = 0; i < row_bytes_; ++i) filtered[i + 1] = char(uint8_t(row[i] - prev[i]));
    take(filtered);
    prev.swap(row);
  }
  row.swap(prev);  // the samples of the last row
}

// Deflates what is handed to it, at zlib's fastest level, as raw deflate
// blocks with a dictionary, keeping the Adler-32 and length of the input.
class PngWriter::Deflater {
 public:
  explicit Deflater(const std::string& dictionary) {
    if (deflateInit2(&z_, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::runtime_error("png: cannot start deflate");
    if (!dictionary.empty())
      deflateSetDictionary(&z_, reinterpret_cast<const Bytef*>(dictionary.data()), uInt(dictionary.size()));
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  void add(std::string_view data) {
    piece.adler = uint32_t(adler32(piece.adler, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    piece.length += data.size();
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z_.avail_in = uInt(data.size());
    pump(Z_NO_FLUSH);
  }
  // Ends the piece with a sync flush, or with the stream's final block.
  void end(bool last) { pump(last ? Z_FINISH : Z_SYNC_FLUSH); }

  Piece piece;

 private:
  void pump(int flush) {
    char buffer[1 << 16];
    int result;
    do {
      z_.next_out = reinterpret_cast<Bytef*>(buffer);
      z_.avail_out = sizeof buffer;
      result = deflate(&z_, flush);
      piece.deflated.append(buffer, sizeof buffer - z_.avail_out);
    } while (z_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  }
  z_stream z_{};
};

void PngWriter::data_before(cairo_surface_t* rows, int end, std::string& dictionary,
                            std::vector<uint8_t>& last_row) const {
  // A suffix of the data before serves as the dictionary: the decompressor
  // holds all of it, so every match found in the suffix is found there.
  int keep = int(std::min<std::size_t>(std::size_t(end - 1), (32768 + row_bytes_) / (row_bytes_ + 1)));
  std::vector<uint8_t> start(row_bytes_);
  row_samples(reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(rows) +
                                                std::size_t(end - keep - 1) * cairo_image_surface_get_stride(rows)),
              width_, opaque_, start.data());
  filter_rows(
      rows, end - keep, end, start.data(), [&](std::string_view r) { dictionary += r; }, last_row);
  if (dictionary.size() > 32768) dictionary.erase(0, dictionary.size() - 32768);
}

PngWriter::Piece PngWriter::deflate_strip(cairo_surface_t* strip, cairo_surface_t* above, bool last) const {
  return deflate_rows(strip, 0, cairo_image_surface_get_height(strip), above, last);
}

PngWriter::Piece PngWriter::deflate_rows(cairo_surface_t* strip, int from, int to, cairo_surface_t* above,
                                         bool last) const {
  if (cairo_image_surface_get_width(strip) != width_ || (above && cairo_image_surface_get_width(above) != width_))
    throw std::logic_error("png: the strip is not as wide as the image");
  if (from < 0 || from >= to || to > cairo_image_surface_get_height(strip))
    throw std::logic_error("png: the rows are not within the strip");
  // The end of the filtered data before the rows, as the decompressor will
  // have it, and the samples of the row just above.
  std::string dictionary;
  std::vector<uint8_t> last_above(row_bytes_, 0), row;
  if (from > 0) data_before(strip, from, dictionary, last_above);
  else if (above) data_before(above, cairo_image_surface_get_height(above), dictionary, last_above);
  // Each row is deflated as it is filtered, so the rows' filtered data is
  // never held whole.
  Deflater deflater(dictionary);
  filter_rows(
      strip, from, to, last_above.data(), [&](std::string_view r) { deflater.add(r); }, row);
  deflater.end(last);
  deflater.piece.rows = to - from;
  return std::move(deflater.piece);
}

void PngWriter::add(Piece piece) {
  if (rows_done_ + piece.rows > height_) throw std::logic_error("png: the rows do not fit the image");
  stream_ += piece.deflated;
  adler_ = uint32_t(adler32_combine(adler_, piece.adler, z_off_t(piece.length)));
  rows_done_ += piece.rows;
}

std::string PngWriter::finish() {
  if (rows_done_ != height_) throw std::logic_error("png: the image has rows missing");
  put_u32(stream_, adler_);
  std::string out = std::move(head_);
  chunk(out, "IDAT", stream_);
  chunk(out, "IEND", "");
  return out;
}

std::string encode_png(cairo_surface_t* image, bool opaque, double dpi) {
  PngWriter png(cairo_image_surface_get_width(image), cairo_image_surface_get_height(image), opaque, dpi);
  png.add(png.deflate_strip(image, nullptr, true));
  return png.finish();
}

}  // namespace tremora::chart
