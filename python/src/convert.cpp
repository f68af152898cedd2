// Tables to DataFrames and back, moving numbers and times as numpy arrays.
#include "convert.hpp"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "tremora/errors.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::python {

using namespace pybind11::literals;

namespace {

py::module_ pandas() { return py::module_::import("pandas"); }
py::module_ numpy() { return py::module_::import("numpy"); }

template <typename T>
py::array_t<T> array_of(const std::vector<T>& values) {
  py::array_t<T> out(static_cast<py::ssize_t>(values.size()));
  if (!values.empty()) std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(T));
  return out;
}

// An array over the values themselves, which the array then owns (no copy).
template <typename T>
py::array_t<T> array_taking(std::vector<T>&& values) {
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(static_cast<py::ssize_t>(owned->size()), owned->data(), owner);
}

// The values of a column, taken from it when it is about to go.
template <typename T>
py::array_t<T> array_from(std::vector<T>& values, bool take) {
  return take ? array_taking(std::move(values)) : array_of(values);
}

// An object array of the column's texts (str, or bytes for binary), None
// where missing.
py::array text_objects(const Column& c) {
  std::size_t n = c.size();
  py::array out(py::dtype("O"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
  auto** cells = static_cast<PyObject**>(out.mutable_data());
  bool binary = c.type() == DataType::Binary;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* v;
    if (c.is_null(i)) {
      v = Py_None;
      Py_INCREF(v);
    } else {
      std::string_view t = c.text(i);
      v = binary ? PyBytes_FromStringAndSize(t.data(), py::ssize_t(t.size()))
                 : PyUnicode_DecodeUTF8(t.data(), py::ssize_t(t.size()), "replace");
      if (!v) throw py::error_already_set();
    }
    Py_XDECREF(cells[i]);
    cells[i] = v;
  }
  return out;
}

// The datetime64[ns] values of a timestamp column, with its zone.
py::object times_of(Column& c, bool take) {
  std::string zone = c.zone();
  py::object values = array_from(c.int64s(), take).attr("view")("datetime64[ns]");
  if (zone.empty()) return values;
  py::object index = pandas().attr("DatetimeIndex")(values).attr("tz_localize")("UTC");
  return index.attr("tz_convert")(zone);
}

// A dictionary-encoded text column as a Categorical (code -1 is missing),
// its categories in sorted order as pandas users expect (sort_values then
// orders "1" before "2", whatever order the rows named them in).
py::object categorical_of(const Column& c) {
  const std::vector<std::string>& dictionary = c.dictionary();
  std::vector<int32_t> by_text(dictionary.size());
  std::iota(by_text.begin(), by_text.end(), 0);
  std::sort(by_text.begin(), by_text.end(), [&](int32_t a, int32_t b) { return dictionary[a] < dictionary[b]; });
  std::vector<int32_t> rank(dictionary.size());
  py::list categories;
  for (std::size_t r = 0; r < by_text.size(); ++r) {
    rank[std::size_t(by_text[r])] = int32_t(r);
    categories.append(py::str(dictionary[std::size_t(by_text[r])]));
  }
  std::vector<int32_t> codes(c.codes().begin(), c.codes().end());
  for (int32_t& code : codes)
    if (code >= 0) code = rank[std::size_t(code)];
  return pandas().attr("Categorical").attr("from_codes")(array_of(codes), categories);
}

// Int64 and bool columns with missing values: float64 with NaN, and
// objects with None, as pandas keeps them.
py::object with_missing(const Column& c) {
  if (c.type() == DataType::Bool) {
    py::array out = text_objects(Column::from_strings("", std::vector<std::optional<std::string>>(c.size())));
    auto** cells = static_cast<PyObject**>(out.mutable_data());
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (c.is_null(i)) continue;
      Py_DECREF(cells[i]);
      cells[i] = c.bools()[i] ? Py_True : Py_False;
      Py_INCREF(cells[i]);
    }
    return out;
  }
  std::vector<double> v(c.size());
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = c.is_null(i) ? std::nan("") : double(c.int64s()[i]);
  return array_of(v);
}

}  // namespace

py::object column_values(const Column& c) { return column_values(const_cast<Column&>(c), false); }

