#include "plot_keywords.hpp"

#include <algorithm>
#include <set>

#include "plot_args.hpp"
#include "tremora/text.hpp"

namespace tremora::python {
namespace {

using tsplot::PlotOptions;
using Setter = void (*)(PlotOptions&, py::handle value, const char* name);

template <std::string PlotOptions::*field>
void set_text(PlotOptions& o, py::handle v, const char* name) {
  o.*field = cast_arg<std::string>(v, name, "a str");
}

template <bool PlotOptions::*field>
void set_flag(PlotOptions& o, py::handle v, const char* name) {
  o.*field = cast_arg<bool>(v, name, "a bool");
}

void set_subplots(PlotOptions& o, py::handle v, const char* name) {
  o.number_of_subplots = cast_arg<int>(v, name, "an int");
}

void set_fig_height(PlotOptions& o, py::handle v, const char* name) {
  o.fig_height = cast_arg<double>(v, name, "a number");
}

// Only a list counts as drawing styles by panel; any other value is none.
void set_plot_types(PlotOptions& o, py::handle v, const char* name) {
  if (!py::isinstance<py::list>(v)) {
    o.plot_types.reset();
    return;
  }
  o.plot_types = cast_arg<std::vector<std::string>>(v, name, "a list of str");
}

void set_multiplier(PlotOptions& o, py::handle v, const char* name) { o.std_multiplier = multiplier_arg(v, name); }

void set_annotations(PlotOptions& o, py::handle v, const char* name) { o.annotations = annotations_arg(v, name); }

void set_quakecat_dir(PlotOptions& o, py::handle v, const char* name) {
  if (absent(v)) o.quakecat_dir.reset();
  else o.quakecat_dir = path_arg(v, name);
}

void set_filters(PlotOptions& o, py::handle v, const char* name) { o.quakecat_filters = filters_arg(v, name); }

template <std::optional<geomag::TimeBound> PlotOptions::*field>
void set_bound(PlotOptions& o, py::handle v, const char* name) {
  if (absent(v)) (o.*field).reset();
  else o.*field = time_bound(v, name);
}

template <std::optional<Table> PlotOptions::*field>
void set_table(PlotOptions& o, py::handle v, const char* name) {
  if (absent(v)) (o.*field).reset();
  else o.*field = from_dataframe(v, name);
}

// The Python value of an option as a default argument shows it; options
// that are absent by default show None.
py::object as_python(const std::string& v) { return py::str(v); }
py::object as_python(bool v) { return py::bool_(v); }
py::object as_python(int v) { return py::int_(v); }
py::object as_python(double v) { return py::float_(v); }
py::object as_python(const tsplot::Multiplier& m) {
  return m.whole ? py::object(py::int_(int64_t(m.value))) : py::object(py::float_(m.value));
}
py::object as_python(const tsplot::Annotations& a) {
  return a.empty() ? py::object(py::none()) : py::object(py::ellipsis());
}
template <typename T>
py::object as_python(const std::optional<T>& v) {
  return v ? py::object(py::ellipsis()) : py::object(py::none());
}

using Shown = py::object (*)(const PlotOptions&);

template <auto field>
py::object shown(const PlotOptions& o) {
  return as_python(o.*field);
}

struct Field {
  const char* name;
  Setter set;
  Shown default_value;
};

const Field kFields[] = {
    {"groupby", &set_text<&PlotOptions::groupby>, &shown<&PlotOptions::groupby>},
    {"prefix", &set_text<&PlotOptions::prefix>, &shown<&PlotOptions::prefix>},
    {"set_zero", &set_flag<&PlotOptions::set_zero>, &shown<&PlotOptions::set_zero>},
    {"fig_label", &set_text<&PlotOptions::fig_label>, &shown<&PlotOptions::fig_label>},
    {"number_of_subplots", &set_subplots, &shown<&PlotOptions::number_of_subplots>},
    {"daily_mean_values", &set_flag<&PlotOptions::daily_mean_values>, &shown<&PlotOptions::daily_mean_values>},
    {"invert_y", &set_flag<&PlotOptions::invert_y>, &shown<&PlotOptions::invert_y>},
    {"reindex", &set_flag<&PlotOptions::reindex>, &shown<&PlotOptions::reindex>},
    {"fig_height", &set_fig_height, &shown<&PlotOptions::fig_height>},
    {"rainfall", &set_table<&PlotOptions::rainfall>, &shown<&PlotOptions::rainfall>},
    {"plot_type", &set_text<&PlotOptions::plot_type>, &shown<&PlotOptions::plot_type>},
    {"plot_types", &set_plot_types, &shown<&PlotOptions::plot_types>},
    {"show_mean", &set_flag<&PlotOptions::show_mean>, &shown<&PlotOptions::show_mean>},
    {"show_std", &set_flag<&PlotOptions::show_std>, &shown<&PlotOptions::show_std>},
    {"std_multiplier", &set_multiplier, &shown<&PlotOptions::std_multiplier>},
    {"annotations", &set_annotations, &shown<&PlotOptions::annotations>},
    {"figure_format", &set_text<&PlotOptions::figure_format>, &shown<&PlotOptions::figure_format>},
    {"quakecat_dir", &set_quakecat_dir, &shown<&PlotOptions::quakecat_dir>},
    {"quakecat_filters", &set_filters, &shown<&PlotOptions::quakecat_filters>},
    {"start_time", &set_bound<&PlotOptions::start_time>, &shown<&PlotOptions::start_time>},
    {"end_time", &set_bound<&PlotOptions::end_time>, &shown<&PlotOptions::end_time>},
    {"xlabel", &set_text<&PlotOptions::xlabel>, &shown<&PlotOptions::xlabel>},
    {"show_geomag", &set_flag<&PlotOptions::show_geomag>, &shown<&PlotOptions::show_geomag>},
    {"geomag_data", &set_table<&PlotOptions::geomag_data>, &shown<&PlotOptions::geomag_data>},
    {"time_timezone", &set_text<&PlotOptions::time_timezone>, &shown<&PlotOptions::time_timezone>},
};

using Names = std::vector<std::string>;

const Names kByItems{
    "prefix",      "set_zero",      "fig_label",    "number_of_subplots", "invert_y",   "reindex",
    "fig_height",  "plot_type",     "plot_types",   "show_mean",          "show_std",   "std_multiplier",
    "annotations", "figure_format", "quakecat_dir", "quakecat_filters",   "start_time", "end_time",
    "xlabel",      "show_geomag",   "geomag_data",  "time_timezone"};
const Names kByStations{"prefix",        "set_zero",         "fig_label",    "daily_mean_values", "invert_y",
                        "figure_format", "reindex",          "fig_height",   "rainfall",          "plot_type",
                        "plot_types",    "show_mean",        "show_std",     "std_multiplier",    "annotations",
                        "quakecat_dir",  "quakecat_filters", "start_time",   "end_time",          "xlabel",
                        "show_geomag",   "geomag_data",      "time_timezone"};
const Names kPlot{"groupby", "prefix", "fig_label", "xlabel"};

const Field& field(const std::string& name) {
  return *std::find_if(std::begin(kFields), std::end(kFields), [&](const Field& f) { return name == f.name; });
}

const char* call_name(PlotCall call) {
  switch (call) {
    case PlotCall::Plot: return "plot";
    case PlotCall::ByItems: return "plot_by_items";
    case PlotCall::ByStations: return "plot_by_stations";
  }
  return "plot";
}

const Names& positional_names(PlotCall call) {
  switch (call) {
    case PlotCall::Plot: return kPlot;
    case PlotCall::ByItems: return kByItems;
    case PlotCall::ByStations: return kByStations;
  }
  return kPlot;
}

// The keywords a call takes by name: plot takes those of the layout its
// grouping chooses (every layout option when it chooses none).
Names keyword_names(PlotCall call, const std::string& groupby) {
  if (call != PlotCall::Plot) return positional_names(call);
  Names names = kPlot;
  std::string lower = to_lower_ascii(groupby);
  if (contains(lower, "item")) names.insert(names.end(), kByItems.begin(), kByItems.end());
  else if (contains(lower, "station")) names.insert(names.end(), kByStations.begin(), kByStations.end());
  else
    for (const Field& f : kFields) names.emplace_back(f.name);
  return names;
}

bool has(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

class Assigner {
 public:
  Assigner(PlotCall call, PlotOptions& options) : call_(call), o_(options) {}
  void set(const std::string& name, py::handle value) {
    if (!given_.insert(name).second)
      throw py::type_error(std::string(call_name(call_)) + "() got multiple values for argument '" + name + "'");
    field(name).set(o_, value, name.c_str());
  }

 private:
  PlotCall call_;
  PlotOptions& o_;
  std::set<std::string> given_;
};

}  // namespace

tsplot::Multiplier multiplier_arg(py::handle value, const char* argument) {
  if (py::isinstance<py::int_>(value) || py::hasattr(value, "__index__"))
    return tsplot::Multiplier(cast_arg<int64_t>(value, argument, "a number"));
  return tsplot::Multiplier(cast_arg<double>(value, argument, "a number"));
}

PlotOptions plot_options(PlotCall call, const py::args& args, const py::kwargs& kwargs) {
  PlotOptions o;
  Assigner assign(call, o);
  const Names& positional = positional_names(call);
  if (args.size() > positional.size())
    throw py::type_error(std::string(call_name(call)) + "() takes at most " + std::to_string(positional.size() + 1) +
                         " positional arguments (" + std::to_string(args.size() + 1) + " given)");
  for (std::size_t i = 0; i < args.size(); ++i) assign.set(positional[i], args[i]);
  if (call == PlotCall::Plot && kwargs.contains("groupby")) assign.set("groupby", kwargs["groupby"]);
  Names accepted = keyword_names(call, o.groupby);
  for (auto [key, value] : kwargs) {
    std::string name = py::str(key);
    if (call == PlotCall::Plot && name == "groupby") continue;
    if (has(accepted, name)) assign.set(name, value);
    else o.kwargs[name] = style_value(value, name);
  }
  return o;
}

std::string plot_signature(PlotCall call) {
  const PlotOptions defaults{};
  std::string text = std::string(call_name(call)) + "(ts";
  for (const std::string& name : positional_names(call))
    text += ", " + name + "=" + std::string(py::repr(field(name).default_value(defaults)));
  return text + ", **kwargs)";
}

std::vector<tsplot::Annotation> annotation_list(py::handle value, const std::string& argument) {
  std::vector<tsplot::Annotation> out;
  if (absent(value)) return out;
  if (!py::isinstance<py::list>(value) && !py::isinstance<py::tuple>(value))
    wrong_kind(value, argument.c_str(), "a list of annotation dicts");
  for (py::handle entry : value.cast<py::sequence>()) {
    std::string name = argument + "[" + std::to_string(out.size()) + "]";
    if (!py::isinstance<py::dict>(entry)) wrong_kind(entry, name.c_str(), "a dict");
    auto d = entry.cast<py::dict>();
    for (const char* key : {"text", "x", "y"})
      if (!d.contains(key)) throw py::key_error(key);
    tsplot::Annotation a{.text = cast_arg<std::string>(d["text"], (name + "['text']").c_str(), "a str"),
                         .x = wall_time(d["x"], (name + "['x']").c_str()),
                         .y = cast_arg<double>(d["y"], (name + "['y']").c_str(), "a number")};
    if (d.contains("xytext")) a.xytext = number_pair(d["xytext"], (name + "['xytext']").c_str());
    if (d.contains("textcoords"))
      a.textcoords = cast_arg<std::string>(d["textcoords"], (name + "['textcoords']").c_str(), "a str");
    if (d.contains("arrowprops")) a.arrowprops = style_options(d["arrowprops"], (name + "['arrowprops']").c_str());
    if (d.contains("props")) a.props = style_options(d["props"], (name + "['props']").c_str());
    out.push_back(std::move(a));
  }
  return out;
}

tsplot::Annotations annotations_arg(py::handle value, const char* argument) {
  tsplot::Annotations out;
  if (absent(value)) return out;
  if (!py::isinstance<py::dict>(value)) wrong_kind(value, argument, "a dict {item: {station_point: [dict, ...]}}");
  for (auto [item, by_series] : value.cast<py::dict>()) {
    std::string item_name = std::string(argument) + "[" + std::string(py::repr(item)) + "]";
    if (!py::isinstance<py::dict>(by_series)) wrong_kind(by_series, item_name.c_str(), "a dict");
    auto& entries = out[py::str(item)];
    for (auto [series, list] : by_series.cast<py::dict>())
      entries[py::str(series)] = annotation_list(list, item_name + "[" + std::string(py::repr(series)) + "]");
  }
  return out;
}

}  // namespace tremora::python
