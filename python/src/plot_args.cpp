#include "plot_args.hpp"

#include <string>
#include <vector>

namespace tremora::python {
namespace {

py::object pandas_attr(const char* name) { return py::module_::import("pandas").attr(name); }

bool is_instance(py::handle value, const char* module, const char* type) {
  return py::isinstance(value, py::module_::import(module).attr(type));
}

bool is_truth_value(py::handle value) { return PyBool_Check(value.ptr()) || is_instance(value, "numpy", "bool_"); }

bool is_number(py::handle value) {
  return !py::isinstance<py::str>(value) && !py::isinstance<py::bytes>(value) && PyNumber_Check(value.ptr());
}

// A date-time value as a pandas.Timestamp (pandas.NaT for a missing one).
py::object as_pandas_timestamp(py::handle value) { return pandas_attr("Timestamp")(value); }

bool is_nat(py::handle timestamp) { return timestamp.is(pandas_attr("NaT")); }

// The IANA name of an aware timestamp's zone, or its fixed offset.
std::string zone_of(py::handle timestamp) {
  std::string name = py::str(timestamp.attr("tz"));
  if (is_known_time_zone(name)) return name;
  auto offset = timestamp.attr("utcoffset")().attr("total_seconds")().cast<double>();
  return fixed_offset_zone(int32_t(offset));
}

}  // namespace

void wrong_kind(py::handle value, const char* argument, const char* expected) {
  std::string type = py::str(py::type::handle_of(value).attr("__name__"));
  throw py::type_error(std::string(argument) + " must be " + expected + ", not " + type);
}

bool is_datetime_like(py::handle value) {
  return is_instance(value, "datetime", "date") || is_instance(value, "numpy", "datetime64");
}

Timestamp wall_time(py::handle value, const char* argument) {
  if (py::isinstance<py::str>(value)) return parse_date_text(value.cast<std::string>()).wall;
  if (!is_datetime_like(value)) wrong_kind(value, argument, "a date-time or a date text");
  py::object t = as_pandas_timestamp(value);
  if (is_nat(t)) return Timestamp{};
  if (!t.attr("tz").is_none()) t = t.attr("tz_localize")(py::none());
  return Timestamp{t.attr("value").cast<int64_t>()};
}

geomag::TimeBound time_bound(py::handle value, const char* argument) {
  if (value.is_none()) return Timestamp{};
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (!is_datetime_like(value)) wrong_kind(value, argument, "a date-time or a date text");
  py::object t = as_pandas_timestamp(value);
  if (is_nat(t)) return Timestamp{};
  Timestamp ns{t.attr("value").cast<int64_t>()};
  if (t.attr("tz").is_none()) return ns;
  return geomag::ZonedTime{ns, zone_of(t)};
}

py::object timestamp_object(Timestamp t, const std::string& zone) {
  if (t.is_nat()) return pandas_attr("NaT");
  if (zone.empty()) return pandas_attr("Timestamp")(t.ns);
  return pandas_attr("Timestamp")(t.ns, "tz"_a = "UTC").attr("tz_convert")(zone);
}

Duration duration_arg(py::handle value, const char* argument) {
  if (auto d = duration_of(value)) return *d;
  wrong_kind(value, argument, "a datetime.timedelta or pandas.Timedelta");
}

std::filesystem::path path_arg(py::handle value, const char* argument) {
  if (!py::isinstance<py::str>(value) && !py::hasattr(value, "__fspath__"))
    wrong_kind(value, argument, "a str or os.PathLike");
  py::object text = py::module_::import("os").attr("fsdecode")(value);
  return std::filesystem::path(text.cast<std::string>());
}

chart::StyleValue style_value(py::handle value, const std::string& option) {
  if (is_truth_value(value)) return value.cast<bool>();
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (is_number(value)) {
    try {
      return py::float_(py::reinterpret_borrow<py::object>(value)).cast<double>();
    } catch (const py::error_already_set&) {
    }
  }
  wrong_kind(value, ("option '" + option + "'").c_str(), "a number, a str or a bool");
}

chart::StyleOptions style_options(py::handle value, const char* argument) {
  chart::StyleOptions out;
  if (value.is_none()) return out;
  if (!py::isinstance<py::dict>(value)) wrong_kind(value, argument, "a dict of drawing options");
  for (auto [key, v] : value.cast<py::dict>()) {
    if (!py::isinstance<py::str>(key)) wrong_kind(key, (std::string(argument) + " key").c_str(), "a str");
    std::string name = key.cast<std::string>();
    out[name] = style_value(v, name);
  }
  return out;
}

py::object style_value_object(const chart::StyleValue& value) {
  return std::visit([](const auto& v) -> py::object { return py::cast(v); }, value);
}

std::pair<double, double> number_pair(py::handle value, const char* argument) {
  if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value))
    wrong_kind(value, argument, "a pair of numbers");
  auto pair = value.cast<py::sequence>();
  if (pair.size() != 2)
    throw py::value_error(std::string(argument) + " must be a pair of numbers, got " + std::to_string(pair.size()) +
                          " values");
  for (py::handle member : pair)
    if (!is_number(member)) wrong_kind(member, (std::string(argument) + " members").c_str(), "numbers");
  return {py::float_(pair[0]).cast<double>(), py::float_(pair[1]).cast<double>()};
}

quakecat::Station station_arg(py::handle value, const char* argument) {
  auto [latitude, longitude] = number_pair(value, argument);
  return {latitude, longitude};
}

std::optional<quakecat::Filters> filters_arg(py::handle value, const char* argument) {
  if (value.is_none()) return std::nullopt;
  auto one = [&](py::handle pair, const std::string& name) {
    auto [km, magnitude] = number_pair(pair, name.c_str());
    return quakecat::Filter{km, magnitude};
  };
  if (!py::isinstance<py::list>(value)) return quakecat::Filters{one(value, argument)};
  std::vector<quakecat::Filter> list;
  for (py::handle pair : value.cast<py::list>())
    list.push_back(one(pair, std::string(argument) + "[" + std::to_string(list.size()) + "]"));
  return quakecat::Filters{std::move(list)};
}

}  // namespace tremora::python
