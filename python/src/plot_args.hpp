// Python values as the plotting functions take them: times and time bounds,
// durations, paths, drawing options, station positions and catalogue
// filters. Every conversion names the argument in its TypeError, so that a
// wrong kind of value says which argument it was.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "module.hpp"
#include "tremora/chart.hpp"
#include "tremora/geomag.hpp"
#include "tremora/quakecat.hpp"

namespace tremora::python {

/// TypeError "<argument> must be <expected>, not <type name>".
[[noreturn]] void wrong_kind(py::handle value, const char* argument, const char* expected);

/// The value cast to T by pybind11's rules, or wrong_kind.
template <typename T>
T cast_arg(py::handle value, const char* argument, const char* expected) {
  try {
    return py::cast<T>(value);
  } catch (const py::cast_error&) {
    wrong_kind(value, argument, expected);
  }
}

/// True for None.
inline bool absent(py::handle value) { return value.is_none(); }

/// True for datetime.datetime, datetime.date, pandas.Timestamp, pandas.NaT
/// and numpy.datetime64 values.
bool is_datetime_like(py::handle value);

/// A naive (wall-clock) time: a date-time value (an aware one gives its
/// wall clock) or a date text as parse_date_text reads it.
Timestamp wall_time(py::handle value, const char* argument);

/// A time bound: a text, a naive date-time (wall clock) or an aware one
/// (its instant); None and pandas.NaT are the missing time.
geomag::TimeBound time_bound(py::handle value, const char* argument);

/// A pandas.Timestamp: naive, or the instant shown in `zone`.
py::object timestamp_object(Timestamp t, const std::string& zone = "");

/// A datetime.timedelta, pandas.Timedelta or numpy.timedelta64 value.
Duration duration_arg(py::handle value, const char* argument);

/// A str or os.PathLike value.
std::filesystem::path path_arg(py::handle value, const char* argument);

/// A drawing option's value: bool, str or a number.
chart::StyleValue style_value(py::handle value, const std::string& option);
/// A dict of drawing options (None for none).
chart::StyleOptions style_options(py::handle value, const char* argument);
/// A drawing option's value as Python shows it.
py::object style_value_object(const chart::StyleValue& value);

/// A pair of numbers (a tuple or list of two).
std::pair<double, double> number_pair(py::handle value, const char* argument);

/// A station position, the pair (latitude, longitude).
quakecat::Station station_arg(py::handle value, const char* argument);

/// Catalogue filters: a list of (km, magnitude) pairs, or any other value
/// as one pair; None for none.
std::optional<quakecat::Filters> filters_arg(py::handle value, const char* argument);

/// Runs `work` with the GIL released and passes what the library logged
/// meanwhile to Python's logging afterwards, as LongWork does for a whole
/// call; for calls whose arguments are converted first with the GIL held.
template <typename Work>
auto without_gil(Work&& work) {
  FlushLogs flush;
  py::gil_scoped_release release;
  return work();
}

}  // namespace tremora::python
