// tremora.tsplot: the time-series plotter. The layouts take the arguments
// of their own order and every further keyword as a drawing option; they
// return (Figure, [Axes, ...]) of the last figure saved, or (None, None).
#include "chart_objects.hpp"
#include "connection.hpp"
#include "doc_tsplot.hpp"
#include "plot_args.hpp"
#include "plot_keywords.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::python {
namespace {

using tsplot::TSPlotter;

// The stats_style keys in the order of the constructor's arguments.
const char* const kStatsStyleKeys[] = {"mean_color", "std_color", "mean_linestyle", "std_linestyle",
                                       "mean_alpha", "std_alpha", "mean_linewidth", "std_linewidth"};

std::shared_ptr<db::Connection> connection_arg(py::handle conn) {
  if (conn.is_none()) return nullptr;
  if (!py::isinstance<ConnectionHandle>(conn)) wrong_kind(conn, "conn", "a tremora.Connection or None");
  return conn.cast<const ConnectionHandle&>().conn;
}

std::unique_ptr<TSPlotter> make_plotter(py::handle conn, tsplot::PlotterOptions options, py::handle metadata_dir) {
  std::shared_ptr<db::Connection> connection = connection_arg(conn);
  if (!metadata_dir.is_none()) options.metadata_dir = path_arg(metadata_dir, "metadata_dir").string();
  return without_gil([&] { return std::make_unique<TSPlotter>(connection, options); });
}

py::dict stats_style_dict(const TSPlotter& p) {
  py::dict out;
  for (const char* key : kStatsStyleKeys) out[key] = style_value_object(p.stats_style.at(key));
  return out;
}

std::optional<Table> optional_table(py::handle value, const char* argument) {
  if (value.is_none()) return std::nullopt;
  return from_dataframe(value, argument);
}

std::optional<geomag::TimeBound> optional_bound(py::handle value, const char* argument) {
  if (value.is_none()) return std::nullopt;
  return time_bound(value, argument);
}

// _process_data's resample: None, False and "" are none; a text is kept;
// any other true value bins nothing.
std::optional<std::string> resample_arg(py::handle value) {
  if (value.is_none() || !py::bool_(py::reinterpret_borrow<py::object>(value))) return std::nullopt;
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  return std::string(py::str(value));
}

tsplot::Bounds bounds_arg(py::handle value) {
  tsplot::Bounds out;
  if (!py::isinstance<py::sequence>(value) || py::isinstance<py::str>(value))
    wrong_kind(value, "bounds", "a list of (first, last) time pairs");
  for (py::handle pair : value.cast<py::sequence>()) {
    auto times = cast_arg<std::vector<py::object>>(pair, "bounds", "a list of (first, last) time pairs");
    if (times.size() != 2) throw py::value_error("bounds must hold (first, last) pairs");
    out.emplace_back(wall_time(times[0], "bounds"), wall_time(times[1], "bounds"));
  }
  return out;
}

std::vector<chart::Axes*> axes_arg(const std::vector<AxesHandle>& handles) {
  std::vector<chart::Axes*> out;
  for (const auto& h : handles) out.push_back(h.axes);
  return out;
}

using Layout = tsplot::PlotResult (TSPlotter::*)(const Table&, const tsplot::PlotOptions&);

// A layout: the table, then the call's positions and keywords. Its help
// starts with the signature Python callers see, positions and defaults
// included, instead of pybind11's (ts, *args, **kwargs).
template <Layout layout>
void bind_layout(py::class_<TSPlotter>& c, const char* name, PlotCall call, const char* summary) {
  py::options options;
  options.disable_function_signatures();
  c.def(
      name,
      [call](py::object self, py::object ts, py::args args, py::kwargs kwargs) {
        TSPlotter& p = self.cast<TSPlotter&>();
        Table table = from_dataframe(ts, "ts");
        tsplot::PlotOptions o = plot_options(call, args, kwargs);
        o.keep_figures = true;
        tsplot::PlotResult r = without_gil([&] { return (p.*layout)(table, o); });
        py::list saved;
        for (const auto& s : r.saved) saved.append(figure_and_axes(s.figure, s.axes));
        self.attr("__dict__")["_figures"] = saved;
        return figure_and_axes(r.figure, r.axes);
      },
      "ts"_a, (plot_signature(call) + "\n\n" + summary).c_str());
}

void bind_layouts(py::class_<TSPlotter>& c) {
  bind_layout<&TSPlotter::plot>(c, "plot", PlotCall::Plot, doc::TSPlotter_plot);
  bind_layout<&TSPlotter::plot_by_items>(c, "plot_by_items", PlotCall::ByItems, doc::TSPlotter_plot_by_items);
  bind_layout<&TSPlotter::plot_by_stations>(c, "plot_by_stations", PlotCall::ByStations,
                                            doc::TSPlotter_plot_by_stations);
}

void bind_series_steps(py::class_<TSPlotter>& c) {
  c.def(
      "_process_data",
      [](const TSPlotter& p, py::object ts_tmp, bool set_zero, bool reindex, py::object resample) {
        Table table = from_dataframe(ts_tmp, "ts_tmp");
        std::optional<std::string> bins = resample_arg(resample);
        auto [prepared, offset] = without_gil([&] { return p._process_data(table, set_zero, reindex, bins); });
        return py::make_tuple(prepared, offset);
      },
      "ts_tmp"_a, "set_zero"_a = true, "reindex"_a = false, "resample"_a = py::none(),
      "A copy of one series, binned per day when resample is 'D' (median) or contains 'sum' (sum),\n"
      "centred on its mid-range when set_zero, on a regular grid when reindex; returns (table, offset).");
  c.def(
      "_get_plot_type",
      [](const TSPlotter& p, std::size_t index, const std::string& plot_type, py::object plot_types) {
        std::optional<std::vector<std::string>> types;
        if (py::isinstance<py::list>(plot_types))
          types = cast_arg<std::vector<std::string>>(plot_types, "plot_types", "a list of str");
        return p._get_plot_type(index, plot_type, types);
      },
      "index"_a, "plot_type"_a, "plot_types"_a = py::none(),
      "plot_types[index] when plot_types is a list that long, else plot_type.");
  c.def(
      "_sanitize_plot_kwargs",
      [](const TSPlotter& p, py::object kwargs) {
        chart::StyleOptions options = p._sanitize_plot_kwargs(style_options(kwargs, "kwargs"));
        py::dict out;
        for (const auto& [name, value] : options) out[name.c_str()] = style_value_object(value);
        return out;
      },
      "kwargs"_a, "The drawing options without 'remove_peaks_steps' (a warning is logged when present).");
}

void bind_panel_steps(py::class_<TSPlotter>& c) {
  c.def(
      "_setup_axis",
      [](const TSPlotter& p, const AxesHandle& ax, const std::string& title, py::object unit,
         std::optional<std::vector<double>> y_ticks, bool invert_y, const std::string& xlabel) {
        std::string unit_text = unit.is_none() ? "" : cast_arg<std::string>(unit, "unit", "a str or None");
        p._setup_axis(*ax.axes, title, unit_text, y_ticks.value_or(std::vector<double>{}), invert_y, xlabel);
      },
      "ax"_a, "title"_a, "unit"_a = py::none(), "y_ticks"_a = py::none(), "invert_y"_a = false, "xlabel"_a = "",
      "Title, unit label (ms, 10-10 and 10-9 rewritten), fixed y ticks, inversion and x label of a panel.");
  c.def(
      "_add_statistics",
      [](const TSPlotter& p, const AxesHandle& ax, py::object data, bool show_mean, bool show_std,
         py::object multiplier) {
        Table table = from_dataframe(data, "data");
        p._add_statistics(*ax.axes, table, show_mean, show_std, multiplier_arg(multiplier, "multiplier"));
      },
      "ax"_a, "data"_a, "show_mean"_a = false, "show_std"_a = false, "multiplier"_a = 2.0,
      "The mean line ('Mean') and the band lines ('+2.0σ', '-2.0σ') of the OBSVALUE of data.");
  c.def(
      "_add_annotations",
      [](const TSPlotter& p, const AxesHandle& ax, py::object annotations) {
        p._add_annotations(*ax.axes, annotation_list(annotations, "annotations"));
      },
      "ax"_a, "annotations"_a = py::none(),
      "Text annotations: dicts with text, x (a time), y and optionally xytext, textcoords, arrowprops, props.");
  c.def(
      "_save_figure",
      [](const TSPlotter& p, const FigureHandle& fig, const std::string& filename, const std::string& format,
         double dpi) { without_gil([&] { p._save_figure(*fig.figure, filename, format, dpi); }); },
      "fig"_a, "filename"_a, "format"_a = "png", "dpi"_a = 300.0,
      "Writes ./figures/<filename>.<format> at dpi, cropped to what was drawn.");
}

void bind_overlay_steps(py::class_<TSPlotter>& c) {
  c.def(
      "_prepare_geomag",
      [](const TSPlotter& p, py::object ts, py::object geomag_data, const std::string& time_timezone,
         py::object start_time, py::object end_time) {
        Table table = from_dataframe(ts, "ts");
        std::optional<Table> kp = optional_table(geomag_data, "geomag_data");
        auto start = optional_bound(start_time, "start_time"), end = optional_bound(end_time, "end_time");
        tsplot::PreparedGeomag r = without_gil([&] { return p._prepare_geomag(table, kp, time_timezone, start, end); });
        return py::make_tuple(r.ts, r.kp ? py::cast(*r.kp) : py::none(), r.error ? py::cast(*r.error) : py::none());
      },
      "ts"_a, "geomag_data"_a, "time_timezone"_a, "start_time"_a, "end_time"_a,
      "(series table cut to the range on the chart's clock, Kp table or None, error text or None).");
  c.def(
      "_draw_geomag",
      [](const TSPlotter& p, const std::vector<AxesHandle>& axes, py::object indices, std::optional<std::string> error,
         py::object bounds, const std::string& time_timezone, const std::string& xlabel) {
        std::optional<Table> kp = optional_table(indices, "indices");
        tsplot::Bounds spans = bounds_arg(bounds);
        p._draw_geomag(axes_arg(axes), kp, error, spans, time_timezone, xlabel);
      },
      "axes"_a, "indices"_a, "error"_a, "bounds"_a, "time_timezone"_a, "xlabel"_a,
      "Draws the Kp panel (the last of axes) for the figure range of bounds, [(first, last), ...].");
  c.def(
      "_add_secondary_data",
      [](const TSPlotter& p, const AxesHandle& ax, py::object secondary_data, const std::string& color,
         const std::string& marker, const std::string& label, double alpha, double size_multiplier) -> py::object {
        std::optional<Table> events = optional_table(secondary_data, "secondary_data");
        chart::Axes* twin = p._add_secondary_data(*ax.axes, events, color, marker, label, alpha, size_multiplier);
        if (!twin) return py::none();
        return py::cast(AxesHandle{ax.figure, twin, ax.panel, true});
      },
      "ax"_a, "secondary_data"_a, "color"_a = "red", "marker"_a = "o", "label"_a = "地震", "alpha"_a = 0.7,
      "size_multiplier"_a = 5.0,
      "Earthquakes (distance, magnitude, size, text) on a second y axis; returns it, or None.");
}

}  // namespace

