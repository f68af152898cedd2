// Figures of stacked panels: layout, drawing on a Cairo recording surface
// (in points), and output cropped to the recorded ink.
#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <sstream>

#include "text_layout.hpp"
#include "tremora/chart.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"
#include "tremora/text.hpp"

namespace tremora::chart {

struct Axes::Mark {
  enum class Kind { Line, HLine } kind = Kind::Line;
  std::vector<double> x, y;
  Style style;
  Color color;
};

namespace {

constexpr double kTickLength = 3.5, kTickWidth = 0.8, kTickPad = 3.5, kSpineWidth = 0.8;
constexpr double kLabelPad = 4, kTitlePad = 6, kOffsetPad = 3, kLabelSize = 12, kSavePad = 7.2;
constexpr double kXMargin = 0.05, kYMargin = 0.05;
const char* const kCycle[] = {"C0", "C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8", "C9"};

struct Rect {
  double left, top, width, height;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

// The data range of the finite values, or nothing.
std::optional<std::pair<double, double>> finite_range(const std::vector<double>& v) {
  double lo = INFINITY, hi = -INFINITY;
  for (double x : v)
    if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
  if (lo > hi) return std::nullopt;
  return std::make_pair(lo, hi);
}

void include(std::optional<std::pair<double, double>>& range, std::optional<std::pair<double, double>> more) {
  if (!more) return;
  if (!range) range = more;
  else range = std::make_pair(std::min(range->first, more->first), std::max(range->second, more->second));
}

// A view from data limits: widened when singular, then given margins.
std::pair<double, double> view_of(std::optional<std::pair<double, double>> data, double margin, bool dates) {
  auto [lo, hi] = data.value_or(dates ? std::make_pair(0.0, 1.0) : std::make_pair(0.0, 1.0));
  if (lo == hi) {
    double widen = dates ? 730 : (lo == 0 ? 0.05 : 0.05 * std::fabs(lo));
    lo -= widen, hi += widen;
  }
  double span = hi - lo;
  return {lo - margin * span, hi + margin * span};
}

void set_color(cairo_t* cr, const Color& c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a * alpha); }

void dash_for(cairo_t* cr, const Style& s) {
  auto set = [&](std::initializer_list<double> pattern) {
    std::vector<double> d;
    for (double p : pattern) d.push_back(p * s.linewidth);
    cairo_set_dash(cr, d.data(), int(d.size()), 0);
  };
  switch (s.linestyle) {
    case LineStyle::Solid: cairo_set_dash(cr, nullptr, 0, 0); break;
    case LineStyle::Dashed: set({3.7, 1.6}); break;
    case LineStyle::Dotted: set({1.0, 1.65}); break;
    case LineStyle::DashDot: set({6.4, 1.6, 1.0, 1.6}); break;
  }
  cairo_set_line_cap(cr, s.linestyle == LineStyle::Solid ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
}

// Adds the polyline of a run of device points to the path, keeping of each
// device column of `column` points only the first, lowest, highest and
// last point, in their order: the stroked picture stays the same.
void add_reduced_run(cairo_t* cr, const std::vector<std::pair<double, double>>& pts, double column) {
  if (pts.size() < 2) return;
  cairo_move_to(cr, pts[0].first, pts[0].second);
  std::size_t i = 1;
  while (i < pts.size()) {
    double col = std::floor(pts[i].first / column);
    std::size_t j = i, lo = i, hi = i;
    while (j < pts.size() && std::floor(pts[j].first / column) == col) {
      if (pts[j].second < pts[lo].second) lo = j;
      if (pts[j].second > pts[hi].second) hi = j;
      ++j;
    }
    std::size_t keep[] = {i, std::min(lo, hi), std::max(lo, hi), j - 1};
    std::size_t last = SIZE_MAX;
    for (std::size_t k : keep)
      if (k != last) cairo_line_to(cr, pts[k].first, pts[k].second), last = k;
    i = j;
  }
}

struct PanelView {
  Rect rect;
  std::pair<double, double> x, y;
  double to_x(double v) const { return rect.left + (v - x.first) / (x.second - x.first) * rect.width; }
  double to_y(double v) const { return rect.top + (y.second - v) / (y.second - y.first) * rect.height; }
};

}  // namespace

void Axes::plot(std::vector<double> x, std::vector<double> y, const Style& style) {
  if (x.size() != y.size()) throw std::invalid_argument("plot: x has " + std::to_string(x.size()) + " values, y " +
                                                         std::to_string(y.size()));
  auto m = std::make_shared<Mark>();
  m->x = std::move(x);
  m->y = std::move(y);
  m->style = style;
  m->color = style.color.value_or(parse_color(kCycle[cycle_++ % 10]));
  marks_.push_back(std::move(m));
}

void Axes::axhline(double y, const Style& style) {
  auto m = std::make_shared<Mark>();
  m->kind = Mark::Kind::HLine;
  m->y = {y};
  m->style = style;
  m->color = style.color.value_or(parse_color("C0"));
  marks_.push_back(std::move(m));
}

void Axes::set_title(const std::string& text, double size) { title_ = text, title_size_ = size; }
void Axes::set_xlabel(const std::string& text, double size) { xlabel_ = text, xlabel_size_ = size; }
void Axes::set_ylabel(const std::string& text, double size) { ylabel_ = text, ylabel_size_ = size; }
void Axes::set_xlim(double lo, double hi) { xlim_ = std::make_pair(lo, hi); }
void Axes::set_ylim(double lo, double hi) { ylim_ = std::make_pair(lo, hi); }

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

struct Drawing {
  cairo_t* cr;
  double column;  // device column width in points, for line reduction
};

void draw_marks(const Drawing& d, const Axes::Mark& m, const PanelView& v) {
  cairo_t* cr = d.cr;
  cairo_save(cr);
  cairo_rectangle(cr, v.rect.left, v.rect.top, v.rect.width, v.rect.height);
  cairo_clip(cr);
  set_color(cr, m.color, m.style.alpha);
  cairo_set_line_width(cr, m.style.linewidth);
  dash_for(cr, m.style);
  if (m.kind == Axes::Mark::Kind::HLine) {
    double y = v.to_y(m.y[0]);
    cairo_move_to(cr, v.rect.left, y);
    cairo_line_to(cr, v.rect.right(), y);
  } else {
    std::vector<std::pair<double, double>> run;
    for (std::size_t i = 0; i <= m.x.size(); ++i) {
      bool ok = i < m.x.size() && std::isfinite(m.x[i]) && std::isfinite(m.y[i]);
      if (ok) {
        run.emplace_back(v.to_x(m.x[i]), v.to_y(m.y[i]));
        continue;
      }
      add_reduced_run(cr, run, d.column);
      run.clear();
    }
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

bool setting_on(const std::string& key, bool fallback) {
  auto v = setting(key);
  if (!v) return fallback;
  if (auto b = std::get_if<bool>(&*v)) return *b;
  return fallback;
}

double setting_number(const std::string& key, double fallback) {
  auto v = setting(key);
  if (!v) return fallback;
  if (auto d = std::get_if<double>(&*v)) return *d;
  return fallback;
}

// The frame lines: left and bottom always, top and right as the settings say.
void draw_spines(cairo_t* cr, const Rect& r) {
  cairo_set_source_rgb(cr, 0, 0, 0);
  cairo_set_line_width(cr, kSpineWidth);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  auto line = [&](double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
  };
  line(r.left, r.top, r.left, r.bottom());
  line(r.left, r.bottom(), r.right(), r.bottom());
  if (setting_on("axes.spines.top", true)) line(r.left, r.top, r.right(), r.top);
  if (setting_on("axes.spines.right", true)) line(r.right(), r.top, r.right(), r.bottom());
  cairo_stroke(cr);
}

void tick(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_width(cr, kTickWidth);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// Ticks and labels of the x axis; returns the lowest y of the labels.
double draw_x_axis(cairo_t* cr, const Axes& ax, const PanelView& v, bool dates, bool labels) {
  std::vector<double> visible;
  std::vector<std::string> texts;
  std::string offset;
  if (dates) {
    DateTicks t = auto_date_ticks(v.x.first, v.x.second);
    ConciseLabels c = concise_date_labels(t.ticks);
    for (std::size_t i = 0; i < t.ticks.size(); ++i) {
      double tolerance = 1e-10 * (v.x.second - v.x.first);
      if (t.ticks[i] < v.x.first - tolerance || t.ticks[i] > v.x.second + tolerance) continue;
      visible.push_back(t.ticks[i]);
      texts.push_back(c.labels[i]);
    }
    offset = c.offset;
  } else {
    NumericTicks t = auto_numeric_ticks(v.x.first, v.x.second, v.rect.width, kLabelSize, false);
    ScalarLabels s = scalar_labels(t.visible, t.ticks);
    visible = t.visible;
    texts = s.labels;
    offset = s.offset_text;
  }
  (void)ax;
  double lowest = v.rect.bottom() + kTickLength;
  for (std::size_t i = 0; i < visible.size(); ++i) {
    double x = v.to_x(visible[i]);
    cairo_set_source_rgb(cr, 0, 0, 0);
    tick(cr, x, v.rect.bottom(), x, v.rect.bottom() + kTickLength);
    if (!labels) continue;
    double top = v.rect.bottom() + kTickLength + kTickPad;
    draw_text(cr, texts[i], kLabelSize, x, top, HAlign::Center, VAlign::Top);
    lowest = std::max(lowest, top + measure_text(cr, texts[i], kLabelSize).height);
  }
  if (labels && !offset.empty())
    draw_text(cr, offset, kLabelSize, v.rect.right(), lowest + kOffsetPad, HAlign::Right, VAlign::Top);
  return lowest;
}

// Ticks and labels of the y axis; returns the leftmost x of the labels.
double draw_y_axis(cairo_t* cr, const PanelView& v) {
  NumericTicks t = auto_numeric_ticks(v.y.first, v.y.second, v.rect.height, kLabelSize, true);
  ScalarLabels s = scalar_labels(t.visible, t.ticks);
  double leftmost = v.rect.left - kTickLength;
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (std::size_t i = 0; i < t.visible.size(); ++i) {
    double y = v.to_y(t.visible[i]);
    cairo_set_source_rgb(cr, 0, 0, 0);
    tick(cr, v.rect.left, y, v.rect.left - kTickLength, y);
    double right = v.rect.left - kTickLength - kTickPad;
    draw_text(cr, s.labels[i], kLabelSize, right, y, HAlign::Right, VAlign::CenterBaseline);
    leftmost = std::min(leftmost, right - measure_text(cr, s.labels[i], kLabelSize).width);
  }
  if (!s.offset_text.empty())
    draw_text(cr, s.offset_text, kLabelSize, v.rect.left, v.rect.top - kOffsetPad, HAlign::Left, VAlign::Baseline);
  return leftmost;
}

void draw_panel(const Drawing& d, const Axes& ax, const PanelView& v, bool dates, bool x_labels,
                const std::vector<std::shared_ptr<Axes::Mark>>& marks, const std::string& title, double title_size,
                const std::string& xlabel, double xlabel_size, const std::string& ylabel, double ylabel_size) {
  std::vector<const Axes::Mark*> order;
  for (const auto& m : marks) order.push_back(m.get());
  std::stable_sort(order.begin(), order.end(),
                   [](const Axes::Mark* a, const Axes::Mark* b) { return a->style.zorder < b->style.zorder; });
  double lowest = draw_x_axis(d.cr, ax, v, dates, x_labels);
  double leftmost = draw_y_axis(d.cr, v);
  for (const auto* m : order) draw_marks(d, *m, v);
  draw_spines(d.cr, v.rect);
  Color black;
  if (!title.empty())
    draw_text(d.cr, title, title_size, v.rect.left + v.rect.width / 2, v.rect.top - kTitlePad, HAlign::Center,
              VAlign::Baseline, black);
  if (x_labels && !xlabel.empty())
    draw_text(d.cr, xlabel, xlabel_size, v.rect.left + v.rect.width / 2, lowest + kLabelPad, HAlign::Center,
              VAlign::Top, black);
  if (!ylabel.empty())
    draw_text(d.cr, ylabel, ylabel_size, leftmost - kLabelPad, v.rect.top + v.rect.height / 2, HAlign::Center,
              VAlign::Bottom, black, 90);
}

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

void Figure::save(const std::filesystem::path& path, double dpi) const {
  std::string ext = to_lower_ascii(path.extension().string());
  if (ext != ".png" && ext != ".svg" && ext != ".pdf")
    throw std::invalid_argument("unsupported image type '" + ext + "' (use .png, .svg or .pdf)");
  if (!(dpi > 0)) throw std::invalid_argument("the resolution must be positive");
  // Panel rectangles: fixed figure margins, rows of equal height.
  double left = 0.125 * width_pt_, right = 0.9 * width_pt_, top = 0.12 * height_pt_, bottom = 0.89 * height_pt_;
  std::size_t rows = axes_.size();
  double h = (bottom - top) / (double(rows) + hspace_ * double(rows - 1));
  // The shared x view, from every panel's data.
  std::optional<std::pair<double, double>> xdata;
  bool dates = false;
  std::optional<std::pair<double, double>> xlim;
  for (const auto& a : axes_) {
    dates = dates || a->date_axis_;
    if (a->xlim_) xlim = a->xlim_;
    for (const auto& m : a->marks_)
      if (m->kind == Axes::Mark::Kind::Line) include(xdata, finite_range(m->x));
  }
  std::pair<double, double> xview = xlim ? *xlim : view_of(xdata, setting_number("axes.xmargin", kXMargin), dates);

  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  cairo_t* cr = cairo_create(recording);
  Drawing d{cr, 72.0 / (ext == ".png" ? dpi : 300.0)};
  for (std::size_t i = 0; i < rows; ++i) {
    const Axes& a = *axes_[i];
    std::optional<std::pair<double, double>> ydata;
    for (const auto& m : a.marks_) include(ydata, finite_range(m->y));
    PanelView v{{left, top + double(i) * h * (1 + hspace_), right - left, h}, xview,
                a.ylim_ ? *a.ylim_ : view_of(ydata, kYMargin, false)};
    draw_panel(d, a, v, dates, !a.hide_x_labels_, a.marks_, a.title_, a.title_size_, a.xlabel_, a.xlabel_size_,
               a.ylabel_, a.ylabel_size_);
  }
  cairo_destroy(cr);
  double x0, y0, w, hh;
  cairo_recording_surface_ink_extents(recording, &x0, &y0, &w, &hh);
  x0 -= kSavePad, y0 -= kSavePad, w += 2 * kSavePad, hh += 2 * kSavePad;

  std::string bytes;
  cairo_surface_t* out = nullptr;
  double scale = ext == ".png" ? dpi / 72 : 1;
  int pw = int(std::ceil(w * scale)), ph = int(std::ceil(hh * scale));
  if (ext == ".png") out = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pw, ph);
  else if (ext == ".svg") out = cairo_svg_surface_create_for_stream(append_bytes, &bytes, w, hh);
  else out = cairo_pdf_surface_create_for_stream(append_bytes, &bytes, w, hh);
  cairo_t* o = cairo_create(out);
  cairo_set_source_rgb(o, 1, 1, 1);
  cairo_paint(o);
  cairo_scale(o, scale, scale);
  cairo_set_source_surface(o, recording, -x0, -y0);
  cairo_paint(o);
  cairo_destroy(o);
  if (ext == ".png") cairo_surface_write_to_png_stream(out, append_bytes, &bytes);
  cairo_surface_finish(out);
  cairo_status_t status = cairo_surface_status(out);
  cairo_surface_destroy(out);
  cairo_surface_destroy(recording);
  if (status != CAIRO_STATUS_SUCCESS)
    throw IOError("cannot draw '" + path.string() + "': " + cairo_status_to_string(status));
  write_file_atomically(path, [&](std::ostream& s) { s.write(bytes.data(), std::streamsize(bytes.size())); });
  last_size_ = {ext == ".png" ? pw : int(std::ceil(w)), ext == ".png" ? ph : int(std::ceil(hh))};
}

}  // namespace tremora::chart
