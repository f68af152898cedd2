// The marks of a panel: what each adds to the data limits and how it is drawn.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "marker_stream.hpp"
#include "markers.hpp"
#include "panel.hpp"
#include "text_layout.hpp"
#include "tremora/parallel.hpp"

namespace tremora::chart {
namespace {

template <typename T>
std::optional<Range> finite_range(const std::vector<T>& v) {
  T lo = INFINITY, hi = -INFINITY;
  for (T x : v)
    if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
  if (lo > hi) return std::nullopt;
  return Range{double(lo), double(hi)};
}

std::optional<Range> with(std::optional<Range> r, double v) {
  if (!r) return Range{v, v};
  return Range{std::min(r->first, v), std::max(r->second, v)};
}

void source(cairo_t* cr, const Color& c, double alpha) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * alpha); }

// The points of a mark on the device.
struct DevicePoints {
  const Axes::Mark& m;
  const PanelView& v;
  double x(std::size_t i) const { return v.to_x(m.x[i]); }
  double y(std::size_t i) const { return v.to_y(m.y_at(i)); }
  bool finite(std::size_t i) const { return std::isfinite(m.x[i]) && std::isfinite(m.y_at(i)); }
};

// Adds the polyline of a run of finite points [begin, end) to the path,
// keeping of each device column only the first, lowest, highest and last
// point in their order.
// A column of many points that turns up and down repeatedly (a noise band)
// is noted in `dense`: the kept points alone would cover only part of its
// width. With `fill_dense` such a column keeps only its first and last
// point, unjoined, and is filled instead: stroking thousands of
// overlapping segments is what costs most in drawing a long noisy series,
// and the fill covers the same pixels. Smooth columns keep their stroke,
// which gives steep lines their true width.
void add_reduced_run(ReducedLine& out, const DevicePoints& pts, std::size_t begin, std::size_t end, double column,
                     bool fill_dense) {
  constexpr std::size_t kDense = 8, kBandTurns = 3;
  if (end - begin < 2) return;
  auto add = [&](std::size_t k, bool move) { out.path.push_back({pts.x(k), pts.y(k), move}); };
  add(begin, true);
  std::size_t i = begin + 1;
  double prev_y = pts.y(begin);
  while (i < end) {
    double col = std::floor(pts.x(i) / column);
    std::size_t j = i, lo = i, hi = i, turns = 0;
    double last_step = 0, lo_y = pts.y(i), hi_y = lo_y;
    while (j < end && std::floor(pts.x(j) / column) == col) {
      double y = pts.y(j);
      if (y < lo_y) lo = j, lo_y = y;
      if (y > hi_y) hi = j, hi_y = y;
      double step = y - prev_y;
      if (step != 0) {
        turns += (step > 0) != (last_step > 0) && last_step != 0;
        last_step = step;
      }
      prev_y = y;
      ++j;
    }
    bool band = j - i >= kDense && turns >= kBandTurns;
    if (band) out.dense.push_back({col * column, lo_y, hi_y});
    if (band && fill_dense) {
      add(i, false);
      add(j - 1, true);
    } else {
      std::size_t keep[] = {i, std::min(lo, hi), std::max(lo, hi), j - 1};
      std::size_t last = SIZE_MAX;
      for (std::size_t k : keep)
        if (k != last) add(k, false), last = k;
    }
    i = j;
  }
}

bool fills_dense(const Axes::Mark& m) { return m.style.linestyle == LineStyle::Solid; }

ReducedLine reduced_line(const Axes::Mark& m, const PanelView& v, double column) {
  ReducedLine out;
  DevicePoints pts{m, v};
  for (std::size_t i = 0, n = m.x.size(); i < n;) {
    std::size_t end = i;
    while (end < n && pts.finite(end)) ++end;
    add_reduced_run(out, pts, i, end, column, fills_dense(m));
    i = end + 1;
  }
  return out;
}

void stroke_line(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double column) {
  const ReducedLine* ready = v.reduced ? v.reduced->find(m, column) : nullptr;
  ReducedLine own;
  if (!ready) own = reduced_line(m, v, column), ready = &own;
  for (const ReducedLine::Point& p : ready->path) (p.move ? cairo_move_to : cairo_line_to)(cr, p.x, p.y);
  // Filled columns would show through the gaps of a dashed line.
  if (!fills_dense(m) || ready->dense.empty()) return cairo_stroke(cr);
  // A translucent line is drawn opaque apart and laid on with its opacity,
  // so that where stroke and fill overlap it is no darker.
  double alpha = m.style.alpha * m.color.a;
  if (alpha < 1) {
    cairo_push_group(cr);
    cairo_set_source_rgb(cr, m.color.r, m.color.g, m.color.b);
  }
  cairo_stroke(cr);
  // The stroke would have reached half its width past the column's
  // lowest and highest points.
  double half = m.style.linewidth / 2;
  for (const DenseColumn& d : ready->dense)
    cairo_rectangle(cr, d.left, d.low - half, column, d.high - d.low + 2 * half);
  cairo_fill(cr);
  if (alpha < 1) {
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, alpha);
  }
}