py::object column_values(Column& c, bool take) {
  switch (c.type()) {
    case DataType::Float32: return array_from(c.float32s(), take);
    case DataType::Float64: return array_from(c.float64s(), take);
    case DataType::Int64: return c.null_count() ? with_missing(c) : py::object(array_from(c.int64s(), take));
    case DataType::Bool:
      return c.null_count() ? with_missing(c) : py::object(array_of(c.bools()).attr("astype")("bool"));
    case DataType::Timestamp: return times_of(c, take);
    case DataType::Duration: return array_from(c.int64s(), take).attr("view")("timedelta64[ns]");
    case DataType::String:
      if (c.is_dictionary()) return categorical_of(c);
      // The series codes are categories also when they came as plain texts.
      if (qzdata::is_one_of(c.name(), qzdata::kSeriesKey)) return categorical_of(c.dictionary_encoded());
      return text_objects(c);
    case DataType::Binary: return text_objects(c);
  }
  throw TypeError("column '" + c.name() + "' has a type Python cannot take");
}

py::object to_dataframe(const Table& table) { return to_dataframe(Table(table)); }

py::object to_dataframe(Table&& table) {
  py::dict data;
  for (std::size_t i = 0; i < table.num_columns(); ++i) {
    Column& c = table.column(i);
    data[py::str(c.name())] = column_values(c, true);
  }
  py::object index = py::none();
  if (table.has_key()) {
    py::object name = py::none();
    if (!table.key().name().empty()) name = py::str(table.key().name());
    index = pandas().attr("Index")(column_values(table.key(), true), "name"_a = name, "copy"_a = false);
  }
  // Given no index, pandas takes the arrays as they are (with one it would
  // align each column to it first); the columns keep the dict's order.
  py::object frame = pandas().attr("DataFrame")(data, "copy"_a = false);
  if (!index.is_none()) frame.attr("index") = index;
  for (const auto& [k, v] : table.attributes()) frame.attr("attrs")[py::str(k)] = py::str(v);
  return frame;
}

py::object to_series(const Column& column, py::object index) {
  return pandas().attr("Series")(column_values(column), "index"_a = index, "name"_a = column.name());
}

bool is_dataframe(py::handle object) { return py::isinstance(object, pandas().attr("DataFrame")); }

