// Markers handed to a stream measure and draw exactly as the same markers
// recorded one operation each.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "marker_stream.hpp"
#include "test_support.hpp"

namespace tremora::chart {
namespace {

constexpr double kScale = 300.0 / 72, kSide = 4.3;
constexpr int kWidth = 1200, kStripRows = 256;
const cairo_rectangle_t kClip{20.25, 15.5, 240.3, 130.1};

// A translucent disc at device resolution, as scatter markers are stamped.
cairo_surface_t* disc_stamp() {
  int pixels = int(std::ceil(kSide * kScale));
  cairo_surface_t* stamp = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
  cairo_surface_set_device_scale(stamp, kScale, kScale);
  cairo_t* cr = cairo_create(stamp);
  cairo_set_source_rgba(cr, 0.1, 0.6, 0.3, 0.3);
  cairo_arc(cr, kSide / 2, kSide / 2, kSide / 2 - 1, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_destroy(cr);
  return stamp;
}

// More markers than a run holds, crowded so that they overlap, some
// across the clip's edges.
StampCorners crowded_corners() {
  std::mt19937 gen(7);
  std::normal_distribution<double> x(130, 60), y(70, 35);
  StampCorners corners(MarkerStream::kRun * 2 + 500);
  for (auto& c : corners) c = {x(gen), y(gen)};
  return corners;
}

// A band beneath, the clipped markers, a line above them; `framed`, with
// a frame around the clip, as a panel's spines are drawn around its markers.
void draw_scene(cairo_t* cr, cairo_surface_t* stamp, const StampCorners& corners, bool framed = false) {
  cairo_set_source_rgba(cr, 0.2, 0.4, 0.8, 0.5);
  cairo_rectangle(cr, 10.3, 12.7, 200.1, 90.4);
  cairo_fill(cr);
  if (framed) {
    cairo_set_line_width(cr, 0.8);
    cairo_rectangle(cr, kClip.x, kClip.y, kClip.width, kClip.height);
    cairo_stroke(cr);
  }
  cairo_save(cr);
  cairo_rectangle(cr, kClip.x, kClip.y, kClip.width, kClip.height);
  cairo_clip(cr);
  MarkerStream* stream = MarkerStream::of(cr);
  if (!stream || !stream->take(cr, stamp, kSide, kClip, StampCorners(corners))) lay_stamps(cr, stamp, kSide, corners);
  cairo_restore(cr);
  cairo_set_source_rgba(cr, 0.9, 0.1, 0.1, 0.8);
  cairo_set_line_width(cr, 1.3);
  cairo_move_to(cr, 5, 100);
  cairo_line_to(cr, 220, 8);
  cairo_stroke(cr);
}

std::vector<unsigned char> pixels_of(cairo_surface_t* image) {
  cairo_surface_flush(image);
  const unsigned char* data = cairo_image_surface_get_data(image);
  return {data, data + std::size_t(cairo_image_surface_get_stride(image)) * cairo_image_surface_get_height(image)};
}

// The scene recorded (with `stream` attached, when given) and replayed onto
// a clear strip.
std::vector<unsigned char> strip_pixels(const Placement& at, MarkerStream* stream, cairo_surface_t* strip,
                                        cairo_surface_t* stamp, const StampCorners& corners) {
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  if (stream) stream->attach(recording);
  cairo_t* cr = cairo_create(recording);
  draw_scene(cr, stamp, corners);
  cairo_destroy(cr);
  cr = cairo_create(strip);
  at.place(cr, recording);
  EXPECT_EQ(cairo_status(cr), CAIRO_STATUS_SUCCESS);
  cairo_destroy(cr);
  cairo_surface_destroy(recording);
  return pixels_of(strip);
}

// The ink extent (x, y, width, height) of the scene recorded with the
// markers in it, or measured by a `MarkerInk`.
std::vector<double> scene_ink(cairo_surface_t* stamp, const StampCorners& corners, bool framed, bool streamed) {
  MarkerInk ink;
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  if (streamed) ink.attach(recording);
  cairo_t* cr = cairo_create(recording);
  draw_scene(cr, stamp, corners, framed);
  cairo_destroy(cr);
  double x, y, w, h;
  cairo_recording_surface_ink_extents(recording, &x, &y, &w, &h);
  cairo_surface_destroy(recording);
  if (streamed) ink.widen(x, y, w, h);
  return {x, y, w, h};
}

TEST(MarkerStream, MeasuresAndDrawsAsMarkersRecordedOneByOne) {
  cairo_surface_t* stamp = disc_stamp();
  StampCorners corners = crowded_corners();

  // Measuring: the ink of the recording with the stream's markers added is
  // the ink of the recording that holds them, whether the markers reach
  // beyond the rest (no frame) or the frame holds them, on any number of
  // threads.
  for (const char* threads : {"1", "4"}) {
    testing::ScopedEnv env("TREMORA_THREADS", std::string(threads));
    for (bool framed : {false, true})
      EXPECT_EQ(scene_ink(stamp, corners, framed, true), scene_ink(stamp, corners, framed, false))
          << threads << " threads, framed " << framed;
  }
  std::vector<double> reference = scene_ink(stamp, corners, false, false);
  EXPECT_LT(scene_ink(stamp, {}, false, false)[3], reference[3]);  // the markers reach lower than the rest
  double rx = reference[0], ry = reference[1], rh = reference[3];

  // Drawing: each strip of the image is the same, byte for byte, also when
  // the strip and the runs' images are made in reused memory.
  int rows_total = int(std::ceil(rh * kScale));
  ASSERT_GT(rows_total, kStripRows);
  PixelBuffers pixels(kWidth, kStripRows);
  for (int top = 0; top < rows_total; top += kStripRows) {
    Placement at{rx, ry, kScale, false, top};
    cairo_surface_t* plain = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kStripRows);
    cairo_surface_t* streamed = pixels.clear_image(kStripRows);
    StripMarkers markers(streamed, at, pixels);
    std::vector<unsigned char> want = strip_pixels(at, nullptr, plain, stamp, corners);
    std::vector<unsigned char> got = strip_pixels(at, &markers, streamed, stamp, corners);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < want.size(); ++i) differing += want[i] != got[i];
    EXPECT_EQ(differing, 0u) << "strip at row " << top;
    EXPECT_NE(want, std::vector<unsigned char>(want.size(), 0));
    cairo_surface_destroy(plain);
    cairo_surface_destroy(streamed);
  }
  cairo_surface_destroy(stamp);
}

}  // namespace
}  // namespace tremora::chart
