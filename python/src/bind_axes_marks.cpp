// Marks a script adds to a panel, under matplotlib's method names and
// keyword arguments: plot, scatter, axhline, axvline, axvspan,
// fill_between, text, annotate, set_title, set_xlabel, set_ylabel, legend.
// Times (datetime, pandas.Timestamp, numpy.datetime64 and arrays of them)
// become days since 1970-01-01, the x unit of the plotters' panels, as
// matplotlib's date2num counts them; aware times give their wall clock.
#include <pybind11/numpy.h>

#include <set>
#include <string>
#include <vector>

#include "chart_objects.hpp"
#include "doc_plotkit.hpp"
#include "plot_args.hpp"

namespace tremora::python {
namespace {

constexpr double kNanosPerDay = 86400e9;

bool is_time_array(py::handle values) {
  py::module_ pd = py::module_::import("pandas");
  if (py::isinstance(values, pd.attr("DatetimeIndex"))) return true;
  if (py::hasattr(values, "dtype")) {
    std::string kind = py::str(values.attr("dtype").attr("kind"));
    if (kind == "M") return true;
    return py::hasattr(values.attr("dtype"), "tz");  // a Series of aware times
  }
  if (py::isinstance<py::sequence>(values) && !py::isinstance<py::str>(values) && py::len(values) > 0)
    return is_datetime_like(values[py::int_(0)]);
  return false;
}

// Numbers as doubles; times as days since 1970-01-01 on their wall clock
// (NaT gives NaN).
std::vector<double> coordinates(py::handle values, const char* argument) {
  py::module_ pd = py::module_::import("pandas");
  py::module_ np = py::module_::import("numpy");
  py::object numbers;
  if (is_time_array(values)) {
    py::object times = pd.attr("DatetimeIndex")(values);
    if (!times.attr("tz").is_none()) times = times.attr("tz_localize")(py::none());
    numbers = np.attr("where")(times.attr("isna")(), np.attr("nan"),
                               times.attr("asi8").attr("astype")("float64") / py::float_(kNanosPerDay));
  } else {
    try {
      numbers = np.attr("asarray")(values, "dtype"_a = "float64");
    } catch (const py::error_already_set&) {
      wrong_kind(values, argument, "numbers or date-times");
    }
  }
  auto array = numbers.attr("ravel")().cast<py::array_t<double, py::array::c_style | py::array::forcecast>>();
  return std::vector<double>(array.data(), array.data() + array.size());
}

double coordinate(py::handle value, const char* argument) {
  if (is_datetime_like(value)) return coordinates(py::make_tuple(value), argument).front();
  return cast_arg<double>(value, argument, "a number or a date-time");
}

// x values of a panel: times turn its x axis into a date axis.
std::vector<double> x_coordinates(const AxesHandle& a, py::handle values, const char* argument) {
  if (is_time_array(values)) a.axes->set_date_axis();
  return coordinates(values, argument);
}

double x_coordinate(const AxesHandle& a, py::handle value, const char* argument) {
  if (is_datetime_like(value)) a.axes->set_date_axis();
  return coordinate(value, argument);
}

// matplotlib's short names of drawing options.
std::string long_name(const std::string& key) {
  static const std::map<std::string, std::string> aliases{
      {"c", "color"}, {"lw", "linewidth"}, {"ls", "linestyle"}, {"ms", "markersize"}, {"ec", "edgecolor"}};
  auto found = aliases.find(key);
  return found == aliases.end() ? key : found->second;
}

chart::StyleOptions options_of(const py::kwargs& kwargs) {
  chart::StyleOptions out;
  for (auto [key, value] : kwargs) {
    std::string name = long_name(py::str(key));
    if (!value.is_none()) out[name] = style_value(value, name);
  }
  return out;
}

[[noreturn]] void unknown_options(const char* method, const std::vector<std::string>& names) {
  std::string text = std::string(method) + "() got unexpected keyword argument";
  text.append(names.size() > 1 ? "s " : " ");
  for (std::size_t i = 0; i < names.size(); ++i) text.append(i ? ", '" : "'").append(names[i]).append("'");
  throw py::type_error(text);
}

chart::Style style_of(const py::kwargs& kwargs, const char* method) {
  chart::Style style;
  std::vector<std::string> unknown = chart::apply_style_options(style, options_of(kwargs));
  if (!unknown.empty()) unknown_options(method, unknown);
  return style;
}

chart::TextStyle text_style_of(const py::kwargs& kwargs, double fontsize, const char* method) {
  chart::TextStyle style{.size = fontsize};
  std::vector<std::string> unknown = chart::apply_text_options(style, options_of(kwargs));
  if (!unknown.empty()) unknown_options(method, unknown);
  return style;
}

// A matplotlib format string such as "r--", "o" or "k:": colour, marker and
// line style, in any order.
void apply_format(chart::Style& style, const std::string& fmt) {
  static const std::set<char> colors{'b', 'g', 'r', 'c', 'm', 'y', 'k', 'w'};
  static const std::string markers = "o.,s^v<>Ddph*+x|_";
  bool marker = false, line = false;
  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char ch = fmt[i];
    if (fmt.compare(i, 2, "--") == 0 || fmt.compare(i, 2, "-.") == 0) {
      style.linestyle = fmt[i + 1] == '-' ? chart::LineStyle::Dashed : chart::LineStyle::DashDot;
      line = true, ++i;
    } else if (ch == '-' || ch == ':') {
      style.linestyle = ch == '-' ? chart::LineStyle::Solid : chart::LineStyle::Dotted;
      line = true;
    } else if (colors.count(ch)) {
      style.color = chart::parse_color(std::string(1, ch));
    } else if (markers.find(ch) != std::string::npos) {
      style.marker = std::string(1, ch);
      marker = true;
    } else {
      throw py::value_error("plot: '" + fmt + "' is not a format string (colour, marker, line style)");
    }
  }
  if (marker && !line) style.linestyle = chart::LineStyle::None;
}

void plot(const AxesHandle& a, const py::args& args, const py::kwargs& kwargs) {
  std::vector<py::object> parts;
  for (py::handle part : args) parts.push_back(py::reinterpret_borrow<py::object>(part));
  std::string fmt;
  if (!parts.empty() && py::isinstance<py::str>(parts.back())) fmt = parts.back().cast<std::string>(), parts.pop_back();
  if (parts.empty() || parts.size() > 2) throw py::type_error("plot() takes ([x], y, [fmt], **kwargs)");
  std::vector<double> y = coordinates(parts.back(), "y");
  std::vector<double> x;
  if (parts.size() == 2) x = x_coordinates(a, parts.front(), "x");
  else
    for (std::size_t i = 0; i < y.size(); ++i) x.push_back(double(i));
  chart::Style style = style_of(kwargs, "plot");
  if (!fmt.empty()) apply_format(style, fmt);
  a.axes->plot(std::move(x), std::move(y), style);
}

void scatter(const AxesHandle& a, const py::object& x, const py::object& y, const py::object& s, const py::object& c,
             const py::kwargs& kwargs) {
  chart::Style style = style_of(kwargs, "scatter");
  if (!c.is_none()) style.color = chart::parse_color(cast_arg<std::string>(c, "c", "a colour"));
  std::vector<double> areas = s.is_none() ? std::vector<double>{36} : coordinates(s, "s");
  a.axes->scatter(x_coordinates(a, x, "x"), coordinates(y, "y"), std::move(areas), style);
}

void text(const AxesHandle& a, const py::object& x, const py::object& y, const std::string& s, double fontsize,
          const std::string& ha, const std::string& va, const std::string& transform, const py::kwargs& kwargs) {
  if (transform != "data" && transform != "axes")
    throw py::value_error("text: transform must be ax.transData or ax.transAxes, not '" + transform + "'");
  a.axes->text(transform == "axes" ? coordinate(x, "x") : x_coordinate(a, x, "x"), coordinate(y, "y"), s,
               text_style_of(kwargs, fontsize, "text"), ha, va, transform == "axes");
}

void annotate(const AxesHandle& a, const std::string& text, const py::object& xy, const py::object& xytext,
              const std::string& textcoords, const py::object& arrowprops, double fontsize, const py::kwargs& kwargs) {
  auto point = py::reinterpret_borrow<py::sequence>(xy);
  if (py::len(point) != 2) throw py::value_error("annotate: xy must be a pair (x, y)");
  double x = x_coordinate(a, point[0], "xy"), y = coordinate(point[1], "xy");
  chart::TextPlacement at{x, y, chart::TextCoords::Data};
  if (!xytext.is_none()) {
    auto place = py::reinterpret_borrow<py::sequence>(xytext);
    if (py::len(place) != 2) throw py::value_error("annotate: xytext must be a pair");
    chart::TextCoords coords = chart::text_coords_of(textcoords);
    bool in_data = coords == chart::TextCoords::Data;
    at = {in_data ? coordinate(place[0], "xytext") : cast_arg<double>(place[0], "xytext", "a number"),
          in_data ? coordinate(place[1], "xytext") : cast_arg<double>(place[1], "xytext", "a number"), coords};
  }
  std::optional<chart::Arrow> arrow;
  if (!arrowprops.is_none()) {
    arrow.emplace();
    std::vector<std::string> unknown = chart::apply_arrow_options(*arrow, style_options(arrowprops, "arrowprops"));
    if (!unknown.empty()) unknown_options("annotate", unknown);
  }
  a.axes->annotate(text, x, y, at, text_style_of(kwargs, fontsize, "annotate"), arrow);
}

// set_title, set_xlabel and set_ylabel: a text, its size and pad, and
// text options.
using LabelSetter = void (chart::Axes::*)(const std::string&, const chart::TextStyle&, double);
template <LabelSetter set>
auto label_setter(const char* method) {
  return [method](const AxesHandle& a, const std::string& label, double fontsize, double pad, const py::kwargs& kw) {
    (a.axes->*set)(label, text_style_of(kw, fontsize, method), pad);
  };
}

}  // namespace

