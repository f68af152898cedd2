// The chart layer: figures of stacked panels drawn with Cairo and Pango,
// their tick placement and tick labels, colours, and output as PNG, SVG or
// PDF cropped to what was drawn.
//
// Date axis values are days (fractional) since 1970-01-01 00:00, the wall
// clock read as UTC. Lengths are in points (1/72 inch).
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tremora/time.hpp"

namespace tremora::chart {

struct Rect;
struct PanelView;
struct PanelPainter;

/// Days since the epoch of a timestamp, and back (to the nearest microsecond).
double to_days(Timestamp t);
Timestamp from_days(double days);

/// The calendar unit of automatic date ticks, coarsest first.
enum class DateUnit { Yearly, Monthly, Daily, Hourly, Minutely, Secondly, Microsecondly };

struct DateTicks {
  DateUnit unit = DateUnit::Daily;
  /// The step in units (1 for calendar patterns other than yearly).
  int interval = 1;
  /// Every tick the locator produced, ascending (yearly ticks may lie outside the view).
  std::vector<double> ticks;
  /// The ticks inside the view.
  std::vector<double> visible;
};

/// Automatic date ticks for the view dmin..dmax: the unit is the coarsest
/// one with at least five whole units in the view, the interval the first
/// candidate that keeps the ticks within the unit's maximum, and the ticks
/// sit on calendar positions (the 1st of months, midnight, whole hours).
/// A view of zero width is widened by two years on each side.
DateTicks auto_date_ticks(double dmin, double dmax);

/// Concise date labels: only the part of each tick that changes ("Apr",
/// "05", "03:00"; "2024" or "Mar-15" where a larger field turns over), and
/// the common part once, as the offset text ("2023-Mar").
struct ConciseLabels {
  std::vector<std::string> labels;
  std::string offset;
};

/// Labels of a full tick list (ascending), as auto_date_ticks returns it.
ConciseLabels concise_date_labels(const std::vector<double>& ticks);

struct NumericTicks {
  /// Every tick the locator produced, ascending.
  std::vector<double> ticks;
  /// The ticks inside the view.
  std::vector<double> visible;
};

/// Automatic numeric ticks with steps of 1, 2, 2.5, 5 or 10 times a power
/// of ten: at most floor(axis length / (3 × label size)) intervals along x,
/// floor(axis length / (2 × label size)) along y, between 1 and 9.
NumericTicks auto_numeric_ticks(double vmin, double vmax, double axis_length_pt, double label_size_pt, bool y_axis);

/// Numeric labels: the same number of decimals for every tick, with a
/// common offset ("+1.234e3") or power of ten ("1e6") taken out when the
/// values need it; "-" as the minus sign.
struct ScalarLabels {
  std::vector<std::string> labels;  // one per visible tick
  std::string offset_text;
};

/// Labels of the visible ticks; `all_ticks` (the locator's full list)
/// decides the decimals.
ScalarLabels scalar_labels(const std::vector<double>& visible, const std::vector<double>& all_ticks);

/// A value of the global chart settings.
using Setting = std::variant<bool, double, std::string, std::vector<std::string>>;

/// Sets a global chart setting by its key ("axes.spines.top", "font.size",
/// "axes.xmargin", "font.serif", ...); charts read the settings when they
/// are drawn. Keys the layer does not use are kept and ignored.
void set_setting(const std::string& key, Setting value);

/// A setting's value, or nothing when it was never set.
std::optional<Setting> setting(const std::string& key);

/// An RGBA colour with components in 0..1.
struct Color {
  double r = 0, g = 0, b = 0, a = 1;
  friend bool operator==(const Color&, const Color&) = default;
};

/// A colour by name ("r", "red", "gray", "C0".."C9", the CSS names), as
/// "#rrggbb" or "#rrggbbaa", or a grey level "0.8". std::invalid_argument
/// naming the text for anything else.
Color parse_color(const std::string& name);

/// The viridis colour map at x in [0, 1] (below 0 the first entry, above 1 the last).
Color viridis(double x);

/// How lines are stroked; None draws no line (markers only).
enum class LineStyle { Solid, Dashed, Dotted, DashDot, None };

/// How a text is set: size in points, font family (a name or a comma
/// list, fonts found by fontconfig with per-glyph fallback; empty for the
/// "font.serif" setting), weight "normal" or "bold", colour (its alpha is
/// the text's opacity), upright or italic.
struct TextStyle {
  double size = 12;
  std::string family = "";
  std::string weight = "normal";
  Color color = {};
  bool italic = false;
};

/// How a mark is drawn. An unset colour takes the panel's next cycle colour.
struct Style {
  std::optional<Color> color = std::nullopt;
  double linewidth = 1.5;
  LineStyle linestyle = LineStyle::Solid;
  double alpha = 1;
  std::string label = "";
  int zorder = 2;
  /// Marker at every point of a line, or the shape of scatter marks ("" =
  /// none on lines, a circle for scatter): "o" circle, "." point, ","
  /// pixel, "s" square, "^" "v" "<" ">" triangles, "D" "d" diamonds, "p"
  /// pentagon, "h" hexagon, "*" star, "+" plus, "x" cross, "|", "_".
  std::string marker = "";
  /// Width of line markers in points.
  double markersize = 6;
  /// The outline of bars (none when unset) and its width in points.
  std::optional<Color> edgecolor = std::nullopt;
  double edgewidth = 1.0;
};

/// A drawing option's value: a number, a text or a truth value.
using StyleValue = std::variant<double, std::string, bool>;
/// Drawing options by name, as plotting functions pass them on.
using StyleOptions = std::map<std::string, StyleValue>;

/// Sets the options "color", "linewidth", "linestyle" ("-", "--", ":",
/// "-.", their names, or "None"), "alpha", "marker", "markersize", "label"
/// and "zorder" on `style`, and returns the names of the options it does
/// not know, for the caller to warn about. TypeError naming an option whose
/// value is of the wrong kind; std::invalid_argument naming a colour, line
/// style or marker that does not exist.
std::vector<std::string> apply_style_options(Style& style, const StyleOptions& options);

/// Sets the text options "color", "alpha", "fontsize" (or "size"),
/// "family" (or "fontfamily"), "weight" (or "fontweight": "normal",
/// "bold") and "style" (or "fontstyle": "normal", "italic") on `style`,
/// and returns the names of the options it does not know. TypeError naming
/// an option whose value is of the wrong kind; std::invalid_argument naming
/// a weight or style that does not exist, and parse_color's error.
std::vector<std::string> apply_text_options(TextStyle& style, const StyleOptions& options);

/// The arrow of an annotation, from the text towards the point: "->" (open
/// head at the point), "<-" (at the text), "<->" (both), "-|>" (filled
/// head at the point) or "-" (no head).
struct Arrow {
  std::string style = "->";
  Color color = {};
  double linewidth = 1.0;
};

/// Sets the arrow options "arrowstyle", "color" and "linewidth" (or "lw")
/// on `arrow`, returning the names it does not know; errors as
/// apply_text_options, and std::invalid_argument naming an arrow style
/// that does not exist.
std::vector<std::string> apply_arrow_options(Arrow& arrow, const StyleOptions& options);

/// How a text is aligned on its anchor, across and up.
enum class HAlign { Left, Center, Right };
enum class VAlign { Top, CenterBaseline, Baseline, Bottom };
/// Alignments by name: "left", "center", "right"; "top", "center" (or
/// "center_baseline"), "baseline", "bottom"; std::invalid_argument naming
/// any other.
HAlign halign_of(const std::string& name);
VAlign valign_of(const std::string& name);

/// What an annotation's text position is measured in: points from the
/// point, y upwards ("offset points"), data coordinates ("data"), or
/// fractions of the panel ("axes fraction").
enum class TextCoords { OffsetPoints, Data, AxesFraction };
/// The coordinates of a name above; std::invalid_argument naming any other.
TextCoords text_coords_of(const std::string& name);

/// Where an annotation's text goes: (`dx`, `dy`) in `coords`.
struct TextPlacement {
  double dx = 10, dy = 10;
  TextCoords coords = TextCoords::OffsetPoints;
};

/// What a panel shows, as the figure lays it out: for checks and tests
/// that look at a chart's content rather than at its pixels.
struct MarkInfo {
  /// "line", "hline", "vline", "vspan", "stem", "scatter", "bar", "fill",
  /// "text" or "annotation".
  std::string kind;
  std::vector<double> x, y;
  /// Scatter areas (pt²), or the bar width in x units as the one entry.
  std::vector<double> sizes;
  Color color;
  std::optional<Color> edgecolor;
  double alpha = 1, linewidth = 1.5;
  LineStyle linestyle = LineStyle::Solid;
  std::string label, text;
  TextStyle text_style;
};

/// One axis of a panel: its view, the ticks in view and their labels, the
/// offset text and the axis label.
struct AxisInfo {
  double low = 0, high = 1;
  bool inverted = false;
  /// The unit of the axis values: "days since 1970-01-01" on a date axis
  /// (x values of time series), else "".
  std::string unit;
  std::vector<double> ticks;
  std::vector<std::string> labels;
  std::string offset, label;
};

struct PanelInfo {
  std::string title;
  AxisInfo x, y;
  std::vector<MarkInfo> marks;
  /// The twin panel (its own y axis on the right), when there is one.
  std::vector<PanelInfo> twin;
};

/// One panel of a figure.
class Axes {
 public:
  Axes();
  ~Axes();
  /// A line through the points (NaN values leave gaps).
  void plot(std::vector<double> x, std::vector<double> y, const Style& style = {});
  /// The same for values held as 32-bit floats, kept so (half the memory
  /// for long series).
  void plot_float32(std::vector<double> x, std::vector<float> y, const Style& style = {});
  /// A horizontal line across the panel at y.
  void axhline(double y, const Style& style = {});
  /// A vertical line from the bottom of the panel to its top at x.
  void axvline(double x, const Style& style = {});
  /// A band from x0 to x1 over the panel's whole height, filled (below
  /// lines, as filled areas are).
  void axvspan(double x0, double x1, const Style& style = {});
  /// Vertical lines from 0 to each y (no markers, no base line); the view
  /// always includes 0.
  void stem(std::vector<double> x, std::vector<double> y, const Style& style = {});
  /// Marks of the given areas (pt², the square around the marker; one
  /// area for all, or one per point), circles unless the style names
  /// another marker.
  void scatter(std::vector<double> x, std::vector<double> y, std::vector<double> areas, const Style& style = {});
  /// Bars centred on x (`align` "center") or starting at x ("edge"),
  /// `width` x units wide, from 0 to each height; outlined when the style
  /// has an edge colour.
  void bar(std::vector<double> x, std::vector<double> heights, double width = 0.8, const Style& style = {},
           const std::string& align = "center");
  /// Bars at positions 0, 1, 2 ... labelled with the categories (every
  /// k-th when they would overlap). Such a panel has an x axis of its own,
  /// outside the figure's shared time axis, always labelled.
  void bar(const std::vector<std::string>& categories, std::vector<double> heights, double width = 0.8,
           const Style& style = {});
  /// The area between the curve and a level, one band per run of valid points.
  void fill_between(std::vector<double> x, std::vector<double> y, double level = 0, const Style& style = {});
  /// Text at a data point, or (`panel_coords`) at fractions of the panel.
  /// An unknown `halign` or `valign` is a std::invalid_argument naming it.
  void text(double x, double y, const std::string& text, double size = 12, const std::string& halign = "left",
            const std::string& valign = "baseline", bool panel_coords = false, const Style& style = {});
  void text(double x, double y, const std::string& text, const TextStyle& style, const std::string& halign = "left",
            const std::string& valign = "baseline", bool panel_coords = false);
  /// Grid lines at the major ticks of both axes.
  void grid(bool on = true, LineStyle style = LineStyle::Solid, double alpha = 1) {
    grid_ = on, grid_style_ = style, grid_alpha_ = alpha;
  }
  /// A legend of the labelled marks, with an optional title (set at the
  /// figure's font size) and frame opacity, half a font size inside the
  /// panel at `location`: "upper left", "upper right", "lower left",
  /// "lower right", "upper center", "lower center", "center left",
  /// "center right" or "center" (std::invalid_argument naming any other).
  void legend(const TextStyle& style = {.size = 9}, const std::string& title = "", double frame_alpha = 0.8,
              const std::string& location = "upper left");
  /// A second panel on the same area sharing x, its y axis on the right.
  Axes* twinx();
  /// Text at an offset in points from a data point, with an arrow ("->")
  /// from the text to the point when `arrow` is set. Left out when the
  /// point lies outside the panel.
  void annotate(const std::string& text, double x, double y, double dx_pt, double dy_pt, double size = 12,
                bool arrow = false, const Style& style = {});
  /// Text placed as `at` says, pointing at the data point (x, y), in its
  /// own text style, with an arrow when one is given. Left out when the
  /// point lies outside the panel. std::invalid_argument naming an unknown
  /// placement.
  void annotate(const std::string& text, double x, double y, const TextPlacement& at, const TextStyle& style,
                const std::optional<Arrow>& arrow = std::nullopt);

