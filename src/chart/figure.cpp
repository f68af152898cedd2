// Figures of stacked panels: layout, drawing on a Cairo recording surface
// (in points), output cropped to the recorded ink, and reports of what the
// panels show.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>

#include "marker_stream.hpp"
#include "panel.hpp"
#include "panel_painter.hpp"
#include "png_encoder.hpp"
#include "strip_work.hpp"
#include "svg_text.hpp"
#include "text_layout.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/parallel.hpp"
#include "tremora/text.hpp"

namespace tremora::chart {
namespace {
bool svg_keeps_text() {
  auto type = setting("svg.fonttype");
  const auto* text = type ? std::get_if<std::string>(&*type) : nullptr;
  return text && *text == "none";
}

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

namespace {

// A view's two ends: finite and apart (a view of no width maps every value
// to a division by zero).
Range view_ends(double lo, double hi, const char* what) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo == hi)
    throw std::invalid_argument(std::string(what) + ": the two ends must be finite numbers that differ, not " +
                                python_float_text(lo) + " and " + python_float_text(hi));
  return {lo, hi};
}

}  // namespace

void Axes::set_xlim(double lo, double hi) { xlim_ = view_ends(lo, hi, "set_xlim"); }
void Axes::set_ylim(double lo, double hi) { ylim_ = view_ends(lo, hi, "set_ylim"); }

Figure::Figure(double width_in, double height_in) : width_pt_(width_in * 72), height_pt_(height_in * 72) {
  if (!(width_in > 0) || !(height_in > 0)) throw std::invalid_argument("a figure needs a positive width and height");
}

Figure::~Figure() = default;

std::vector<Axes*> Figure::subplots(int rows, double hspace) {
  if (rows < 1) throw std::invalid_argument("subplots needs at least one row");
  axes_.clear();
  hspace_ = hspace;
  std::vector<Axes*> out;
  for (int i = 0; i < rows; ++i) {
    axes_.push_back(std::make_unique<Axes>());
    out.push_back(axes_.back().get());
    if (i + 1 < rows) axes_.back()->hide_x_labels();
  }
  return out;
}

namespace {

// Rectangles of panels stacked in one column within the margins (points).
std::vector<Rect> stacked(std::size_t rows, double left, double right, double top, double bottom, double hspace) {
  double h = (bottom - top) / (double(rows) + hspace * double(rows - 1));
  std::vector<Rect> out;
  for (std::size_t i = 0; i < rows; ++i) out.push_back({left, top + double(i) * h * (1 + hspace), right - left, h});
  return out;
}

}  // namespace

std::vector<PanelView> Figure::views(const std::vector<Rect>& rects) const {
  // The shared x view, from every panel's data (twins included).
  std::optional<Range> xdata, xlim;
  bool dates = false;
  for (const auto& a : axes_) {
    dates = dates || a->date_axis_;
    if (!a->x_ticks_.categories.empty()) continue;  // categories have an x axis of their own
    if (a->xlim_) xlim = a->xlim_;
    if (a->x_ticks_.fixed && !a->x_ticks_.fixed->empty())
      include(xdata, Range{*std::min_element(a->x_ticks_.fixed->begin(), a->x_ticks_.fixed->end()),
                           *std::max_element(a->x_ticks_.fixed->begin(), a->x_ticks_.fixed->end())});
    for (const Axes* p : {a.get(), a->twin_.get()})
      if (p)
        for (const auto& m : p->marks_) include(xdata, mark_x_limits(*m));
  }
  Range xview = xlim ? *xlim : view_of(xdata, setting_number("axes.xmargin", kXMargin), dates);
  std::vector<PanelView> out;
  for (std::size_t i = 0; i < axes_.size(); ++i) {
    const Axes& a = *axes_[i];
    bool bars;
    std::optional<Range> ydata = y_data(a.marks_, bars);
    if (a.y_ticks_.fixed && !a.y_ticks_.fixed->empty())
      include(ydata, Range{*std::min_element(a.y_ticks_.fixed->begin(), a.y_ticks_.fixed->end()),
                           *std::max_element(a.y_ticks_.fixed->begin(), a.y_ticks_.fixed->end())});
    Range x = xview;
    if (!a.x_ticks_.categories.empty()) {
      std::optional<Range> own;
      for (const auto& m : a.marks_) include(own, mark_x_limits(*m));
      x = a.xlim_ ? *a.xlim_ : view_of(own, setting_number("axes.xmargin", kXMargin), false);
    }
    out.push_back({rects[i], x, a.ylim_ ? *a.ylim_ : view_of(ydata, kYMargin, false, bars), a.invert_y_});
  }
  return out;
}

