// tremora.yearplot: the annual comparison chart. The drawing runs without
// the GIL; a Python tick formatter takes the GIL for each call.
#include "chart_objects.hpp"
#include "doc_yearplot.hpp"
#include "plot_args.hpp"
#include "tremora/yearplot.hpp"

namespace tremora::python {
namespace {

// A Python callable that C++ code may copy, call and drop on any thread
// without the GIL: the one reference to it is released with the GIL held,
// and every call takes the GIL.
class PythonTickFormat {
 public:
  explicit PythonTickFormat(py::object callable)
      : callable_(new py::object(std::move(callable)), [](py::object* f) {
          py::gil_scoped_acquire gil;
          delete f;
        }) {}

  std::string operator()(double value, int position) const {
    py::gil_scoped_acquire gil;
    return py::str((*callable_)(value, position));
  }

 private:
  std::shared_ptr<py::object> callable_;
};

std::function<std::string(double, int)> tick_format_arg(py::handle value) {
  if (value.is_none() || (PyBool_Check(value.ptr()) && !value.cast<bool>())) return nullptr;
  if (!PyCallable_Check(value.ptr())) wrong_kind(value, "y_axis_format", "a callable (value, position) -> str");
  return PythonTickFormat(py::reinterpret_borrow<py::object>(value));
}

// The column the chart adds to the caller's table, added to the caller's
// DataFrame too.
void add_normalized_dates(py::handle df, const Table& drawn) {
  if (py::bool_(df.attr("columns").attr("__contains__")("datetime_norm")) || !drawn.has_column("datetime_norm")) return;
  df.attr("__setitem__")("datetime_norm", column_values(drawn.column("datetime_norm")));
}

}  // namespace

void bind_yearplot(py::module_& m) {
  const yearplot::AnnualOptions d{};
  m.def(
      "plot_annual_comparison",
      [](py::object df, py::object output_file, bool subtract_mean, bool invert_y, const std::string& y_label,
         double dpi, py::object figsize, bool grid, py::object y_axis_format, const std::string& station_name,
         const std::string& direction, int64_t rolling_window) {
        Table table = from_dataframe(df, "df");
        // A file name that is no text nor path is the save's failure, logged
        // as every failed save is, not an error of the call.
        std::string file = py::isinstance<py::str>(output_file) || py::hasattr(output_file, "__fspath__")
                               ? path_arg(output_file, "output_file").string()
                               : std::string(py::str(output_file));
        // A path object drops the "./" of "./figures/x.png": one that starts
        // in the folder figures means that folder, as the text would.
        if (!py::isinstance<py::str>(output_file) && file.rfind("figures/", 0) == 0) file.insert(0, "./");
        yearplot::AnnualOptions o{.output_file = file,
                                  .subtract_mean = subtract_mean,
                                  .invert_y = invert_y,
                                  .y_label = y_label,
                                  .dpi = dpi,
                                  .figsize = number_pair(figsize, "figsize"),
                                  .grid = grid,
                                  .y_axis_format = tick_format_arg(y_axis_format),
                                  .station_name = station_name,
                                  .direction = direction,
                                  .rolling_window = rolling_window};
        yearplot::AnnualChart chart = without_gil([&] { return yearplot::plot_annual_comparison(table, o); });
        add_normalized_dates(df, table);
        return py::make_tuple(FigureHandle{chart.figure}, AxesHandle{chart.figure, chart.axes, 0, false});
      },
      "df"_a, "output_file"_a = d.output_file, "subtract_mean"_a = d.subtract_mean, "invert_y"_a = d.invert_y,
      "y_label"_a = d.y_label, "dpi"_a = d.dpi, "figsize"_a = py::make_tuple(d.figsize.first, d.figsize.second),
      "grid"_a = d.grid, "y_axis_format"_a = py::none(), "station_name"_a = d.station_name, "direction"_a = d.direction,
      "rolling_window"_a = d.rolling_window, doc::plot_annual_comparison);
}

}  // namespace tremora::python