  /// Fixed tick positions (and labels) instead of the automatic ones; the
  /// view grows to include them.
  void set_xticks(std::vector<double> ticks, std::vector<std::string> labels = {});
  void set_yticks(std::vector<double> ticks);
  /// Labels the x ticks with a function of the tick value.
  void set_xtick_formatter(std::function<std::string(double)> format) { x_ticks_.format = std::move(format); }
  /// Labels the y ticks with a function of the tick value and its position
  /// among the ticks in view, from 0 (no offset text).
  void set_ytick_formatter(std::function<std::string(double value, int position)> format) {
    y_ticks_.format = std::move(format);
  }
  /// Draws the y axis (its frame line on its side, tick marks and tick
  /// labels) in a colour. A twin's right frame line, hidden otherwise, is
  /// then shown.
  void set_y_axis_color(const Color& color) { y_axis_color_ = color; }
  /// Turns the x tick labels (degrees counter-clockwise), aligned as
  /// `halign` says ("left", "center", "right"; std::invalid_argument
  /// naming any other text).
  void set_xtick_rotation(double degrees, const std::string& halign = "center");
  /// One x tick at 00:00 on the 1st of every month in view, labelled with
  /// `format` (format_timestamp codes, such as "%m-%d").
  void set_month_ticks(const std::string& format) { x_ticks_.month_format = format; }
  /// Larger values downwards.
  void invert_yaxis(bool on = true) { invert_y_ = on; }
  /// Text above the panel, its baseline `pad` points over the top edge.
  void set_title(const std::string& text, const TextStyle& style, double pad = 6) {
    title_ = text, title_style_ = style, title_pad_ = pad;
  }
  /// Axis labels, `pad` points beyond the tick labels.
  void set_xlabel(const std::string& text, const TextStyle& style, double pad = 4) {
    xlabel_ = text, xlabel_style_ = style, xlabel_pad_ = pad;
  }
  void set_ylabel(const std::string& text, const TextStyle& style, double pad = 4) {
    ylabel_ = text, ylabel_style_ = style, ylabel_pad_ = pad;
  }
  void set_title(const std::string& text, double size = 12) { set_title(text, TextStyle{.size = size}); }
  void set_xlabel(const std::string& text, double size = 12) { set_xlabel(text, TextStyle{.size = size}); }
  void set_ylabel(const std::string& text, double size = 12) { set_ylabel(text, TextStyle{.size = size}); }
  /// Fixes the view along an axis (otherwise the data with margins); the
  /// ends may come in either order. std::invalid_argument when they are
  /// equal or not finite.
  void set_xlim(double lo, double hi);
  void set_ylim(double lo, double hi);
  /// Treats x values as days since the epoch: date ticks and labels.
  void set_date_axis(bool on = true) { date_axis_ = on; }
  /// Hides the x tick labels and label (panels above the bottom one).
  void hide_x_labels(bool hide = true) { hide_x_labels_ = hide; }