namespace {

std::string dtype_kind(py::handle values) { return py::str(values.attr("dtype").attr("kind")); }

// The zone of a tz-aware datetime dtype, "" for a naive one.
std::string zone_of(py::handle dtype) {
  py::object tz = py::getattr(dtype, "tz", py::none());
  if (tz.is_none()) return "";
  py::object zone = py::getattr(tz, "zone", py::none());          // pytz
  if (zone.is_none()) zone = py::getattr(tz, "key", py::none());  // zoneinfo
  std::string name = zone.is_none() ? std::string(py::str(tz)) : std::string(py::str(zone));
  return name == "tzutc()" ? "UTC" : name;
}

template <typename T>
std::vector<T> vector_of(py::handle values) {
  auto a = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(values);
  if (!a) throw py::error_already_set();
  return std::vector<T>(a.data(), a.data() + a.size());
}

bool is_missing(py::handle v) {
  if (v.is_none()) return true;
  if (PyFloat_Check(v.ptr())) return std::isnan(PyFloat_AsDouble(v.ptr()));
  return py::isinstance(v, pandas().attr("NaT").get_type()) || v.is(pandas().attr("NA"));
}

// An object column: texts, bytes, truth values, numbers or times, each with
// missing values; other mixes become texts.
Column objects_column(const std::string& name, py::handle series) {
  py::list values = series.attr("tolist")();
  bool any_text = false, any_bytes = false, any_bool = false, any_int = false, any_float = false, any_time = false;
  py::object datetime = py::module_::import("datetime").attr("datetime");
  for (py::handle v : values) {
    if (is_missing(v)) continue;
    if (py::isinstance<py::str>(v)) any_text = true;
    else if (py::isinstance<py::bytes>(v)) any_bytes = true;
    else if (py::isinstance<py::bool_>(v)) any_bool = true;
    else if (py::isinstance<py::int_>(v)) any_int = true;
    else if (py::isinstance<py::float_>(v)) any_float = true;
    else if (py::isinstance(v, datetime)) any_time = true;
    else
      throw TypeError("column '" + name + "' holds a value of type " +
                      std::string(py::str(v.get_type().attr("__name__"))) +
                      " (a table holds texts, bytes, numbers, truth values and times)");
  }
  int kinds = any_text + any_bytes + any_bool + any_int + any_float + any_time;
  if (any_bytes && kinds == 1) {
    StringColumnBuilder b(DataType::Binary);
    for (py::handle v : values) is_missing(v) ? b.append_null() : b.append(v.cast<std::string>());
    return b.finish(name);
  }
  if (any_time && kinds == 1) return from_series(pandas().attr("to_datetime")(series), name.c_str());
  if (!any_text && !any_bytes && kinds > 0) {
    py::object numbers = pandas().attr("to_numeric")(series);
    Column c = from_series(numbers, name.c_str());
    c.set_name(name);
    return c;
  }
  // Texts, or a mix: each value's text.
  StringColumnBuilder b(DataType::String);
  for (py::handle v : values) {
    if (is_missing(v)) b.append_null();
    else if (py::isinstance<py::bytes>(v)) b.append(v.cast<std::string>());
    else b.append(std::string(py::str(v)));
  }
  return b.finish(name);
}

// Nullable extension dtypes (Int64, boolean, string): values and missing flags.
Column nullable_column(const std::string& name, py::handle series, const std::string& dtype_name) {
  std::vector<uint8_t> valid = vector_of<uint8_t>(series.attr("notna")().attr("to_numpy")());
  if (dtype_name == "boolean") {
    auto v = vector_of<uint8_t>(series.attr("to_numpy")("dtype"_a = "bool", "na_value"_a = false));
    return Column::from_bool(name, std::move(v), std::move(valid));
  }
  auto v = vector_of<int64_t>(series.attr("to_numpy")("dtype"_a = "int64", "na_value"_a = 0));
  return Column::from_int64(name, std::move(v), std::move(valid));
}

}  // namespace

Column from_series(py::handle series_like, const char* argument) {
  py::object series = pandas().attr("Series")(series_like, "copy"_a = false);
  py::object series_name = series.attr("name");
  std::string name = series_name.is_none() ? std::string(argument) : std::string(py::str(series_name));
  py::object dtype = series.attr("dtype");
  std::string dtype_name = py::str(dtype.attr("name"));
  if (dtype_name == "category") {
    py::object cat = series.attr("cat");
    std::vector<std::string> dictionary;
    for (py::handle t : cat.attr("categories")) dictionary.emplace_back(py::str(t));
    return Column::from_dictionary(name, vector_of<int32_t>(cat.attr("codes")), std::move(dictionary));
  }
  if (dtype_name == "Int64" || dtype_name == "Int32" || dtype_name == "boolean")
    return nullable_column(name, series, dtype_name);
  if (dtype_name == "string") return objects_column(name, series.attr("astype")("object"));
  std::string kind = dtype_kind(series);
  py::object values = series.attr("to_numpy")();
  if (kind == "f") {
    if (dtype_name == "float32") return Column::from_float32(name, vector_of<float>(values));
    return Column::from_float64(name, vector_of<double>(values));
  }
  if (kind == "i" || kind == "u") return Column::from_int64(name, vector_of<int64_t>(values));
  if (kind == "b") return Column::from_bool(name, vector_of<uint8_t>(values));
  if (kind == "M") {
    std::string zone = zone_of(dtype);
    py::object utc =
        zone.empty()
            ? values
            : series.attr("dt").attr("tz_convert")("UTC").attr("dt").attr("tz_localize")(py::none()).attr("to_numpy")();
    return Column::from_timestamps(name, vector_of<int64_t>(utc.attr("astype")("datetime64[ns]").attr("view")("int64")),
                                   zone);
  }
  if (kind == "m")
    return Column::from_durations(name,
                                  vector_of<int64_t>(values.attr("astype")("timedelta64[ns]").attr("view")("int64")));
  if (kind == "O" || kind == "U" || kind == "S") return objects_column(name, series);
  throw TypeError(std::string(argument) + ": column '" + name + "' has a dtype (" + dtype_name +
                  ") a table cannot hold");
}

