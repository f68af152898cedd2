#include "png_encoder.hpp"

#include <zlib.h>

#include <cmath>
#include <cstdint>
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

// The filtered rows: each a filter byte 2 ("Up", the difference from the
// row above) and its samples.
std::vector<uint8_t> filtered_rows(cairo_surface_t* image, bool opaque) {
  int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
  int stride = cairo_image_surface_get_stride(image), channels = opaque ? 3 : 4;
  const unsigned char* data = cairo_image_surface_get_data(image);
  std::size_t row_bytes = std::size_t(w) * std::size_t(channels);
  std::vector<uint8_t> rows((row_bytes + 1) * std::size_t(h));
  std::vector<uint8_t> samples(row_bytes), prev(row_bytes);
  for (int y = 0; y < h; ++y) {
    uint8_t* out = rows.data() + std::size_t(y) * (row_bytes + 1);
    row_samples(reinterpret_cast<const uint32_t*>(data + std::size_t(y) * std::size_t(stride)), w, opaque,
                samples.data());
    out[0] = 2;
    const uint8_t* above = y > 0 ? prev.data() : nullptr;
    for (std::size_t i = 0; i < row_bytes; ++i) out[1 + i] = uint8_t(samples[i] - (above ? above[i] : 0));
    prev.swap(samples);
  }
  return rows;
}

}  // namespace

std::string encode_png(cairo_surface_t* image, bool opaque, double dpi) {
  cairo_surface_flush(image);
  int w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  put_u32(header, uint32_t(w));
  put_u32(header, uint32_t(h));
  header += std::string{char(8), char(opaque ? 2 : 6), 0, 0, 0};  // 8 bits, RGB or RGBA, deflate, filters, no interlace
  chunk(out, "IHDR", header);
  std::string physical;
  uint32_t per_metre = uint32_t(std::lround(dpi / 0.0254));
  put_u32(physical, per_metre);
  put_u32(physical, per_metre);
  physical += char(1);  // the unit is the metre
  chunk(out, "pHYs", physical);
  std::vector<uint8_t> rows = filtered_rows(image, opaque);
  chunk(out, "IDAT", zlib_compress({reinterpret_cast<const char*>(rows.data()), rows.size()}, Z_BEST_SPEED));
  chunk(out, "IEND", "");
  return out;
}

}  // namespace tremora::chart