// Panels above the bottom one leave the shared axis unlabelled; a panel of
// categories labels its own.
bool Figure::shows_x_labels(std::size_t i) const {
  const Axes& a = *axes_[i];
  return !a.hide_x_labels_ || !a.x_ticks_.categories.empty();
}

bool Figure::has_dates() const {
  return std::any_of(axes_.begin(), axes_.end(), [](const auto& a) { return a->date_axis_; });
}

// Fits the margins and the gap between panels to what each panel draws
// around itself (measured without its clipped marks).
std::vector<Rect> Figure::fitted(std::vector<Rect> rects, double pad_pt) const {
  std::size_t rows = rects.size();
  std::vector<PanelView> v = views(rects);
  std::vector<std::array<double, 4>> over(rows);  // left, top, right, bottom overhangs
  for (std::size_t i = 0; i < rows; ++i) {
    cairo_surface_t* rec = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* cr = cairo_create(rec);
    PanelPainter{cr, 1, has_dates(), true}.paint(*axes_[i], v[i], shows_x_labels(i));
    cairo_destroy(cr);
    double x0, y0, w, h;
    cairo_recording_surface_ink_extents(rec, &x0, &y0, &w, &h);
    cairo_surface_destroy(rec);
    const Rect& r = rects[i];
    over[i] = {std::max(0.0, r.left - x0), std::max(0.0, r.top - y0), std::max(0.0, x0 + w - r.right()),
               std::max(0.0, y0 + h - r.bottom())};
  }
  double left = 0, right = 0, top = over.front()[1], bottom = over.back()[3], vspace = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    left = std::max(left, over[i][0]);
    right = std::max(right, over[i][2]);
    if (i + 1 < rows) vspace = std::max(vspace, over[i][3] + over[i + 1][1]);
  }
  double l = left + pad_pt, r = width_pt_ - right - pad_pt, t = top + pad_pt, b = height_pt_ - bottom - pad_pt;
  vspace += pad_pt;
  double avg = (b - t - vspace * double(rows - 1)) / double(rows);
  if (r <= l || avg <= 0) return rects;  // no room: keep the layout
  return stacked(rows, l, r, t, b, rows > 1 ? vspace / avg : 0);
}

namespace {

// One strip of the figure on a clear image, replayed from `whole` (the
// figure's recording, when it holds every operation); or else recorded
// afresh for the strip, with only the stamped markers that reach it.
cairo_surface_t* drawn_strip(const std::function<void(cairo_t*)>& draw, cairo_surface_t* whole, const Placement& at,
                             PixelBuffers& pixels, int rows) {
  cairo_surface_t* drawn = pixels.clear_image(rows);
  cairo_t* cr;
  if (whole) {
    cr = cairo_create(drawn);
    at.place(cr, whole);
    cairo_destroy(cr);
    return drawn;
  }
  StripMarkers markers(drawn, at, pixels);
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  markers.attach(recording);
  cr = cairo_create(recording);
  draw(cr);
  cairo_destroy(cr);
  cr = cairo_create(drawn);
  at.place(cr, recording);
  cairo_destroy(cr);
  cairo_surface_destroy(recording);
  return drawn;
}

// The recordings strips replay, one per thread at a time (Cairo's replays
// of one recording at once disagree): the figure's own, and copies recorded
// as more threads ask at once.
class StripRecordings {
 public:
  StripRecordings(const std::function<void(cairo_t*)>& draw, cairo_surface_t* whole) : draw_(draw) {
    if (whole) free_.push_back(whole), figure_ = whole;
  }
  ~StripRecordings() {
    for (cairo_surface_t* r : made_) cairo_surface_destroy(r);
  }
  StripRecordings(const StripRecordings&) = delete;
  StripRecordings& operator=(const StripRecordings&) = delete;