  struct Mark;

  /// How the x axis chooses and labels its ticks: categories of a bar
  /// panel, fixed positions (and labels), month starts, a formatter, and
  /// the labels' turn and alignment.
  struct XTicks {
    std::vector<std::string> categories;
    std::optional<std::vector<double>> fixed;
    std::vector<std::string> fixed_labels;
    std::string month_format;
    std::function<std::string(double)> format;
    double rotation = 0;
    HAlign halign = HAlign::Center;
  };
  /// How the y axis chooses and labels its ticks.
  struct YTicks {
    std::optional<std::vector<double>> fixed;
    std::function<std::string(double, int)> format;
  };

 private:
  friend class Figure;
  friend struct PanelPainter;
  std::shared_ptr<Mark> add(std::shared_ptr<Mark> m);
  Color next_line_color();
  Color next_patch_color();
  std::vector<std::shared_ptr<Mark>> marks_;
  XTicks x_ticks_;
  YTicks y_ticks_;
  std::unique_ptr<Axes> twin_;
  bool is_twin_ = false;
  bool grid_ = false, legend_ = false;
  LineStyle grid_style_ = LineStyle::Solid;
  double grid_alpha_ = 1, legend_alpha_ = 0.8;
  TextStyle legend_style_{.size = 9};
  std::string legend_title_;
  double legend_fx_ = 0, legend_fy_ = 0;  // the legend's place: 0 left/top, 0.5 centre, 1 right/bottom
  int patch_cycle_ = 0;
  std::optional<Color> y_axis_color_;
  bool invert_y_ = false;
  std::optional<std::pair<double, double>> xlim_, ylim_;
  bool date_axis_ = false;
  bool hide_x_labels_ = false;
  int cycle_ = 0;
  std::string title_, xlabel_, ylabel_;
  TextStyle title_style_, xlabel_style_, ylabel_style_;
  double title_pad_ = 6, xlabel_pad_ = 4, ylabel_pad_ = 4;
};

/// A figure of panels stacked in one column, sharing their x range.
class Figure {
 public:
  /// Width and height in inches.
  Figure(double width_in, double height_in);
  ~Figure();
  Figure(const Figure&) = delete;
  Figure& operator=(const Figure&) = delete;

