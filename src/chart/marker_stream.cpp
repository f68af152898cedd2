#include "marker_stream.hpp"

#include <algorithm>
#include <cmath>

#include "tremora/parallel.hpp"

namespace tremora::chart {
namespace {

const cairo_user_data_key_t kStreamKey{};

bool is_identity(const cairo_matrix_t& m) {
  return m.xx == 1 && m.yx == 0 && m.xy == 0 && m.yy == 1 && m.x0 == 0 && m.y0 == 0;
}

}  // namespace

void lay_stamps(cairo_t* cr, cairo_surface_t* stamp, double side, std::span<const std::pair<double, double>> corners) {
  for (const auto& [x, y] : corners) {
    cairo_set_source_surface(cr, stamp, x, y);
    cairo_rectangle(cr, x, y, side, side);
    cairo_fill(cr);
  }
}

MarkerStream* MarkerStream::of(cairo_t* cr) {
  return static_cast<MarkerStream*>(cairo_surface_get_user_data(cairo_get_group_target(cr), &kStreamKey));
}

void MarkerStream::attach(cairo_surface_t* recording) {
  cairo_surface_set_user_data(recording, &kStreamKey, this, nullptr);
}

bool MarkerStream::take(cairo_t* cr, cairo_surface_t* stamp, double side, const std::optional<cairo_rectangle_t>& clip,
                        StampCorners&& corners) {
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  if (!is_identity(m)) return false;
  std::shared_ptr<cairo_surface_t> held(cairo_surface_reference(stamp), cairo_surface_destroy);
  for (std::size_t from = 0; from < corners.size(); from += kRun) {
    auto first = corners.begin() + std::ptrdiff_t(from);
    auto last = corners.begin() + std::ptrdiff_t(std::min(corners.size(), from + kRun));
    take_run(cr, Run{held, side, StampCorners(first, last), clip});
  }
  corners.clear();
  return true;
}

void MarkerStream::Run::lay(cairo_t* cr, cairo_surface_t* own, std::span<const std::pair<double, double>> some) const {
  if (clip) {
    cairo_rectangle(cr, clip->x, clip->y, clip->width, clip->height);
    cairo_clip(cr);
  }
  lay_stamps(cr, own, side, some);
}

namespace {

// A stamp of the same size, scale and pixels. Recording a stamp attaches a
// snapshot to it, and drawing from it takes a reference of its pixman image
// (not an atomic one): no two threads may do either to one stamp at once.
cairo_surface_t* copy_of(cairo_surface_t* stamp) {
  cairo_surface_t* copy =
      cairo_surface_create_similar_image(stamp, cairo_image_surface_get_format(stamp),
                                         cairo_image_surface_get_width(stamp), cairo_image_surface_get_height(stamp));
  double sx, sy;
  cairo_surface_get_device_scale(stamp, &sx, &sy);
  cairo_surface_set_device_scale(copy, sx, sy);
  cairo_t* cr = cairo_create(copy);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, stamp, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  return copy;
}

struct Ink {
  double x = 0, y = 0, w = 0, h = 0;
};

// Whether no ink of a run clipped to `clip` can fall outside the extent
// (x, y, w, h): an operation's ink lies within its clip rounded out to
// whole units.
bool clip_inside(const std::optional<cairo_rectangle_t>& clip, double x, double y, double w, double h) {
  return clip && w > 0 && h > 0 && std::floor(clip->x) >= x && std::floor(clip->y) >= y &&
         std::ceil(clip->x + clip->width) <= x + w && std::ceil(clip->y + clip->height) <= y + h;
}

}  // namespace

// Runs wait to be measured together in parallel, and to be left out when
// the rest of the figure's ink holds their clip; at most 32 MB of corners
// wait (no more than the strips of a figure that large keep when drawn).
void MarkerInk::take_run(cairo_t*, Run run) {
  constexpr std::size_t kWaitingMarkers = std::size_t(1) << 21;
  markers_ += run.corners.size(), waiting_markers_ += run.corners.size();
  waiting_.push_back(std::move(run));
  if (waiting_markers_ >= kWaitingMarkers) measure_waiting();
}

// The waiting runs' markers are measured in pieces, each on a recording of
// the piece alone (the ink of a recording is the union of its operations'
// ink, so the pieces' union is the runs' ink whatever the pieces are).
void MarkerInk::measure_waiting() {
  constexpr std::size_t kPiece = 1024;
  std::vector<std::pair<const Run*, std::size_t>> pieces;  // a run, and the first of its markers
  for (const Run& run : waiting_)
    for (std::size_t from = 0; from < run.corners.size(); from += kPiece) pieces.emplace_back(&run, from);
  std::vector<Ink> inks(pieces.size());
  std::vector<cairo_surface_t*> stamps(pieces.size());  // each task's own, copied here
  for (std::size_t k = 0; k < pieces.size(); ++k) stamps[k] = copy_of(pieces[k].first->stamp.get());
  parallel_for(pieces.size(), [&](std::size_t k) {
    const auto& [run, from] = pieces[k];
    cairo_surface_t* own = stamps[k];
    cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* cr = cairo_create(recording);
    run->lay(cr, own, std::span(run->corners).subspan(from, std::min(kPiece, run->corners.size() - from)));
    cairo_destroy(cr);
    cairo_recording_surface_ink_extents(recording, &inks[k].x, &inks[k].y, &inks[k].w, &inks[k].h);
    cairo_surface_destroy(recording);
    cairo_surface_destroy(own);
  });
  for (const Ink& ink : inks) add_ink(ink.x, ink.y, ink.w, ink.h);
  waiting_.clear(), waiting_markers_ = 0;
}

void MarkerInk::add_ink(double x, double y, double w, double h) {
  if (w <= 0 || h <= 0) return;
  if (!any_) x0_ = x, y0_ = y, x1_ = x + w, y1_ = y + h;
  x0_ = std::min(x0_, x), y0_ = std::min(y0_, y), x1_ = std::max(x1_, x + w), y1_ = std::max(y1_, y + h);
  any_ = true;
}

void MarkerInk::widen(double& x, double& y, double& w, double& h) {
  std::erase_if(waiting_, [&](const Run& run) { return clip_inside(run.clip, x, y, w, h); });
  measure_waiting();
  if (!any_) return;
  if (w <= 0 && h <= 0) {
    x = x0_, y = y0_, w = x1_ - x0_, h = y1_ - y0_;
    return;
  }
  double x1 = std::max(x + w, x1_), y1 = std::max(y + h, y1_);
  x = std::min(x, x0_), y = std::min(y, y0_);
  w = x1 - x, h = y1 - y;
}

void Placement::place(cairo_t* cr, cairo_surface_t* recording) const {
  cairo_translate(cr, 0, -top);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, recording, -x0, -y0);
  cairo_paint(cr);
}