  // A recording no other thread replays now; nothing for figures that each
  // strip records afresh.
  cairo_surface_t* take() {
    if (!figure_) return nullptr;
    {
      std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        cairo_surface_t* r = free_.back();
        free_.pop_back();
        return r;
      }
    }
    cairo_surface_t* r = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
    cairo_t* cr = cairo_create(r);
    draw_(cr);
    cairo_destroy(cr);
    std::lock_guard lock(mutex_);
    made_.push_back(r);
    return r;
  }
  void give_back(cairo_surface_t* r) {
    if (!r) return;
    std::lock_guard lock(mutex_);
    free_.push_back(r);
  }

 private:
  const std::function<void(cairo_t*)>& draw_;
  cairo_surface_t* figure_ = nullptr;
  std::mutex mutex_;
  std::vector<cairo_surface_t*> free_, made_;
};

// A PNG drawn and encoded in strips of rows, so that only a few strips of
// pixels are held at a time (a whole 300 dpi figure would take tens of MB).
// The strips are drawn and deflated in parallel and joined in order; an
// opaque strip gets white beneath what was drawn. A figure recorded afresh
// for every strip (one with `markers` stamped markers) keeps a strip's
// recording and marker runs in memory per strip drawn at once: as many of
// its strips are drawn at once as keep that under 64 MB.
cairo_status_t png_bytes(const std::function<void(cairo_t*)>& draw, cairo_surface_t* whole, std::size_t markers,
                         Placement at, int pw, int ph, double dpi, std::string& bytes) {
  // Cairo's antialiased edges can differ by a level where a strip's extent
  // differs, so the strips keep one height (the files stay as they were).
  constexpr int strip_rows = 512;
  const std::size_t strips = std::size_t((ph + strip_rows - 1) / strip_rows);
  const int last_rows = ph - int(strips - 1) * strip_rows;
  // Each strip is deflated in two parts, so that the last steps of a figure
  // of a few strips are short and the threads end at nearly the same time
  // (finer parts cost more in starting deflate streams than they gain).
  constexpr int parts_per_strip = 2;
  PngWriter png(pw, ph, !at.transparent, dpi);
  PixelBuffers pixels(pw, std::min(strip_rows, ph));  // outlives every strip image
  StripRecordings recordings(draw, whole);
  StripWork work(png, strips, strip_rows, last_rows, parts_per_strip, [&](std::size_t k) {
    Placement p = at;
    p.top = int(k) * strip_rows;
    cairo_surface_t* recording = recordings.take();
    cairo_surface_t* strip = drawn_strip(draw, recording, p, pixels, std::min(strip_rows, ph - p.top));
    recordings.give_back(recording);
    if (!at.transparent) {
      cairo_t* cr = cairo_create(strip);
      cairo_set_operator(cr, CAIRO_OPERATOR_DEST_OVER);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_destroy(cr);
    }
    return strip;
  });
  // A strip recorded afresh: about 64 B a marker (its share of the paths
  // recorded with it, the corners kept), and a megabyte more.
  constexpr std::size_t kStripsBudget = std::size_t(64) << 20;
  std::size_t workers = std::max<std::size_t>(
      1, std::min(strips, whole ? strips : kStripsBudget / (64 * markers + (std::size_t(1) << 20))));
  parallel_for(
      workers, [&](std::size_t) { work.work(); }, workers);
  work.rethrow();
  if (work.status() != CAIRO_STATUS_SUCCESS) return work.status();
  for (PngWriter::Piece& piece : work.pieces()) png.add(std::move(piece));
  bytes = png.finish();
  return CAIRO_STATUS_SUCCESS;
}

