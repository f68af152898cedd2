#include "png_encoder.hpp"

#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tremora/gzip.hpp"

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
    : width_(width), height_(height), opaque_(opaque), z_(Z_BEST_SPEED) {
  std::size_t row_bytes = std::size_t(width) * (opaque ? 3 : 4);
  samples_.resize(row_bytes), prev_.assign(row_bytes, 0), filtered_.resize(row_bytes + 1);
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
}

// Each row is written with filter byte 2 ("Up": the difference from the row
// above, which is all zeros above the first).
void PngWriter::add_rows(cairo_surface_t* strip) {
  cairo_surface_flush(strip);
  int rows = cairo_image_surface_get_height(strip), stride = cairo_image_surface_get_stride(strip);
  if (cairo_image_surface_get_width(strip) != width_ || rows_done_ + rows > height_)
    throw std::logic_error("png: the rows do not fit the image");
  const unsigned char* data = cairo_image_surface_get_data(strip);
  for (int y = 0; y < rows; ++y) {
    row_samples(reinterpret_cast<const uint32_t*>(data + std::size_t(y) * std::size_t(stride)), width_, opaque_,
                samples_.data());
    filtered_[0] = 2;
    for (std::size_t i = 0; i < samples_.size(); ++i) filtered_[1 + i] = uint8_t(samples_[i] - prev_[i]);
    z_.write({reinterpret_cast<const char*>(filtered_.data()), filtered_.size()});
    prev_.swap(samples_);
  }
  rows_done_ += rows;
}

std::string PngWriter::finish() {
  if (rows_done_ != height_) throw std::logic_error("png: the image has rows missing");
  std::string out = std::move(head_);
  chunk(out, "IDAT", z_.finish());
  chunk(out, "IEND", "");
  return out;
}

std::string encode_png(cairo_surface_t* image, bool opaque, double dpi) {
  PngWriter png(cairo_image_surface_get_width(image), cairo_image_surface_get_height(image), opaque, dpi);
  png.add_rows(image);
  return png.finish();
}

}  // namespace tremora::chart