// Markers at every finite point of a mark, `size(i)` points wide.
// Markers of one size: the marker is drawn once, at the device's
// resolution, and that image is laid at every point, each on its own (as
// markers overlap, a translucent one shows through the next).
void stamp_markers(cairo_t* cr, const Axes::Mark& m, const PanelView& v, const std::string& code, double size,
                   double column) {
  double half = size / 2 + 2;  // room for the edge and the antialiased rim
  double scale = 1 / column;
  int pixels = int(std::ceil(2 * half * scale));
  cairo_surface_t* stamp = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
  cairo_surface_set_device_scale(stamp, scale, scale);
  cairo_t* s = cairo_create(stamp);
  cairo_set_source(s, cairo_get_source(cr));
  add_marker_path(s, code, half, half, size);
  finish_markers(s, code);
  cairo_destroy(s);
  // A figure's recording may hand its markers to a stream, a run at a time.
  MarkerStream* stream = MarkerStream::of(cr);
  std::optional<cairo_rectangle_t> clip;
  if (m.kind->clipped) clip = cairo_rectangle_t{v.rect.left, v.rect.top, v.rect.width, v.rect.height};
  StampCorners corners;
  auto lay = [&] {
    if (!stream || !stream->take(cr, stamp, 2 * half, clip, std::move(corners)))
      lay_stamps(cr, stamp, 2 * half, corners);
    corners.clear();
  };
  for (std::size_t i = 0; i < m.x.size(); ++i) {
    if (!std::isfinite(m.x[i]) || !std::isfinite(m.y_at(i))) continue;
    corners.emplace_back(v.to_x(m.x[i]) - half, v.to_y(m.y_at(i)) - half);
    if (corners.size() == MarkerStream::kRun) lay();
  }
  lay();
  cairo_surface_destroy(stamp);
}

void draw_markers(cairo_t* cr, const Axes::Mark& m, const PanelView& v, const std::string& code,
                  const std::function<double(std::size_t)>& size, double column) {
  bool one_size = !m.x.empty();
  for (std::size_t i = 1; i < m.x.size() && one_size; ++i) one_size = size(i) == size(0);
  if (one_size && size(0) > 0) return stamp_markers(cr, m, v, code, size(0), column);
  // Markers of several sizes go in batches of neighbouring points: a
  // figure saved in strips of rows redraws only the batches that reach
  // into each strip.
  constexpr std::size_t kBatch = 128;
  std::size_t in_path = 0;
  for (std::size_t i = 0; i < m.x.size(); ++i) {
    if (!std::isfinite(m.x[i]) || !std::isfinite(m.y_at(i))) continue;
    double s = size(i);
    if (s <= 0) continue;
    add_marker_path(cr, code, v.to_x(m.x[i]), v.to_y(m.y_at(i)), s);
    if (++in_path == kBatch) finish_markers(cr, code), in_path = 0;
  }
  finish_markers(cr, code);
}

void draw_line(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double column) {
  if (m.style.linestyle != LineStyle::None) stroke_line(cr, m, v, column);
  if (m.style.marker.empty()) return;
  source(cr, m.color, m.style.alpha);  // a translucent line leaves its group as the source
  draw_markers(
      cr, m, v, m.style.marker, [&](std::size_t) { return m.style.markersize; }, column);
}

void draw_fill(cairo_t* cr, const Axes::Mark& m, const PanelView& v) {
  std::size_t i = 0, n = m.x.size();
  while (i < n) {
    while (i < n && !(std::isfinite(m.x[i]) && std::isfinite(m.y[i]))) ++i;
    std::size_t j = i;
    while (j < n && std::isfinite(m.x[j]) && std::isfinite(m.y[j])) ++j;
    if (j > i) {
      cairo_move_to(cr, v.to_x(m.x[i]), v.to_y(m.y[i]));
      for (std::size_t k = i + 1; k < j; ++k) cairo_line_to(cr, v.to_x(m.x[k]), v.to_y(m.y[k]));
      cairo_line_to(cr, v.to_x(m.x[j - 1]), v.to_y(m.level));
      cairo_line_to(cr, v.to_x(m.x[i]), v.to_y(m.level));
      cairo_close_path(cr);
    }
    i = j;
  }
  cairo_fill(cr);
}

