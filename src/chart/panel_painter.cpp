// One panel drawn with its decorations: ticks and tick labels, frame
// lines, grid, title, axis labels, legend, and its twin.
#include "panel_painter.hpp"

#include <algorithm>
#include <cmath>

#include "text_layout.hpp"
#include "tremora/text.hpp"

namespace tremora::chart {
namespace {

bool setting_on(const std::string& key, bool fallback) {
  auto v = setting(key);
  if (auto b = v ? std::get_if<bool>(&*v) : nullptr) return *b;
  return fallback;
}

void tick(cairo_t* cr, double x0, double y0, double x1, double y1, const Color& color = {}) {
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  cairo_set_line_width(cr, kTickWidth);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// The 1st of every month in view at 00:00.
std::vector<double> month_starts(const PanelView& v) {
  std::vector<double> out;
  CivilTime c = to_civil(from_days(v.x.first));
  for (int y = c.year, m = c.month;; ++m) {
    if (m > 12) m = 1, ++y;
    double d = to_days(make_timestamp(y, m, 1));
    if (d > v.x.second) break;
    if (d >= v.x.first) out.push_back(d);
  }
  return out;
}

// Every k-th category, k as small as keeps the labels from overlapping
// (their width estimated from their display width).
AxisTicks category_ticks(const PanelView& v, const std::vector<std::string>& categories) {
  AxisTicks t;
  std::size_t widest = 1;
  for (const auto& c : categories) widest = std::max(widest, display_width(c));
  double label_pt = 0.6 * label_size() * double(widest) + label_size();
  double per_category = v.rect.width / std::max(1.0, v.x.second - v.x.first);
  std::size_t step = std::size_t(std::max(1.0, std::ceil(label_pt / per_category)));
  for (std::size_t i = 0; i < categories.size(); i += step)
    if (double(i) >= v.x.first && double(i) <= v.x.second) t.at.push_back(double(i)), t.labels.push_back(categories[i]);
  return t;
}

AxisTicks automatic_x_ticks(const PanelView& v, bool dates, const std::vector<std::string>& categories) {
  if (!categories.empty()) return category_ticks(v, categories);
  AxisTicks t;
  if (dates) {
    DateTicks d = auto_date_ticks(v.x.first, v.x.second);
    ConciseLabels c = concise_date_labels(d.ticks);
    double tolerance = 1e-10 * (v.x.second - v.x.first);
    for (std::size_t i = 0; i < d.ticks.size(); ++i)
      if (d.ticks[i] >= v.x.first - tolerance && d.ticks[i] <= v.x.second + tolerance)
        t.at.push_back(d.ticks[i]), t.labels.push_back(c.labels[i]);
    t.offset = c.offset;
    return t;
  }
  NumericTicks n = auto_numeric_ticks(v.x.first, v.x.second, v.rect.width, label_size(), false);
  ScalarLabels s = scalar_labels(n.visible, n.ticks);
  return {n.visible, s.labels, s.offset_text};
}

// Labels for given positions: concise dates or scalar numbers.
AxisTicks labelled(const std::vector<double>& at, bool dates) {
  AxisTicks t;
  t.at = at;
  if (dates) {
    ConciseLabels c = concise_date_labels(at);
    t.labels = c.labels, t.offset = c.offset;
  } else {
    ScalarLabels s = scalar_labels(at, at);
    t.labels = s.labels, t.offset = s.offset_text;
  }
  return t;
}

std::vector<double> in_view(const std::vector<double>& ticks, Range r) {
  std::vector<double> out;
  double tolerance = 1e-10 * (r.second - r.first);
  for (double t : ticks)
    if (t >= std::min(r.first, r.second) - tolerance && t <= std::max(r.first, r.second) + tolerance) out.push_back(t);
  return out;
}

// Ticks and labels below the panel; returns the lowest y of the labels.
double draw_x_axis(cairo_t* cr, const AxisTicks& t, const PanelView& v, bool labels, double rotation, HAlign h) {
  double size = label_size(), lowest = v.rect.bottom() + kTickLength;
  for (std::size_t i = 0; i < t.at.size(); ++i) {
    double x = v.to_x(t.at[i]);
    tick(cr, x, v.rect.bottom(), x, v.rect.bottom() + kTickLength);
    if (!labels) continue;
    double top = v.rect.bottom() + kTickLength + kTickPad;
    draw_text(cr, t.labels[i], size, x, top, h, VAlign::Top, {}, rotation);
    TextExtent e = measure_text(cr, t.labels[i], size);
    double r = rotation * M_PI / 180;
    lowest = std::max(lowest, top + std::fabs(e.height * std::cos(r)) + std::fabs(e.width * std::sin(r)));
  }
  if (labels && !t.offset.empty())
    draw_text(cr, t.offset, size, v.rect.right(), lowest + kOffsetPad, HAlign::Right, VAlign::Top);
  return lowest;
}

// Ticks and labels beside the panel (left, or right for a twin), in the
// axis colour; returns the outer edge of the labels.
double draw_y_axis(cairo_t* cr, const AxisTicks& t, const PanelView& v, bool right, const Color& color) {
  double size = label_size();
  double edge = right ? v.rect.right() : v.rect.left;
  double sign = right ? 1 : -1, outer = edge + sign * kTickLength;
  for (std::size_t i = 0; i < t.at.size(); ++i) {
    double y = v.to_y(t.at[i]);
    tick(cr, edge, y, edge + sign * kTickLength, y, color);
    double anchor = edge + sign * (kTickLength + kTickPad);
    draw_text(cr, t.labels[i], size, anchor, y, right ? HAlign::Left : HAlign::Right, VAlign::CenterBaseline, color);
    double w = measure_text(cr, t.labels[i], size).width;
    outer = right ? std::max(outer, anchor + w) : std::min(outer, anchor - w);
  }
  if (!t.offset.empty())
    draw_text(cr, t.offset, size, edge, v.rect.top - kOffsetPad, right ? HAlign::Right : HAlign::Left,
              VAlign::Baseline);
  return outer;
}

// The box of a y axis's offset text ("1e-5"), drawn above the panel's
// top corner on its side; nothing when the axis has none.
std::optional<Rect> y_offset_box(cairo_t* cr, const AxisTicks& t, const PanelView& v, bool right) {
  if (t.offset.empty()) return std::nullopt;
  TextExtent e = measure_text(cr, t.offset, label_size());
  double top = v.rect.top - kOffsetPad - e.baseline;
  return Rect{right ? v.rect.right() - e.width : v.rect.left, top, e.width, e.height};
}

// The title's baseline: `pad` above the panel, raised when its box would
// meet one of the texts just above the panel, until it clears them by 3 pt.
double title_baseline(cairo_t* cr, const std::string& title, const TextStyle& style, const PanelView& v,
                      const std::vector<Rect>& above, double pad) {
  TextExtent e = measure_text(cr, title, style);
  double baseline = v.rect.top - pad;
  double left = v.rect.left + (v.rect.width - e.width) / 2, right = left + e.width;
  for (const Rect& r : above) {
    bool across = left < r.right() && r.left < right;
    double bottom = baseline - e.baseline + e.height;
    if (across && bottom > r.top) baseline -= bottom - (r.top - kOffsetPad);
  }
  return baseline;
}

void draw_grid(cairo_t* cr, const AxisTicks& xt, const AxisTicks& yt, const PanelView& v, LineStyle style,
               double alpha) {
  cairo_save(cr);
  cairo_set_source_rgba(cr, 0.6902, 0.6902, 0.6902, alpha);
  cairo_set_line_width(cr, 0.8);
  set_dash(cr, style, 0.8);
  for (double x : xt.at) cairo_move_to(cr, v.to_x(x), v.rect.top), cairo_line_to(cr, v.to_x(x), v.rect.bottom());
  for (double y : yt.at) cairo_move_to(cr, v.rect.left, v.to_y(y)), cairo_line_to(cr, v.rect.right(), v.to_y(y));
  cairo_stroke(cr);
  cairo_restore(cr);
}

void spine(cairo_t* cr, double x0, double y0, double x1, double y1, const Color& color) {
  cairo_set_source_rgba(cr, color.r, color.g, color.b, color.a);
  cairo_set_line_width(cr, kSpineWidth);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

// The frame lines: left (in the y axis colour) and bottom always, top and
// right as the settings say.
void draw_spines(cairo_t* cr, const Rect& r, const Color& left) {
  spine(cr, r.left, r.top, r.left, r.bottom(), left);
  spine(cr, r.left, r.bottom(), r.right(), r.bottom(), {});
  if (setting_on("axes.spines.top", true)) spine(cr, r.left, r.top, r.right(), r.top, {});
  if (setting_on("axes.spines.right", true)) spine(cr, r.right(), r.top, r.right(), r.bottom(), {});
}

void rounded_rectangle(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

// The legend of the labelled marks, its frame 0.5 fs inside the panel at
// the fractions (fx, fy) of the free room across and down.
void draw_legend(cairo_t* cr, const std::vector<const Axes::Mark*>& marks, const PanelView& v, const TextStyle& style,
                 const std::string& title, double frame_alpha, double fx, double fy) {
  std::vector<const Axes::Mark*> entries;
  for (const auto* m : marks)
    if (!m->style.label.empty()) entries.push_back(m);
  if (entries.empty()) return;
  // Lines come first, then filled areas and scatter marks, then bars and
  // stems, each group in the order the marks were added.
  auto group = [](const Axes::Mark* m) { return m->kind->legend_group; };
  std::sort(entries.begin(), entries.end(), [&](const Axes::Mark* a, const Axes::Mark* b) {
    return group(a) != group(b) ? group(a) < group(b) : a->order < b->order;
  });
  double fs = style.size;
  double pad = 0.4 * fs, spacing = 0.5 * fs, handle = 2 * fs, gap = 0.8 * fs, row = fs;
  TextStyle title_style{.size = label_size(), .family = style.family};
  double title_h = title.empty() ? 0 : measure_text(cr, title, title_style).height + spacing;
  double text_w = title.empty() ? 0 : measure_text(cr, title, title_style).width - handle - gap;
  for (const auto* m : entries) text_w = std::max(text_w, measure_text(cr, m->style.label, style).width);
  double w = 2 * pad + handle + gap + text_w;
  double h = 2 * pad + title_h + double(entries.size()) * row + double(entries.size() - 1) * spacing;
  double x = v.rect.left + 0.5 * fs + fx * (v.rect.width - w - fs);
  double y = v.rect.top + 0.5 * fs + fy * (v.rect.height - h - fs);
  rounded_rectangle(cr, x, y, w, h, 0.2 * fs);
  cairo_set_source_rgba(cr, 1, 1, 1, frame_alpha);
  cairo_fill_preserve(cr);
  cairo_set_source_rgba(cr, 0.8, 0.8, 0.8, frame_alpha);
  cairo_set_line_width(cr, 1);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_stroke(cr);
  if (!title.empty()) draw_text(cr, title, title_style, x + w / 2, y + pad, HAlign::Center, VAlign::Top);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto* m = entries[i];
    double baseline = y + pad + title_h + double(i) * (row + spacing) + 0.8 * row;
    draw_legend_handle(cr, *m, x + pad, x + pad + handle, baseline - 0.35 * fs, fs);
    draw_text(cr, m->style.label, style, x + pad + handle + gap, baseline, HAlign::Left, VAlign::Baseline);
  }
}

std::vector<const Axes::Mark*> in_drawing_order(const std::vector<std::shared_ptr<Axes::Mark>>& marks) {
  std::vector<const Axes::Mark*> order;
  for (const auto& m : marks) order.push_back(m.get());
  std::stable_sort(order.begin(), order.end(),
                   [](const Axes::Mark* a, const Axes::Mark* b) { return a->style.zorder < b->style.zorder; });
  return order;
}

}  // namespace

double setting_number(const std::string& key, double fallback) {
  auto v = setting(key);
  if (auto d = v ? std::get_if<double>(&*v) : nullptr) return *d;
  return fallback;
}

double label_size() { return setting_number("font.size", 12); }

void include(std::optional<Range>& range, std::optional<Range> more) {
  if (!more) return;
  if (!range) range = more;
  else range = Range{std::min(range->first, more->first), std::max(range->second, more->second)};
}

// A view from data limits: widened when singular, then given margins; a
// margin does not cross 0 when bars stand on it. A panel without data
// shows 0 to 1 (1970-01-01 to 01-02 on a date axis).
Range view_of(std::optional<Range> data, double margin, bool dates, bool sticky_zero) {
  if (!data) return Range{0, 1};
  auto [lo, hi] = *data;
  if (lo == hi) {
    double widen = dates ? 730 : (lo == 0 ? 0.05 : 0.05 * std::fabs(lo));
    lo -= widen, hi += widen;
  }
  double span = hi - lo;
  double vlo = lo - margin * span, vhi = hi + margin * span;
  if (sticky_zero && lo == 0) vlo = 0;
  if (sticky_zero && hi == 0) vhi = 0;
  return {vlo, vhi};
}

AxisTicks x_ticks(const PanelView& v, bool dates, const Axes::XTicks& settings) {
  const auto& [categories, fixed, fixed_labels, month_format, format, rotation, halign] = settings;
  AxisTicks t;
  if (!month_format.empty()) {
    t.at = month_starts(v);
    for (double d : t.at) t.labels.push_back(format_timestamp(from_days(d), month_format));
  } else if (fixed) {
    std::vector<double> at = in_view(*fixed, v.x);
    t = labelled(at, dates);
    if (!fixed_labels.empty()) {
      t.labels.clear();
      for (double x : at)
        t.labels.push_back(fixed_labels[std::size_t(std::find(fixed->begin(), fixed->end(), x) - fixed->begin())]);
      t.offset.clear();
    }
  } else {
    t = automatic_x_ticks(v, dates, categories);
  }
  if (format) {
    for (std::size_t i = 0; i < t.at.size(); ++i) t.labels[i] = format(t.at[i]);
    t.offset.clear();
  }
  return t;
}

AxisTicks y_ticks(const PanelView& v, const Axes::YTicks& settings) {
  const auto& [fixed, format] = settings;
  AxisTicks t;
  if (fixed) {
    t = labelled(in_view(*fixed, v.y), false);
  } else {
    double lo = std::min(v.y.first, v.y.second), hi = std::max(v.y.first, v.y.second);
    NumericTicks n = auto_numeric_ticks(lo, hi, v.rect.height, label_size(), true);
    ScalarLabels s = scalar_labels(n.visible, n.ticks);
    t = {n.visible, s.labels, s.offset_text};
  }
  if (format) {
    for (std::size_t i = 0; i < t.at.size(); ++i) t.labels[i] = format(t.at[i], int(i));
    t.offset.clear();
  }
  return t;
}

std::optional<Range> y_data(const std::vector<std::shared_ptr<Axes::Mark>>& marks, bool& bars) {
  std::optional<Range> r;
  bars = false;
  for (const auto& m : marks) {
    include(r, mark_y_limits(*m));
    bars = bars || m->kind->stands_on_zero;
  }
  return r;
}

bool PanelPainter::clipped(const Axes::Mark& m) { return m.kind->clipped; }

void PanelPainter::paint(const Axes& a, const PanelView& v, bool x_labels) const {
  auto order = in_drawing_order(a.marks_);
  if (decorations_only) std::erase_if(order, [](const Axes::Mark* m) { return clipped(*m); });
  AxisTicks xt = x_ticks(v, dates, a.x_ticks_);
  AxisTicks yt = y_ticks(v, a.y_ticks_);
  Color ycolor = a.y_axis_color_.value_or(Color{});
  if (a.grid_) draw_grid(cr, xt, yt, v, a.grid_style_, a.grid_alpha_);
  double lowest = draw_x_axis(cr, xt, v, x_labels, a.x_ticks_.rotation, a.x_ticks_.halign);
  double left = draw_y_axis(cr, yt, v, false, ycolor);
  for (const auto* m : order) draw_mark(cr, *m, v, column);
  draw_spines(cr, v.rect, ycolor);
  std::vector<Rect> above;  // offset texts over the panel, which the title must clear
  if (auto box = y_offset_box(cr, yt, v, false)) above.push_back(*box);
  if (a.twin_)
    if (auto box = paint_twin(*a.twin_, v)) above.push_back(*box);
  if (!a.title_.empty())
    draw_text(cr, a.title_, a.title_style_, v.rect.left + v.rect.width / 2,
              title_baseline(cr, a.title_, a.title_style_, v, above, a.title_pad_), HAlign::Center, VAlign::Baseline);
  if (x_labels && !a.xlabel_.empty())
    draw_text(cr, a.xlabel_, a.xlabel_style_, v.rect.left + v.rect.width / 2, lowest + a.xlabel_pad_, HAlign::Center,
              VAlign::Top);
  if (!a.ylabel_.empty())
    draw_text(cr, a.ylabel_, a.ylabel_style_, left - a.ylabel_pad_, v.rect.top + v.rect.height / 2, HAlign::Center,
              VAlign::Bottom, 90);
  if (a.legend_)
    draw_legend(cr, order, v, a.legend_style_, a.legend_title_, a.legend_alpha_, a.legend_fx_, a.legend_fy_);
}

PanelView PanelPainter::twin_view(const Axes& t, const PanelView& host) {
  bool bars;
  std::optional<Range> data = y_data(t.marks_, bars);
  if (t.y_ticks_.fixed)
    include(data, Range{*std::min_element(t.y_ticks_.fixed->begin(), t.y_ticks_.fixed->end()),
                        *std::max_element(t.y_ticks_.fixed->begin(), t.y_ticks_.fixed->end())});
  return PanelView{host.rect, host.x, t.ylim_ ? *t.ylim_ : view_of(data, kYMargin, false, bars), t.invert_y_};
}

std::optional<Rect> PanelPainter::paint_twin(const Axes& t, const PanelView& host) const {
  PanelView v = twin_view(t, host);
  auto order = in_drawing_order(t.marks_);
  if (decorations_only) std::erase_if(order, [](const Axes::Mark* m) { return clipped(*m); });
  for (const auto* m : order) draw_mark(cr, *m, v, column);
  AxisTicks ticks = y_ticks(v, t.y_ticks_);
  Color color = t.y_axis_color_.value_or(Color{});
  double right = draw_y_axis(cr, ticks, v, true, color);
  if (t.y_axis_color_) spine(cr, v.rect.right(), v.rect.top, v.rect.right(), v.rect.bottom(), color);
  if (!t.ylabel_.empty())
    draw_text(cr, t.ylabel_, t.ylabel_style_, right + t.ylabel_pad_, v.rect.top + v.rect.height / 2, HAlign::Center,
              VAlign::Top, 90);
  return y_offset_box(cr, ticks, v, true);
}

}  // namespace tremora::chart
