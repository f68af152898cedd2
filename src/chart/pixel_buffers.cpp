#include "pixel_buffers.hpp"

namespace tremora::chart {
namespace {

const cairo_user_data_key_t kBufferKey{};

}  // namespace

PixelBuffers::PixelBuffers(int width, int rows)
    : width_(width), rows_(rows), stride_(cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width)) {}

PixelBuffers::~PixelBuffers() = default;

cairo_surface_t* PixelBuffers::clear_image(int rows) {
  std::unique_ptr<Buffer> buffer;
  {
    std::lock_guard lock(mutex_);
    if (!free_.empty()) buffer = std::move(free_.back()), free_.pop_back();
  }
  std::size_t bytes = std::size_t(stride_) * std::size_t(rows_);
  if (!buffer) buffer.reset(new Buffer{this, std::unique_ptr<unsigned char[]>(new unsigned char[bytes])});
  cairo_surface_t* image =
      cairo_image_surface_create_for_data(buffer->pixels.get(), CAIRO_FORMAT_ARGB32, width_, rows, stride_);
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) return image;  // an error surface holds no pixels
  if (cairo_surface_set_user_data(image, &kBufferKey, buffer.get(), give_back) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);  // it could not hand the buffer back: an image of Cairo's own
    return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, rows);
  }
  buffer.release();  // the surface hands it back
  // Cleared by Cairo, which then knows the image is clear and draws on it
  // as on an image of its own making (it skips work on a clear image).
  cairo_t* cr = cairo_create(image);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_destroy(cr);
  return image;
}

void PixelBuffers::give_back(void* data) {
  std::unique_ptr<Buffer> buffer(static_cast<Buffer*>(data));
  PixelBuffers* pool = buffer->pool;
  std::lock_guard lock(pool->mutex_);
  pool->free_.push_back(std::move(buffer));
}

}  // namespace tremora::chart