// An open "V" head (or a filled triangle) with its tip at (x, y), pointing
// along (ux, uy), 0.4 × 0.2 font sizes.
void arrow_head(cairo_t* cr, double x, double y, double ux, double uy, double size, bool filled) {
  double head = 0.4 * size, half = 0.2 * size;
  cairo_move_to(cr, x - ux * head - uy * half, y - uy * head + ux * half);
  cairo_line_to(cr, x, y);
  cairo_line_to(cr, x - ux * head + uy * half, y - uy * head - ux * half);
  if (filled) {
    cairo_close_path(cr);
    cairo_fill_preserve(cr);
  }
}

// The arrow from the centre of a text box towards a point: it leaves the
// box grown by 2 pt and a further 2 pt, and stops 2 pt short of the point.
void draw_arrow(cairo_t* cr, const Arrow& arrow, const TextExtent& e, double cx, double cy, double px, double py,
                double size) {
  double dx = px - cx, dy = py - cy, len = std::hypot(dx, dy);
  if (len < 1e-9) return;
  double ux = dx / len, uy = dy / len;
  double hw = e.width / 2 + 2, hh = e.height / 2 + 2;
  double exit = std::min(std::fabs(ux) > 1e-12 ? hw / std::fabs(ux) : INFINITY,
                         std::fabs(uy) > 1e-12 ? hh / std::fabs(uy) : INFINITY);
  double start = exit + 2, end = len - 2;
  if (end <= start) return;
  double x0 = cx + ux * start, y0 = cy + uy * start, x1 = cx + ux * end, y1 = cy + uy * end;
  cairo_save(cr);
  cairo_set_source_rgba(cr, arrow.color.r, arrow.color.g, arrow.color.b, arrow.color.a);
  cairo_set_line_width(cr, arrow.linewidth);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  const std::string& s = arrow.style;
  if (s == "->" || s == "<->" || s == "-|>") arrow_head(cr, x1, y1, ux, uy, size, s == "-|>");
  if (s == "<-" || s == "<->") arrow_head(cr, x0, y0, -ux, -uy, size, false);
  cairo_stroke(cr);
  cairo_restore(cr);
}

// Text placed from a point (by an offset in points, at data coordinates
// or at panel fractions), with its arrow towards the point.
void draw_annotation(cairo_t* cr, const Axes::Mark& m, const PanelView& v) {
  double px = v.to_x(m.x[0]), py = v.to_y(m.y[0]);
  if (px < v.rect.left - 1e-6 || px > v.rect.right() + 1e-6 || py < v.rect.top - 1e-6 || py > v.rect.bottom() + 1e-6)
    return;
  const TextPlacement& at = m.placement;
  double tx = px + at.dx, ty = py - at.dy;
  if (at.coords == TextCoords::Data) tx = v.to_x(at.dx), ty = v.to_y(at.dy);
  if (at.coords == TextCoords::AxesFraction)
    tx = v.rect.left + at.dx * v.rect.width, ty = v.rect.bottom() - at.dy * v.rect.height;
  TextStyle style = text_style_of(m);
  draw_text(cr, m.text, style, tx, ty, HAlign::Left, VAlign::Baseline);
  if (!m.arrow) return;
  TextExtent e = measure_text(cr, m.text, style);
  draw_arrow(cr, *m.arrow, e, tx + e.width / 2, ty - e.baseline + e.height / 2, px, py, style.size);
}

// Bars from 0 to each height, filled, then outlined when they have an edge.
void draw_bars(cairo_t* cr, const Axes::Mark& m, const PanelView& v) {
  double shift = m.edge_aligned ? 0 : m.width / 2;
  for (std::size_t i = 0; i < m.x.size(); ++i) {
    if (!std::isfinite(m.x[i]) || !std::isfinite(m.y[i])) continue;
    double x0 = v.to_x(m.x[i] - shift), x1 = v.to_x(m.x[i] - shift + m.width);
    double y0 = v.to_y(0), y1 = v.to_y(m.y[i]);
    cairo_rectangle(cr, std::min(x0, x1), std::min(y0, y1), std::fabs(x1 - x0), std::fabs(y1 - y0));
  }
  if (!m.style.edgecolor) return cairo_fill(cr);
  cairo_fill_preserve(cr);
  source(cr, *m.style.edgecolor, m.style.alpha);
  cairo_set_line_width(cr, m.style.edgewidth);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_stroke(cr);
}

}  // namespace

