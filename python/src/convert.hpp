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

#include "tremora/table.hpp"

namespace tremora::python {

namespace py = pybind11;

/// The DataFrame of a table.
py::object to_dataframe(const Table& table);
/// The table of a DataFrame; TypeError naming `argument` for anything else.
Table from_dataframe(py::handle frame, const char* argument = "df");
/// The Series of a column (with an index when one is given).
py::object to_series(const Column& column, py::object index = py::none());
/// The column of a Series (or of a one-dimensional array or list).
Column from_series(py::handle series, const char* argument = "series");
/// A numpy array of the column's values as pandas keeps them.
py::object column_values(const Column& column);
/// True for a pandas.DataFrame.
bool is_dataframe(py::handle object);

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
};

}  // namespace pybind11::detail
