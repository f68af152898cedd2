// Tables and pandas: an observation table crosses into Python as a
// pandas.DataFrame (and a column as a pandas.Series), and back.
//
// Table → DataFrame: the row key becomes the index (a DatetimeIndex with the
// key's zone), numbers and times move as numpy arrays, dictionary-encoded
// texts become Categorical, plain texts str objects and bytes bytes;
// missing values are NaN, NaT or None (an int64 column with missing values
// becomes float64 with NaN, as pandas does).
// DataFrame → Table: the reverse; a default RangeIndex gives no row key.
// Object columns of mixed kinds become texts; a value that is none of str,
// bytes, number, bool, datetime or missing is a TypeError naming the column.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>

#include "tremora/fetching.hpp"
#include "tremora/table.hpp"
#include "tremora/time.hpp"

namespace tremora::python {

namespace py = pybind11;

/// The DataFrame of a table (a table about to go gives its values to the
/// DataFrame's arrays without a copy).
py::object to_dataframe(const Table& table);
py::object to_dataframe(Table&& table);
/// The table of a DataFrame; TypeError naming `argument` for anything else.
Table from_dataframe(py::handle frame, const char* argument = "df");
/// The Series of a column (with an index when one is given).
py::object to_series(const Column& column, py::object index = py::none());
/// The column of a Series (or of a one-dimensional array or list).
Column from_series(py::handle series, const char* argument = "series");
/// A numpy array of the column's values as pandas keeps them (taken from
/// the column, which is left empty, when `take`).
py::object column_values(const Column& column);
py::object column_values(Column& column, bool take);
/// True for a pandas.DataFrame.
bool is_dataframe(py::handle object);

/// The time of a datetime, pandas.Timestamp or numpy.datetime64 (a
/// tz-aware one as its UTC instant, or with `wall_clock` as its own wall
/// clock); nothing for other objects.
std::optional<Timestamp> timestamp_of(py::handle object, bool wall_clock = false);
/// The length of a timedelta, pandas.Timedelta or numpy.timedelta64.
std::optional<Duration> duration_of(py::handle object);
/// A bind or cell value: None/NaN, bool, int, float, str, bytes or a time.
Value value_of(py::handle object);
/// The Python object of a value (pandas.Timestamp for times).
py::object to_python(const Value& value);

}  // namespace tremora::python

// Tables are DataFrames wherever a bound function takes or returns one.
namespace pybind11::detail {

template <>
struct type_caster<tremora::Table> {
  PYBIND11_TYPE_CASTER(tremora::Table, const_name("pandas.DataFrame"));

  bool load(handle src, bool) {
    if (!tremora::python::is_dataframe(src)) return false;
    value = tremora::python::from_dataframe(src);
    return true;
  }

  static handle cast(const tremora::Table& table, return_value_policy, handle) {
    return tremora::python::to_dataframe(table).release();
  }
  static handle cast(tremora::Table&& table, return_value_policy, handle) {
    return tremora::python::to_dataframe(std::move(table)).release();
  }
};

template <>
struct type_caster<tremora::Timestamp> {
  PYBIND11_TYPE_CASTER(tremora::Timestamp, const_name("datetime.datetime"));
  bool load(handle src, bool) {
    auto t = tremora::python::timestamp_of(src);
    if (!t) return false;
    value = *t;
    return true;
  }
  static handle cast(tremora::Timestamp t, return_value_policy, handle) {
    return tremora::python::to_python(tremora::Value(t)).release();
  }
};

template <>
struct type_caster<tremora::Duration> {
  PYBIND11_TYPE_CASTER(tremora::Duration, const_name("datetime.timedelta"));
  bool load(handle src, bool) {
    auto d = tremora::python::duration_of(src);
    if (!d) return false;
    value = *d;
    return true;
  }
  static handle cast(tremora::Duration d, return_value_policy, handle) {
    return tremora::python::to_python(tremora::Value(d)).release();
  }
};

template <>
struct type_caster<tremora::Value> {
  PYBIND11_TYPE_CASTER(tremora::Value, const_name("object"));
  bool load(handle src, bool) {
    value = tremora::python::value_of(src);
    return true;
  }
  static handle cast(const tremora::Value& v, return_value_policy, handle) {
    return tremora::python::to_python(v).release();
  }
};

// A date: a text in the usual forms or a time.
template <>
struct type_caster<tremora::fetching::DateArg> {
  PYBIND11_TYPE_CASTER(tremora::fetching::DateArg, const_name("str | datetime.datetime"));
  type_caster() : value("") {}
  bool load(handle src, bool) {
    if (PyUnicode_Check(src.ptr())) {
      value = tremora::fetching::DateArg(src.cast<std::string>());
      return true;
    }
    // A date is the caller's day: an aware time gives its own wall clock,
    // as the text "2024-03-01T02:00+08:00" does.
    auto t = tremora::python::timestamp_of(src, true);
    if (!t) return false;
    value = tremora::fetching::DateArg(*t);
    return true;
  }
  static handle cast(const tremora::fetching::DateArg& d, return_value_policy, handle) {
    return tremora::python::to_python(tremora::Value(d.timestamp())).release();
  }
};

}  // namespace pybind11::detail
