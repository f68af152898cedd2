// Drawing one panel with its decorations, and what the figure's layout and
// reports share with it: views from data limits, tick positions and labels.
#pragma once

#include <cairo.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "panel.hpp"

namespace tremora::chart {

constexpr double kTickLength = 3.5, kTickWidth = 0.8, kTickPad = 3.5, kSpineWidth = 0.8;
constexpr double kLabelPad = 4, kTitlePad = 6, kOffsetPad = 3, kSavePad = 7.2;
constexpr double kXMargin = 0.05, kYMargin = 0.05;

/// A number of the global settings, or the fallback.
double setting_number(const std::string& key, double fallback);
/// The size of tick labels ("font.size").
double label_size();
/// Widens a range by another (nothing stays nothing).
void include(std::optional<Range>& range, std::optional<Range> more);
/// A view from data limits: widened when singular, then given margins; a
/// margin does not cross 0 when bars stand on it. A panel without data
/// shows 0 to 1 (1970-01-01 to 01-02 on a date axis).
Range view_of(std::optional<Range> data, double margin, bool dates, bool sticky_zero = false);

/// Tick positions and labels of one axis, and its offset text.
struct AxisTicks {
  std::vector<double> at;
  std::vector<std::string> labels;
  std::string offset;
};

/// The x ticks of a panel: month starts, fixed ticks, categories, dates or
/// numbers, labelled by the formatter when one is given.
AxisTicks x_ticks(const PanelView& v, bool dates, const Axes::XTicks& settings);
/// The y ticks: fixed or automatic, labelled by the formatter when one is given.
AxisTicks y_ticks(const PanelView& v, const Axes::YTicks& settings);
/// The y data limits of marks; `bars` tells whether bars stand on 0.
std::optional<Range> y_data(const std::vector<std::shared_ptr<Axes::Mark>>& marks, bool& bars);

/// Draws one panel (and its twin) with everything it holds.
struct PanelPainter {
  cairo_t* cr;
  double column;
  bool dates;
  bool decorations_only = false;  // for measuring: leave out the marks clipped to the panel

  static bool clipped(const Axes::Mark& m);
  void paint(const Axes& a, const PanelView& v, bool x_labels) const;
  /// The view of a twin panel: the host's area and x range, its own y range.
  static PanelView twin_view(const Axes& t, const PanelView& host);
  /// Draws the twin panel; returns the box of its y offset text. Its right
  /// frame line shows when its axis has a colour.
  std::optional<Rect> paint_twin(const Axes& t, const PanelView& host) const;
};

}  // namespace tremora::chart