Table from_dataframe(py::handle frame, const char* argument) {
  if (!is_dataframe(frame))
    throw TypeError(std::string(argument) + " must be a pandas.DataFrame, not " +
                    std::string(py::str(frame.get_type().attr("__name__"))));
  Table t;
  py::object items = frame.attr("items")();
  for (py::handle item : items) {
    auto pair = item.cast<py::tuple>();
    std::string name = py::str(pair[0]);
    if (t.has_column(name))
      throw std::invalid_argument(std::string(argument) + " has two columns named '" + name + "'");
    Column c = from_series(pair[1], argument);
    c.set_name(name);
    t.add_column(std::move(c));
  }
  py::object index = frame.attr("index");
  bool positions =
      py::isinstance(index, pandas().attr("RangeIndex")) && py::getattr(index, "name", py::none()).is_none();
  if (!positions) {
    py::object name = index.attr("name");
    Column key = from_series(pandas().attr("Series")(index.attr("array")), argument);
    key.set_name(name.is_none() ? "" : std::string(py::str(name)));
    t.set_key_column(std::move(key));
  }
  for (auto [k, v] : py::dict(frame.attr("attrs"))) t.attributes()[py::str(k)] = py::str(v);
  return t;
}

std::optional<Timestamp> timestamp_of(py::handle object, bool wall_clock) {
  py::object datetime = py::module_::import("datetime");
  bool is_time = py::isinstance(object, datetime.attr("datetime")) ||
                 py::isinstance(object, numpy().attr("datetime64")) || py::isinstance(object, datetime.attr("date"));
  if (!is_time) return std::nullopt;
  py::object t = pandas().attr("Timestamp")(object);
  if (t.is(pandas().attr("NaT"))) return Timestamp{};
  if (!py::getattr(t, "tzinfo", py::none()).is_none())
    t = wall_clock ? t.attr("tz_localize")(py::none()) : t.attr("tz_convert")("UTC").attr("tz_localize")(py::none());
  return Timestamp{t.attr("value").cast<int64_t>()};
}

std::optional<Duration> duration_of(py::handle object) {
  py::object datetime = py::module_::import("datetime");
  if (!py::isinstance(object, datetime.attr("timedelta")) && !py::isinstance(object, numpy().attr("timedelta64")))
    return std::nullopt;
  py::object d = pandas().attr("Timedelta")(object);
  if (d.is(pandas().attr("NaT"))) return Duration{};
  return Duration{d.attr("value").cast<int64_t>()};
}

Value value_of(py::handle v) {
  if (is_missing(v)) return Value();
  if (py::isinstance<py::bool_>(v)) return Value(v.cast<bool>());
  if (py::isinstance<py::int_>(v)) return Value(v.cast<int64_t>());
  if (py::isinstance<py::float_>(v)) return Value(v.cast<double>());
  if (py::isinstance<py::str>(v)) return Value(v.cast<std::string>());
  if (py::isinstance<py::bytes>(v)) return Value(Bytes{v.cast<std::string>()});
  if (auto t = timestamp_of(v)) return Value(*t);
  if (auto d = duration_of(v)) return Value(*d);
  if (py::hasattr(v, "item")) return value_of(v.attr("item")());  // numpy scalars
  throw TypeError("a value of type " + std::string(py::str(v.get_type().attr("__name__"))) +
                  " is not a number, text, bytes, truth value or time");
}

py::object to_python(const Value& value) {
  const auto& v = value.variant();
  if (value.is_missing()) return py::none();
  if (auto b = std::get_if<bool>(&v)) return py::bool_(*b);
  if (auto i = std::get_if<int64_t>(&v)) return py::int_(*i);
  if (auto d = std::get_if<double>(&v)) return py::float_(*d);
  if (auto s = std::get_if<std::string>(&v)) return py::str(*s);
  if (auto y = std::get_if<Bytes>(&v)) return py::bytes(y->data);
  if (auto t = std::get_if<Timestamp>(&v)) return pandas().attr("Timestamp")(t->ns);
  if (auto d = std::get_if<Duration>(&v)) return pandas().attr("Timedelta")(d->ns);
  return py::none();
}

}  // namespace tremora::python