TextStyle text_style_of(const Axes::Mark& m) {
  TextStyle s = m.text_style;
  s.color = Color{m.color.r, m.color.g, m.color.b, m.color.a * m.style.alpha};
  return s;
}

void set_dash(cairo_t* cr, LineStyle style, double width) {
  auto set = [&](std::initializer_list<double> pattern) {
    std::vector<double> d;
    for (double p : pattern) d.push_back(p * width);
    cairo_set_dash(cr, d.data(), int(d.size()), 0);
  };
  switch (style) {
    case LineStyle::Solid: cairo_set_dash(cr, nullptr, 0, 0); break;
    case LineStyle::Dashed: set({3.7, 1.6}); break;
    case LineStyle::Dotted: set({1.0, 1.65}); break;
    case LineStyle::DashDot: set({6.4, 1.6, 1.0, 1.6}); break;
    case LineStyle::None: break;
  }
  cairo_set_line_cap(cr, style == LineStyle::Solid ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
}

void draw_legend_handle(cairo_t* cr, const Axes::Mark& m, double x0, double x1, double yc, double fs) {
  cairo_save(cr);
  source(cr, m.color, m.style.alpha);
  if (m.kind->handle == MarkKind::Handle::Patch) {
    cairo_rectangle(cr, x0, yc - 0.35 * fs, x1 - x0, 0.7 * fs);
    cairo_fill(cr);
  } else if (m.kind->handle == MarkKind::Handle::Marker) {
    double area = m.sizes.empty() ? 36 : m.sizes.front();
    add_marker_path(cr, m.style.marker.empty() ? "o" : m.style.marker, (x0 + x1) / 2, yc,
                    std::min(std::sqrt(std::max(area, 0.0)), fs));
    finish_markers(cr, m.style.marker.empty() ? "o" : m.style.marker);
  } else {
    if (m.style.linestyle != LineStyle::None) {
      cairo_set_line_width(cr, m.style.linewidth);
      set_dash(cr, m.style.linestyle, m.style.linewidth);
      cairo_move_to(cr, x0, yc);
      cairo_line_to(cr, x1, yc);
      cairo_stroke(cr);
    }
    if (!m.style.marker.empty()) {
      add_marker_path(cr, m.style.marker, (x0 + x1) / 2, yc, m.style.markersize);
      finish_markers(cr, m.style.marker);
    }
  }
  cairo_restore(cr);
}

void draw_mark(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double column) {
  cairo_save(cr);
  if (m.kind->clipped) {
    cairo_rectangle(cr, v.rect.left, v.rect.top, v.rect.width, v.rect.height);
    cairo_clip(cr);
  }
  source(cr, m.color, m.style.alpha);
  cairo_set_line_width(cr, m.style.linewidth);
  set_dash(cr, m.style.linestyle, m.style.linewidth);
  m.kind->draw(cr, m, v, column);
  cairo_restore(cr);
}

namespace {

// The kinds of marks: their data limits, their drawing, their descriptors.

std::optional<Range> no_limits(const Axes::Mark&) { return std::nullopt; }
std::optional<Range> x_of_points(const Axes::Mark& m) { return finite_range(m.x); }
std::optional<Range> y_of_points(const Axes::Mark& m) {
  return m.y32.empty() ? finite_range(m.y) : finite_range(m.y32);
}
std::optional<Range> y_down_to_zero(const Axes::Mark& m) { return with(y_of_points(m), 0); }
std::optional<Range> y_down_to_level(const Axes::Mark& m) { return with(y_of_points(m), m.level); }
// Bars span their width about x (or from x when edge-aligned).
std::optional<Range> x_of_bars(const Axes::Mark& m) {
  auto r = finite_range(m.x);
  double shift = m.edge_aligned ? 0 : m.width / 2;
  if (!r) return r;
  return Range{std::min(r->first - shift, r->first - shift + m.width),
               std::max(r->second - shift, r->second - shift + m.width)};
}

void draw_hline(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) {
  cairo_move_to(cr, v.rect.left, v.to_y(m.y[0]));
  cairo_line_to(cr, v.rect.right(), v.to_y(m.y[0]));
  cairo_stroke(cr);
}

void draw_vline(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) {
  cairo_move_to(cr, v.to_x(m.x[0]), v.rect.top);
  cairo_line_to(cr, v.to_x(m.x[0]), v.rect.bottom());
  cairo_stroke(cr);
}

void draw_vspan(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) {
  cairo_rectangle(cr, v.to_x(m.x[0]), v.rect.top, v.to_x(m.x[1]) - v.to_x(m.x[0]), v.rect.height);
  cairo_fill(cr);
}

void draw_stems(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  for (std::size_t i = 0; i < m.x.size(); ++i) {
    if (!std::isfinite(m.x[i]) || !std::isfinite(m.y[i])) continue;
    cairo_move_to(cr, v.to_x(m.x[i]), v.to_y(0));
    cairo_line_to(cr, v.to_x(m.x[i]), v.to_y(m.y[i]));
  }
  cairo_stroke(cr);
}

void draw_scatter(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double column) {
  // Marks are as wide as the square root of their area.
  auto width = [&](std::size_t i) {
    double area = m.sizes.empty() ? 36 : m.sizes[std::min(i, m.sizes.size() - 1)];
    return area > 0 ? std::sqrt(area) : 0.0;
  };
  draw_markers(cr, m, v, m.style.marker.empty() ? "o" : m.style.marker, width, column);
}

void draw_words(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) {
  double x = m.panel_coords ? v.rect.left + m.x[0] * v.rect.width : v.to_x(m.x[0]);
  double y = m.panel_coords ? v.rect.bottom() - m.y[0] * v.rect.height : v.to_y(m.y[0]);
  draw_text(cr, m.text, text_style_of(m), x, y, m.halign, m.valign);
}

void draw_bar_mark(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) { draw_bars(cr, m, v); }
void draw_fill_mark(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) { draw_fill(cr, m, v); }
void draw_annotation_mark(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double) { draw_annotation(cr, m, v); }

using H = MarkKind::Handle;
// name, legend group, clipped, stands on zero, width as size, handle, x limits, y limits, drawing
const MarkKind kLine{"line", 0, true, false, false, H::Line, x_of_points, y_of_points, draw_line};
const MarkKind kHLine{"hline", 0, true, false, false, H::Line, no_limits, y_of_points, draw_hline};
const MarkKind kVLine{"vline", 0, true, false, false, H::Line, x_of_points, no_limits, draw_vline};
const MarkKind kVSpan{"vspan", 1, true, false, false, H::Patch, x_of_points, no_limits, draw_vspan};
const MarkKind kStem{"stem", 2, true, false, false, H::Line, x_of_points, y_down_to_zero, draw_stems};
const MarkKind kScatter{"scatter", 1, true, false, false, H::Marker, x_of_points, y_of_points, draw_scatter};
const MarkKind kBar{"bar", 2, true, true, true, H::Patch, x_of_bars, y_down_to_zero, draw_bar_mark};
const MarkKind kFill{"fill", 1, true, false, false, H::Patch, x_of_points, y_down_to_level, draw_fill_mark};
const MarkKind kText{"text", 2, false, false, false, H::Line, no_limits, no_limits, draw_words};
const MarkKind kAnnotation{"annotation", 2, false, false, false, H::Line, no_limits, no_limits, draw_annotation_mark};

}  // namespace

const MarkKind& line_mark_kind() { return kLine; }

const ReducedLine* ReducedLines::find(const Axes::Mark& m, double at_column) const {
  if (at_column != column) return nullptr;
  for (const auto& [mark, line] : lines)
    if (mark == &m) return &line;
  return nullptr;
}

void reduce_lines(const std::vector<std::vector<const Axes::Mark*>>& panels, std::vector<PanelView>& views,
                  double column, std::vector<ReducedLines>& out) {
  out.assign(panels.size(), ReducedLines{column, {}});
  std::vector<std::pair<std::size_t, std::size_t>> tasks;  // (panel, line)
  for (std::size_t p = 0; p < panels.size(); ++p) {
    for (const Axes::Mark* m : panels[p])
      if (m->kind == &kLine && m->style.linestyle != LineStyle::None) out[p].lines.push_back({m, {}});
    for (std::size_t k = 0; k < out[p].lines.size(); ++k) tasks.emplace_back(p, k);
    views[p].reduced = &out[p];
  }
  parallel_for(tasks.size(), [&](std::size_t t) {
    auto [p, k] = tasks[t];
    auto& [mark, line] = out[p].lines[k];
    line = reduced_line(*mark, views[p], column);
  });
}

const MarkKind& mark_kind(const std::string& name) {
  for (const MarkKind* k : {&kLine, &kHLine, &kVLine, &kVSpan, &kStem, &kScatter, &kBar, &kFill, &kText, &kAnnotation})
    if (name == k->name) return *k;
  throw std::invalid_argument("no mark kind '" + name + "'");
}

}  // namespace tremora::chart