// An SVG or PDF drawn straight onto the vector surface, shifted so that the
// ink's top-left corner is at the origin. (Replaying a recording surface into
// it instead leaves the recording referenced by the finished surface.)
cairo_status_t vector_bytes(const std::string& ext, double w, double h, bool transparent, std::string& bytes,
                            const std::function<void(cairo_t*)>& draw) {
  cairo_surface_t* out = ext == ".svg" ? cairo_svg_surface_create_for_stream(append_bytes, &bytes, w, h)
                                       : cairo_pdf_surface_create_for_stream(append_bytes, &bytes, w, h);
  cairo_t* cr = cairo_create(out);
  if (!transparent) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  draw(cr);
  cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_finish(out);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(out);
  cairo_surface_destroy(out);
  return status;
}

}  // namespace

std::vector<Rect> Figure::layout() const {
  std::vector<Rect> rects =
      stacked(axes_.size(), 0.125 * width_pt_, 0.9 * width_pt_, 0.12 * height_pt_, 0.89 * height_pt_, hspace_);
  if (tight_pad_) rects = fitted(rects, *tight_pad_ * label_size());
  return rects;
}

void Figure::text(double fx, double fy, const std::string& text, const TextStyle& style, const std::string& halign,
                  const std::string& valign) {
  texts_.push_back({fx, fy, text, style, halign_of(halign), valign_of(valign)});  // an unknown alignment fails here
}

void Figure::paint(const PanelPainter& painter, const std::vector<PanelView>& v) const {
  for (std::size_t i = 0; i < axes_.size(); ++i) painter.paint(*axes_[i], v[i], shows_x_labels(i));
  for (const FigureText& t : texts_)
    draw_text(painter.cr, t.text, t.style, t.fx * width_pt_, (1 - t.fy) * height_pt_, t.halign, t.valign);
}

namespace {

MarkInfo info_of(const Axes::Mark& m) {
  MarkInfo i;
  i.kind = m.kind->name;
  i.x = m.x, i.y = m.y32.empty() ? m.y : std::vector<double>(m.y32.begin(), m.y32.end());
  i.sizes = m.kind->width_is_size ? std::vector<double>{m.width} : m.sizes;
  i.color = m.color;
  i.edgecolor = m.style.edgecolor;
  i.alpha = m.style.alpha, i.linewidth = m.style.linewidth, i.linestyle = m.style.linestyle;
  i.label = m.style.label, i.text = m.text;
  i.text_style = text_style_of(m);
  return i;
}

AxisInfo axis_info(const AxisTicks& t, double low, double high, bool inverted, const std::string& label) {
  return AxisInfo{low, high, inverted, "", t.at, t.labels, t.offset, label};
}

}  // namespace

std::vector<PanelInfo> Figure::describe() const {
  std::vector<PanelInfo> out;
  if (axes_.empty()) return out;
  std::vector<PanelView> views_ = views(layout());
  bool dates = has_dates();
  for (std::size_t i = 0; i < axes_.size(); ++i) {
    const Axes& a = *axes_[i];
    const PanelView& v = views_[i];
    PanelInfo p;
    p.title = a.title_;
    AxisTicks xt = x_ticks(v, dates, a.x_ticks_);
    bool x_labels = shows_x_labels(i);
    if (!x_labels) xt.labels.assign(xt.at.size(), ""), xt.offset.clear();
    p.x = axis_info(xt, v.x.first, v.x.second, false, x_labels ? a.xlabel_ : "");
    if (dates && a.x_ticks_.categories.empty()) p.x.unit = "days since 1970-01-01";
    p.y = axis_info(y_ticks(v, a.y_ticks_), v.y.first, v.y.second, a.invert_y_, a.ylabel_);
    for (const auto& m : a.marks_) p.marks.push_back(info_of(*m));
    if (a.twin_) {
      const Axes& t = *a.twin_;
      PanelView tv = PanelPainter::twin_view(t, v);
      PanelInfo q;
      q.x = p.x;
      q.y = axis_info(y_ticks(tv, t.y_ticks_), tv.y.first, tv.y.second, t.invert_y_, t.ylabel_);
      for (const auto& m : t.marks_) q.marks.push_back(info_of(*m));
      p.twin.push_back(std::move(q));
    }
    out.push_back(std::move(p));
  }
  return out;
}

