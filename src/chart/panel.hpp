// Internal pieces shared by the chart layer's files: the marks a panel
// holds, the mapping of data to points, and mark drawing.
#pragma once

#include <cairo.h>

#include <optional>
#include <utility>

#include "tremora/chart.hpp"

namespace tremora::chart {

using Range = std::pair<double, double>;

struct MarkKind;
/// The kind of a mark made without one: a line.
const MarkKind& line_mark_kind();

/// A mark of a panel: its kind (how it is drawn and what it spans) and the
/// data and style it is drawn from.
struct Axes::Mark {
  const MarkKind* kind = &line_mark_kind();
  std::vector<double> x, y, sizes;
  std::vector<float> y32;  // the y of a line given as 32-bit floats (then `y` is empty)
  double y_at(std::size_t i) const { return y32.empty() ? y[i] : double(y32[i]); }
  double width = 0.8, level = 0;
  bool edge_aligned = false;  // bars that start at x instead of being centred on it
  std::string text;
  TextStyle text_style;  // its colour is `color` below
  HAlign halign = HAlign::Left;
  VAlign valign = VAlign::Baseline;
  bool panel_coords = false;
  TextPlacement placement;  // of an annotation's text
  std::optional<Arrow> arrow;
  Style style;
  Color color;
  std::size_t order = 0;  // the position among the panel's marks, in the order they were added
};

struct Rect {
  double left, top, width, height;
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

struct ReducedLines;

/// A panel's rectangle in points and its data view.
struct PanelView {
  Rect rect;
  Range x, y;
  bool invert_y = false;
  /// The panel's lines reduced ahead of drawing (reduce_lines), if any.
  const ReducedLines* reduced = nullptr;
  double to_x(double v) const { return rect.left + (v - x.first) / (x.second - x.first) * rect.width; }
  double to_y(double v) const {
    double f = (y.second - v) / (y.second - y.first);
    return rect.top + (invert_y ? 1 - f : f) * rect.height;
  }
};

/// A device column that many points of a line cross: the original
/// segments cover it whole between the lowest and the highest point.
struct DenseColumn {
  double left, low, high;
};

/// A line's path as it is stroked at one resolution: its points reduced to
/// a few per device column, and the columns it fills instead.
struct ReducedLine {
  struct Point {
    double x, y;
    bool move;  // starts a new piece of the path
  };
  std::vector<Point> path;
  std::vector<DenseColumn> dense;
};

/// The reduced lines of a panel's marks for device columns `column` wide.
struct ReducedLines {
  double column = 0;
  std::vector<std::pair<const Axes::Mark*, ReducedLine>> lines;
  /// The line of `m` reduced for `at_column`; nothing when it was not.
  const ReducedLine* find(const Axes::Mark& m, double at_column) const;
};

/// Reduces the stroked lines among each panel's marks for device columns
/// `column` wide, in parallel, into `out` (one a panel), and points the
/// panels' views at them: the figure's recordings then only add the paths.
void reduce_lines(const std::vector<std::vector<const Axes::Mark*>>& panels, std::vector<PanelView>& views,
                  double column, std::vector<ReducedLines>& out);

/// What a kind of mark is: one of these per kind, in marks.cpp, where the
/// kind's drawing and data limits are.
struct MarkKind {
  /// Its name in describe(): "line", "hline", "bar", ...
  const char* name;
  /// Its place in a legend: lines 0, areas and scatter marks 1, bars,
  /// stems and texts 2.
  int legend_group;
  /// Drawn clipped to its panel (texts are not).
  bool clipped;
  /// Stands on 0, which the view's margin then does not cross (bars).
  bool stands_on_zero;
  /// Reports its width as its one size in describe() (bars).
  bool width_is_size;
  /// Its legend handle.
  enum class Handle { Line, Patch, Marker } handle;
  /// Its x and y data limits (nothing where it has none).
  std::optional<Range> (*x_limits)(const Axes::Mark&);
  std::optional<Range> (*y_limits)(const Axes::Mark&);
  /// Draws it, clipped, in its colour, line width and style (see draw_mark).
  void (*draw)(cairo_t*, const Axes::Mark&, const PanelView&, double column);
};

/// The kind of mark of a name ("scatter", ...); std::invalid_argument naming
/// any other.
const MarkKind& mark_kind(const std::string& name);

/// The text style of a text mark with its colour and opacity.
TextStyle text_style_of(const Axes::Mark& m);

/// The x and y data limits of a mark (nothing where it has none).
inline std::optional<Range> mark_x_limits(const Axes::Mark& m) { return m.kind->x_limits(m); }
inline std::optional<Range> mark_y_limits(const Axes::Mark& m) { return m.kind->y_limits(m); }

/// Draws a mark; `column` is the device column width in points for line reduction.
void draw_mark(cairo_t* cr, const Axes::Mark& m, const PanelView& v, double column);

void set_dash(cairo_t* cr, LineStyle style, double width);

/// The sample of a mark in a legend between x0 and x1 around the height
/// yc: a line (with its marker), a marker, or a patch of the legend font
/// size `fs`.
void draw_legend_handle(cairo_t* cr, const Axes::Mark& m, double x0, double x1, double yc, double fs);

}  // namespace tremora::chart