  /// Creates `rows` panels from top to bottom; the gap between panels is
  /// `hspace` times the average panel height. Only the bottom panel shows
  /// x tick labels.
  std::vector<Axes*> subplots(int rows, double hspace = 0.5);

  /// Draws and writes the figure: PNG, SVG or PDF by the file extension
  /// (std::invalid_argument naming any other), at `dpi` for PNG, cropped to
  /// the drawn content plus 0.1 inch on every side. Written atomically.
  void save(const std::filesystem::path& path, double dpi = 100) const;

  /// The bytes save would write for `format` ("png", "svg" or "pdf"; any
  /// case), without a file: for notebooks and in-memory files.
  std::string render(const std::string& format, double dpi = 100) const;

  /// Width and height in inches, as made.
  std::pair<double, double> size_inches() const { return {width_pt_ / 72, height_pt_ / 72}; }

  /// Moves the panel edges when the figure is drawn so that tick labels,
  /// axis labels and titles neither overlap nor leave the figure, with
  /// `pad` font sizes of room around and between the panels.
  void tight_layout(double pad = 1.08) { tight_pad_ = pad; }

  /// Saves with a transparent background instead of white.
  void set_transparent(bool on = true) { transparent_ = on; }

  /// Text at fractions of the figure (from the lower left), aligned at the
  /// anchor as `halign` ("left", "center", "right") and `valign` ("top",
  /// "center", "baseline", "bottom") say. It counts in the saved area but
  /// not in tight_layout.
  void text(double fx, double fy, const std::string& text, const TextStyle& style, const std::string& halign = "left",
            const std::string& valign = "baseline");

  /// The panels as they would be saved: views, ticks, labels and marks.
  std::vector<PanelInfo> describe() const;

  /// The size in pixels of the last PNG written.
  std::pair<int, int> last_pixel_size() const { return last_size_; }

 private:
  // Draws the figure in the format of extension `ext`; `what` names it in errors.
  std::string encode(const std::string& ext, double dpi, const std::string& what) const;

  struct FigureText {
    double fx, fy;
    std::string text;
    TextStyle style;
    HAlign halign;
    VAlign valign;
  };
  std::vector<Rect> layout() const;
  void paint(const PanelPainter& painter, const std::vector<PanelView>& views) const;
  std::vector<PanelView> views(const std::vector<Rect>& rects) const;
  std::vector<Rect> fitted(std::vector<Rect> rects, double pad_pt) const;
  bool has_dates() const;
  bool shows_x_labels(std::size_t panel) const;

  double width_pt_, height_pt_;
  std::vector<std::unique_ptr<Axes>> axes_;
  double hspace_ = 0.5;
  bool transparent_ = false;
  std::optional<double> tight_pad_;
  std::vector<FigureText> texts_;
  mutable std::pair<int, int> last_size_{0, 0};
};

}  // namespace tremora::chart