void Figure::save(const std::filesystem::path& path, double dpi) const {
  std::string ext = to_lower_ascii(path.extension().string());
  if (ext != ".png" && ext != ".svg" && ext != ".pdf")
    throw std::invalid_argument("unsupported image type '" + ext + "' (use .png, .svg or .pdf)");
  std::string what = "'";
  what.append(path.string()).append("'");
  std::string bytes = encode(ext, dpi, what);
  write_file_atomically(path, [&](std::ostream& s) { s.write(bytes.data(), std::streamsize(bytes.size())); });
}

std::string Figure::render(const std::string& format, double dpi) const {
  std::string ext = ".";
  ext += to_lower_ascii(format);
  if (ext != ".png" && ext != ".svg" && ext != ".pdf")
    throw std::invalid_argument("unsupported image type '" + format + "' (use png, svg or pdf)");
  std::string what = "the ";
  what.append(format).append(" image");
  return encode(ext, dpi, what);
}

std::string Figure::encode(const std::string& ext, double dpi, const std::string& what) const {
  if (!(dpi > 0)) throw std::invalid_argument("the resolution must be positive");
  if (axes_.empty()) throw std::invalid_argument("the figure has no panels");
  std::vector<PanelView> v = views(layout());

  PanelPainter painter{nullptr, 72.0 / (ext == ".png" ? dpi : 300.0), has_dates()};
  std::vector<std::vector<const Axes::Mark*>> marks;
  for (const auto& a : axes_) {
    marks.emplace_back();
    for (const auto& m : a->marks_) marks.back().push_back(m.get());
  }
  std::vector<ReducedLines> reduced;
  reduce_lines(marks, v, painter.column, reduced);
  auto draw = [&](cairo_t* cr) {  // on any thread: a painter of its own
    PanelPainter own = painter;
    own.cr = cr;
    paint(own, v);
  };
  // The figure is recorded once to find its ink's extent (its stamped
  // markers measured apart, in parallel). Without stamped markers the
  // recording holds the whole figure, and every strip of a PNG replays it.
  MarkerInk marker_ink;
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  marker_ink.attach(recording);
  cairo_t* cr = cairo_create(recording);
  draw(cr);
  cairo_destroy(cr);
  double x0, y0, w, hh;
  cairo_recording_surface_ink_extents(recording, &x0, &y0, &w, &hh);
  marker_ink.widen(x0, y0, w, hh);
  if (ext != ".png" || marker_ink.took()) cairo_surface_destroy(recording), recording = nullptr;
  x0 -= kSavePad, y0 -= kSavePad, w += 2 * kSavePad, hh += 2 * kSavePad;

  double scale = ext == ".png" ? dpi / 72 : 1;
  int pw = int(std::ceil(w * scale)), ph = int(std::ceil(hh * scale));
  std::string bytes;
  cairo_status_t status;
  // SVG files keep their texts as text when "svg.fonttype" is "none": the
  // figure is drawn without texts, which are written as SVG text elements
  // afterwards.
  std::vector<PlacedText> texts;
  if (ext == ".png") {
    status =
        png_bytes(draw, recording, marker_ink.markers(), Placement{x0, y0, scale, transparent_}, pw, ph, dpi, bytes);
    if (recording) cairo_surface_destroy(recording);
  } else {
    status = vector_bytes(ext, w, hh, transparent_, bytes, [&](cairo_t* out) {
      std::optional<TextCapture> capture;
      if (ext == ".svg" && svg_keeps_text()) capture.emplace();
      cairo_translate(out, -x0, -y0);
      draw(out);
      if (capture) texts = capture->texts();
    });
  }
  if (status != CAIRO_STATUS_SUCCESS) throw IOError("cannot draw " + what + ": " + cairo_status_to_string(status));
  if (!texts.empty()) insert_before_svg_end(bytes, svg_text_elements(texts, 0, 0));
  last_size_ = {ext == ".png" ? pw : int(std::ceil(w)), ext == ".png" ? ph : int(std::ceil(hh))};
  return bytes;
}

}  // namespace tremora::chart