void bind_tsplot(py::module_& m) {
  py::class_<TSPlotter> c(m, "TSPlotter", doc::TSPlotter, py::dynamic_attr());
  c.def_property_readonly(
       "figures", [](py::object self) -> py::list { return self.attr("__dict__").attr("get")("_figures", py::list()); },
       "Every figure the last layout call saved, in order, as (Figure, [Axes, ...]) pairs.")
      .def("__repr__", [](const TSPlotter& p) {
        return "<TSPlotter of " + std::to_string(p.stations_table.num_rows()) + " stations, " +
               std::to_string(p.points_table.num_rows()) + " points, " + std::to_string(p.items_table.num_rows()) +
               " items" + (p.conn ? ", connected>" : ", no connection>");
      });
  c.def(py::init([](py::object conn, std::string mean_color, std::string std_color, std::string mean_linestyle,
                    std::string std_linestyle, double mean_alpha, double std_alpha, double mean_linewidth,
                    double std_linewidth, py::object metadata_dir, bool refresh_metadata) {
          return make_plotter(
              conn,
              {std::move(mean_color), std::move(std_color), std::move(mean_linestyle), std::move(std_linestyle),
               mean_alpha, std_alpha, mean_linewidth, std_linewidth, "", refresh_metadata},
              metadata_dir);
        }),
        "conn"_a = py::none(), "mean_color"_a = "r", "std_color"_a = "gray", "mean_linestyle"_a = "--",
        "std_linestyle"_a = ":", "mean_alpha"_a = 0.7, "std_alpha"_a = 0.5, "mean_linewidth"_a = 1.0,
        "std_linewidth"_a = 1.0, "metadata_dir"_a = py::none(), "refresh_metadata"_a = false, doc::TSPlotter);
  c.def_property_readonly(
      "conn", [](const TSPlotter& p) -> py::object { return p.conn ? py::cast(ConnectionHandle{p.conn}) : py::none(); },
      doc::TSPlotter_conn);
  c.def_readwrite("stations_table", &TSPlotter::stations_table, doc::TSPlotter_stations_table);
  c.def_readwrite("points_table", &TSPlotter::points_table, doc::TSPlotter_points_table);
  c.def_readwrite("items_table", &TSPlotter::items_table, doc::TSPlotter_items_table);
  c.def_property_readonly("stats_style", &stats_style_dict, doc::TSPlotter_stats_style);
  c.def(
      "set_stats_style",
      [](TSPlotter& p, py::kwargs options) {
        tsplot::NamedOptions named;
        for (auto [key, value] : options) {
          std::string name = py::str(key);
          named.emplace_back(name, style_value(value, name));
        }
        p.set_stats_style(named);
      },
      doc::TSPlotter_set_stats_style);
  bind_layouts(c);
  bind_series_steps(c);
  bind_panel_steps(c);
  bind_overlay_steps(c);
}

}  // namespace tremora::python
