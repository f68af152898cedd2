#include "chart_objects.hpp"

#include <pybind11/numpy.h>

#include <cmath>
#include <ostream>
#include <string>

#include "doc_plotkit.hpp"
#include "plot_args.hpp"
#include "tremora/files.hpp"

namespace tremora::python {
namespace {

const char* line_style_code(chart::LineStyle style) {
  switch (style) {
    case chart::LineStyle::Solid: return "-";
    case chart::LineStyle::Dashed: return "--";
    case chart::LineStyle::Dotted: return ":";
    case chart::LineStyle::DashDot: return "-.";
    case chart::LineStyle::None: return "None";
  }
  return "-";
}

py::tuple rgba(const chart::Color& c) { return py::make_tuple(c.r, c.g, c.b, c.a); }

py::array_t<double> numbers(const std::vector<double>& values) {
  return py::array_t<double>(py::ssize_t(values.size()), values.data());
}

py::dict axis_dict(const chart::AxisInfo& a) {
  return py::dict("low"_a = a.low, "high"_a = a.high, "inverted"_a = a.inverted, "unit"_a = a.unit,
                  "ticks"_a = numbers(a.ticks), "labels"_a = a.labels, "offset"_a = a.offset, "label"_a = a.label);
}

py::dict mark_dict(const chart::MarkInfo& m) {
  py::object edge = m.edgecolor ? py::object(rgba(*m.edgecolor)) : py::none();
  return py::dict("kind"_a = m.kind, "x"_a = numbers(m.x), "y"_a = numbers(m.y), "sizes"_a = numbers(m.sizes),
                  "color"_a = rgba(m.color), "edgecolor"_a = edge, "alpha"_a = m.alpha, "linewidth"_a = m.linewidth,
                  "linestyle"_a = line_style_code(m.linestyle), "label"_a = m.label, "text"_a = m.text,
                  "text_style"_a = text_style_dict(m.text_style));
}

py::dict panel_dict(const chart::PanelInfo& p) {
  py::list marks;
  for (const auto& m : p.marks) marks.append(mark_dict(m));
  return py::dict("title"_a = p.title, "x"_a = axis_dict(p.x), "y"_a = axis_dict(p.y), "marks"_a = marks,
                  "twin"_a = describe_panels(p.twin));
}

py::dict describe_axes(const AxesHandle& a) {
  std::vector<chart::PanelInfo> panels = a.figure->describe();
  if (a.panel >= panels.size()) throw py::index_error("the panel is not in its figure");
  const chart::PanelInfo& panel = panels[a.panel];
  if (!a.twin) return panel_dict(panel);
  if (panel.twin.empty()) throw py::index_error("the panel has no twin");
  return panel_dict(panel.twin.front());
}

}  // namespace

py::dict text_style_dict(const chart::TextStyle& s) {
  return py::dict("size"_a = s.size, "family"_a = s.family, "weight"_a = s.weight, "color"_a = rgba(s.color),
                  "italic"_a = s.italic);
}

py::list describe_panels(const std::vector<chart::PanelInfo>& panels) {
  py::list out;
  for (const auto& p : panels) out.append(panel_dict(p));
  return out;
}

py::list axes_objects(const std::shared_ptr<chart::Figure>& figure, const std::vector<chart::Axes*>& axes) {
  py::list out;
  for (std::size_t i = 0; i < axes.size(); ++i) out.append(AxesHandle{figure, axes[i], i, false});
  return out;
}

py::tuple figure_and_axes(const std::shared_ptr<chart::Figure>& figure, const std::vector<chart::Axes*>& axes) {
  if (!figure) return py::make_tuple(py::none(), py::none());
  return py::make_tuple(FigureHandle{figure}, axes_objects(figure, axes));
}

namespace {

// Saves to a path, or writes the image's bytes to a binary file object.
void save_figure(const FigureHandle& f, py::object target, double dpi, py::object format) {
  bool is_path = py::isinstance<py::str>(target) || py::hasattr(target, "__fspath__");
  if (!is_path && !py::hasattr(target, "write"))
    wrong_kind(target, "path", "a str, an os.PathLike or a binary file object");
  if (is_path && format.is_none()) {
    std::filesystem::path file = path_arg(target, "path");
    return without_gil([&] { f.figure->save(file, dpi); });
  }
  std::string kind = format.is_none() ? "png" : py::str(format).cast<std::string>();
  std::string bytes = without_gil([&] { return f.figure->render(kind, dpi); });
  if (!is_path) {
    target.attr("write")(py::bytes(bytes));
    return;
  }
  std::filesystem::path file = path_arg(target, "path");
  without_gil([&] {
    write_file_atomically(file, [&](std::ostream& s) { s.write(bytes.data(), std::streamsize(bytes.size())); });
  });
}

}  // namespace

void bind_chart_objects(py::module_& m) {
  py::class_<FigureHandle>(m, "Figure", doc::Figure)
      .def(py::init([](double width, double height) {
             return FigureHandle{std::make_shared<chart::Figure>(width, height)};
           }),
           "width"_a, "height"_a, doc::Figure_init)
      .def(
          "subplots",
          [](FigureHandle& f, int rows, double hspace) {
            // New panels would replace the old ones, which Axes objects may still hold.
            if (!f.figure->describe().empty()) throw py::value_error("the figure has its panels already");
            return axes_objects(f.figure, f.figure->subplots(rows, hspace));
          },
          "rows"_a, "hspace"_a = 0.5, doc::Figure_subplots)
      .def("save", &save_figure, "path"_a, "dpi"_a = 100.0, "format"_a = py::none(), doc::Figure_save)
      .def(
          "savefig",
          [](const FigureHandle& f, py::object fname, double dpi, py::object format, py::object bbox_inches) {
            if (!bbox_inches.is_none() &&
                !(py::isinstance<py::str>(bbox_inches) && bbox_inches.cast<std::string>() == "tight"))
              throw py::value_error("bbox_inches must be None or 'tight': figures are always cropped to their content");
            save_figure(f, std::move(fname), dpi, std::move(format));
          },
          "fname"_a, "dpi"_a = 100.0, "format"_a = py::none(), "bbox_inches"_a = py::none(), doc::Figure_savefig)
      .def(
          "_repr_png_",
          [](const FigureHandle& f) { return py::bytes(without_gil([&] { return f.figure->render("png"); })); },
          "The figure as PNG bytes, for notebooks.")
      .def(
          "_repr_svg_", [](const FigureHandle& f) { return without_gil([&] { return f.figure->render("svg"); }); },
          "The figure as SVG text, for notebooks.")
      .def("__repr__",
           [](const FigureHandle& f) {
             auto [w, h] = f.figure->size_inches();
             std::size_t panels = f.figure->describe().size();
             return "<Figure size " + std::to_string(int(std::lround(w * 100))) + "x" +
                    std::to_string(int(std::lround(h * 100))) + " with " + std::to_string(panels) + " Axes>";
           })
      .def(
          "describe", [](const FigureHandle& f) { return describe_panels(f.figure->describe()); }, doc::Figure_describe)
      .def_property_readonly(
          "last_pixel_size", [](const FigureHandle& f) { return f.figure->last_pixel_size(); },
          doc::Figure_last_pixel_size);

  py::class_<AxesHandle> axes(m, "Axes", doc::Axes);
  bind_axes_marks(axes);
  axes.def_property_readonly(
          "figure", [](const AxesHandle& a) { return FigureHandle{a.figure}; }, "The figure of the panel.")
      .def_property_readonly(
          "index", [](const AxesHandle& a) { return a.panel; }, "The panel's place in its figure, from the top.")
      .def_property_readonly(
          "is_twin", [](const AxesHandle& a) { return a.twin; }, "True for a second y axis of a panel.")
      .def("describe", &describe_axes, doc::Axes_describe)
      .def("__repr__", [](const AxesHandle& a) {
        return std::string("<Axes panel ") + std::to_string(a.panel) + (a.twin ? " (twin y axis)" : "") + ">";
      });
}

}  // namespace tremora::python
