// Figures and panels of the chart layer as Python objects: the plotters
// return them, TSPlotter's steps take them, and a script can draw on a
// Figure of its own, save it again, or look at what its panels show
// (describe) without reading pixels.
#pragma once

#include <memory>
#include <vector>

#include "module.hpp"
#include "tremora/chart.hpp"

namespace tremora::python {

/// A figure shared between Python and the panels that belong to it.
struct FigureHandle {
  std::shared_ptr<chart::Figure> figure;
};

/// A panel of a figure; it keeps its figure alive. `panel` is its place
/// among the figure's panels from the top, and a twin is the second y
/// axis of that panel.
struct AxesHandle {
  std::shared_ptr<chart::Figure> figure;
  chart::Axes* axes = nullptr;
  std::size_t panel = 0;
  bool twin = false;
};

/// The classes Figure and Axes, in `m`.
void bind_chart_objects(py::module_& m);

/// Axes' methods that add marks, titles and legends under matplotlib's names.
void bind_axes_marks(py::class_<AxesHandle>& axes);

/// The panels of a figure as Axes objects, in order.
py::list axes_objects(const std::shared_ptr<chart::Figure>& figure, const std::vector<chart::Axes*>& axes);

/// (Figure, [Axes, ...]), or (None, None) when there is no figure.
py::tuple figure_and_axes(const std::shared_ptr<chart::Figure>& figure, const std::vector<chart::Axes*>& axes);

/// A text style as a dict: size, family, weight, color (r, g, b, a), italic.
py::dict text_style_dict(const chart::TextStyle& style);

/// What a figure's panels show: views, ticks, labels and marks as dicts.
py::list describe_panels(const std::vector<chart::PanelInfo>& panels);

}  // namespace tremora::python