void bind_axes_marks(py::class_<AxesHandle>& axes) {
  axes.def("plot", &plot, doc::Axes_plot)
      .def("scatter", &scatter, "x"_a, "y"_a, "s"_a = py::none(), "c"_a = py::none(), doc::Axes_scatter)
      .def(
          "axhline",
          [](const AxesHandle& a, double y, const py::kwargs& kw) { a.axes->axhline(y, style_of(kw, "axhline")); },
          "y"_a = 0.0, doc::Axes_axhline)
      .def(
          "axvline",
          [](const AxesHandle& a, const py::object& x, const py::kwargs& kw) {
            a.axes->axvline(x_coordinate(a, x, "x"), style_of(kw, "axvline"));
          },
          "x"_a = 0.0, doc::Axes_axvline)
      .def(
          "axvspan",
          [](const AxesHandle& a, const py::object& xmin, const py::object& xmax, const py::kwargs& kw) {
            a.axes->axvspan(x_coordinate(a, xmin, "xmin"), x_coordinate(a, xmax, "xmax"), style_of(kw, "axvspan"));
          },
          "xmin"_a, "xmax"_a, doc::Axes_axvspan)
      .def(
          "fill_between",
          [](const AxesHandle& a, const py::object& x, const py::object& y1, double y2, const py::kwargs& kw) {
            a.axes->fill_between(x_coordinates(a, x, "x"), coordinates(y1, "y1"), y2, style_of(kw, "fill_between"));
          },
          "x"_a, "y1"_a, "y2"_a = 0.0, doc::Axes_fill_between)
      .def("text", &text, "x"_a, "y"_a, "s"_a, "fontsize"_a = 12.0, "ha"_a = "left", "va"_a = "baseline",
           "transform"_a = "data", doc::Axes_text)
      .def("annotate", &annotate, "text"_a, "xy"_a, "xytext"_a = py::none(), "textcoords"_a = "data",
           "arrowprops"_a = py::none(), "fontsize"_a = 12.0, doc::Axes_annotate)
      .def("set_title", label_setter<&chart::Axes::set_title>("set_title"), "label"_a, "fontsize"_a = 12.0,
           "pad"_a = 6.0, doc::Axes_set_title)
      .def("set_xlabel", label_setter<&chart::Axes::set_xlabel>("set_xlabel"), "xlabel"_a, "fontsize"_a = 12.0,
           "labelpad"_a = 4.0, doc::Axes_set_xlabel)
      .def("set_ylabel", label_setter<&chart::Axes::set_ylabel>("set_ylabel"), "ylabel"_a, "fontsize"_a = 12.0,
           "labelpad"_a = 4.0, doc::Axes_set_ylabel)
      .def(
          "legend",
          [](const AxesHandle& a, std::string loc, const std::string& title, double framealpha, double fontsize) {
            // "best" is placed at the upper left: there is no search for the emptiest corner.
            a.axes->legend({.size = fontsize}, title, framealpha, loc == "best" ? "upper left" : loc);
          },
          "loc"_a = "best", "title"_a = "", "framealpha"_a = 0.8, "fontsize"_a = 9.0, doc::Axes_legend)
      .def(
          "set_xlim",
          [](const AxesHandle& a, const py::object& left, const py::object& right) {
            a.axes->set_xlim(x_coordinate(a, left, "left"), x_coordinate(a, right, "right"));
          },
          "left"_a, "right"_a, doc::Axes_set_xlim)
      .def(
          "set_ylim", [](const AxesHandle& a, double bottom, double top) { a.axes->set_ylim(bottom, top); }, "bottom"_a,
          "top"_a, doc::Axes_set_ylim)
      .def(
          "grid",
          [](const AxesHandle& a, bool visible, double alpha) {
            a.axes->grid(visible, chart::LineStyle::Solid, alpha);
          },
          "visible"_a = true, "alpha"_a = 1.0, doc::Axes_grid)
      .def(
          "invert_yaxis", [](const AxesHandle& a) { a.axes->invert_yaxis(); }, doc::Axes_invert_yaxis)
      .def_property_readonly_static(
          "transData", [](py::object) { return "data"; }, "For text(transform=...): x and y in data coordinates.")
      .def_property_readonly_static(
          "transAxes", [](py::object) { return "axes"; },
          "For text(transform=...): x and y as fractions of the panel.");
}

}  // namespace tremora::python
