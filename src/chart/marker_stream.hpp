// Stamped markers kept out of a figure's recording.
//
// A figure is recorded on a Cairo recording surface before it is measured
// and drawn. One stamped marker is one operation there, about a kilobyte, so
// a scatter of a million points would hold a gigabyte. A stream attached to
// the recording takes the markers instead, a bounded run at a time:
//  - `MarkerInk` keeps only the runs' ink extent, for measuring: a few runs
//    at a time are measured in parallel pieces, and a run whose clip lies
//    within the rest of the figure's ink is not measured at all;
//  - `StripMarkers` keeps their corners (16 bytes a marker that meets the
//    strip) and records one operation a run, which, when the recording is
//    replayed onto the strip, lays the run's markers on what lies beneath
//    exactly as the markers' own operations would have.
#pragma once
#include <cairo.h>

#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "pixel_buffers.hpp"

namespace tremora::chart {

/// The top-left corners (points) of markers that are one stamp.
using StampCorners = std::vector<std::pair<double, double>>;

/// Lays `stamp` (a square of `side` points) at every corner, each on its
/// own, under the current clip of `cr`.
void lay_stamps(cairo_t* cr, cairo_surface_t* stamp, double side, std::span<const std::pair<double, double>> corners);

class MarkerStream {
 public:
  /// Markers handed over at a time: one run's operations are all that is
  /// ever recorded of them at once.
  static constexpr std::size_t kRun = 8192;

  MarkerStream() = default;
  MarkerStream(const MarkerStream&) = delete;
  MarkerStream& operator=(const MarkerStream&) = delete;
  virtual ~MarkerStream() = default;

  /// The stream attached to the surface `cr` draws on, if any (none inside
  /// a group, whose markers belong to the group).
  static MarkerStream* of(cairo_t* cr);
  /// Attaches the stream to a recording surface, which must not outlive it.
  void attach(cairo_surface_t* recording);

  /// Takes markers that `cr` would stamp; `clip` is the rectangle (points)
  /// that `cr` clips to, if any. False (and nothing taken) when the stream
  /// cannot reproduce their drawing: `cr` has a transformation.
  bool take(cairo_t* cr, cairo_surface_t* stamp, double side, const std::optional<cairo_rectangle_t>& clip,
            StampCorners&& corners);

 protected:
  struct Run {
    std::shared_ptr<cairo_surface_t> stamp;
    double side;
    StampCorners corners;
    std::optional<cairo_rectangle_t> clip;  // in points

    // Records the run's markers on `cr` as `lay_stamps` on the original would.
    void lay(cairo_t* cr) const { lay(cr, stamp.get(), corners); }
    // The same for some of its markers, stamped with `own` (a stamp of the
    // same size and scale).
    void lay(cairo_t* cr, cairo_surface_t* own, std::span<const std::pair<double, double>> some) const;
  };
  virtual void take_run(cairo_t* cr, Run run) = 0;
};

/// Measures: keeps the union of the runs' ink extents.
class MarkerInk : public MarkerStream {
 public:
  /// Widens an extent (x, y, width, height; empty when the width is 0) by
  /// the markers' ink. Called once, with the ink of the rest of the figure.
  void widen(double& x, double& y, double& w, double& h);
  /// Whether it was handed any markers.
  bool took() const { return markers_ > 0; }
  /// The number of markers it was handed.
  std::size_t markers() const { return markers_; }

 private:
  void take_run(cairo_t* cr, Run run) override;
  void measure_waiting();
  void add_ink(double x, double y, double w, double h);
  double x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
  bool any_ = false;
  std::size_t markers_ = 0, waiting_markers_ = 0;
  std::vector<Run> waiting_;  // runs taken but not measured yet
};

/// Where a figure's recording goes on one strip of an image: the ink's
/// top-left corner (x0, y0, in points) at the image's origin, scaled, on
/// white or on nothing; `top` is the strip's first row.
struct Placement {
  double x0, y0, scale;
  bool transparent;
  int top = 0;

  /// Paints a recording of the figure on `cr`, a context of the strip.
  void place(cairo_t* cr, cairo_surface_t* recording) const;
  /// The figure's points to the strip's pixels.
  cairo_matrix_t to_device() const;
};

/// Draws one strip: `strip` is the clear image the figure's recording is
/// replayed on, as `at` places it; the images of the runs come from `pixels`.
class StripMarkers : public MarkerStream {
 public:
  StripMarkers(cairo_surface_t* strip, const Placement& at, PixelBuffers& pixels);

 private:
  struct Laid {
    Run run;
    StripMarkers* owner;
  };
  void take_run(cairo_t* cr, Run run) override;
  bool meets(double x, double y, double side) const;
  static cairo_surface_t* acquire(cairo_pattern_t*, void* data, cairo_surface_t*, const cairo_rectangle_int_t*);
  static void release(cairo_pattern_t*, void*, cairo_surface_t* surface);
  cairo_surface_t* with_run(const Run& run) const;

  cairo_surface_t* strip_;
  PixelBuffers& pixels_;
  Placement at_;
  cairo_matrix_t to_device_;
  std::deque<Laid> laid_;
};

}  // namespace tremora::chart