cairo_matrix_t Placement::to_device() const {
  cairo_matrix_t m;
  cairo_matrix_init(&m, scale, 0, 0, scale, -scale * x0, -scale * y0 - top);
  return m;
}

StripMarkers::StripMarkers(cairo_surface_t* strip, const Placement& at, PixelBuffers& pixels)
    : strip_(strip), pixels_(pixels), at_(at), to_device_(at.to_device()) {}

// Whether a stamp at (x, y) can reach the strip, with a pixel to spare for
// its antialiased edge.
bool StripMarkers::meets(double x, double y, double side) const {
  double px = to_device_.xx * x + to_device_.x0, py = to_device_.yy * y + to_device_.y0;
  double reach = side * to_device_.xx;
  return px + reach >= -2 && py + reach >= -2 && px <= cairo_image_surface_get_width(strip_) + 2 &&
         py <= cairo_image_surface_get_height(strip_) + 2;
}

// A run becomes one operation: a paint that replaces the strip with what
// lies on it so far and the run's markers on top (made in `with_run` when
// the recording is replayed and the operation's turn comes). Its clip is
// the strip's area, so that the recording keeps what came before it.
void StripMarkers::take_run(cairo_t* cr, Run run) {
  std::erase_if(run.corners, [&](const auto& c) { return !meets(c.first, c.second, run.side); });
  if (run.corners.empty()) return;
  laid_.push_back({std::move(run), this});
  int w = cairo_image_surface_get_width(strip_), h = cairo_image_surface_get_height(strip_);
  cairo_pattern_t* pattern = cairo_pattern_create_raster_source(&laid_.back(), CAIRO_CONTENT_COLOR_ALPHA, w, h);
  cairo_raster_source_pattern_set_acquire(pattern, acquire, release);
  cairo_pattern_set_matrix(pattern, &to_device_);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_matrix_t to_figure = to_device_;
  cairo_matrix_invert(&to_figure);
  double x0 = -8, y0 = -8, x1 = w + 8, y1 = h + 8;
  cairo_matrix_transform_point(&to_figure, &x0, &y0);
  cairo_matrix_transform_point(&to_figure, &x1, &y1);
  cairo_save(cr);
  cairo_reset_clip(cr);
  cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source(cr, pattern);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_pattern_destroy(pattern);
}

cairo_surface_t* StripMarkers::acquire(cairo_pattern_t*, void* data, cairo_surface_t*, const cairo_rectangle_int_t*) {
  const Laid* laid = static_cast<const Laid*>(data);
  return laid->owner->with_run(laid->run);
}

void StripMarkers::release(cairo_pattern_t*, void*, cairo_surface_t* surface) { cairo_surface_destroy(surface); }

// The strip as it is with the run's markers laid on it. A recording replayed
// onto a clear image is drawn operation by operation, as the figure's own
// recording is; so the run is recorded after a copy of the strip (placed
// pixel for pixel) and replayed onto a clear image as the figure is.
cairo_surface_t* StripMarkers::with_run(const Run& run) const {
  int h = cairo_image_surface_get_height(strip_);
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  cairo_t* cr = cairo_create(recording);
  cairo_pattern_t* copy = cairo_pattern_create_for_surface(strip_);  // as it is now: the recording keeps a snapshot
  cairo_pattern_set_matrix(copy, &to_device_);
  cairo_pattern_set_filter(copy, CAIRO_FILTER_NEAREST);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source(cr, copy);
  cairo_paint(cr);
  cairo_pattern_destroy(copy);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  run.lay(cr);
  cairo_destroy(cr);

  cairo_surface_t* out = pixels_.clear_image(h);
  cairo_t* oc = cairo_create(out);
  at_.place(oc, recording);
  cairo_destroy(oc);
  cairo_surface_destroy(recording);
  return out;
}

}  // namespace tremora::chart
