// Argument kinds of the Python interface that pybind11's own conversions
// refuse although Python callers pass them: None for an absent text (a
// cache folder, a namespace), a path object for a file name, an integer for
// a point code.
#pragma once

#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace tremora::python {

/// A text, or None for the empty text; os.PathLike objects give their path.
struct TextArg {
  std::string text;
  operator const std::string&() const { return text; }
};

/// A code: a text, an integer (2 gives "2") or None (the empty text).
struct CodeArg {
  std::string text;
  operator const std::string&() const { return text; }
};

/// A whole number of seconds: an int, or a float of a whole value (60.0).
struct WholeSeconds {
  int64_t value = 0;
};

/// A Python object passed through as it is (the function checks it), named
/// in signatures, and so in the type stubs, by the kinds `Kind::name` says.
template <typename Kind>
struct Passed {
  pybind11::object object;
};
struct FrameKind {
  static constexpr auto name = pybind11::detail::const_name("pandas.DataFrame");
};
struct FrameOrSeriesKind {
  static constexpr auto name = pybind11::detail::const_name("pandas.DataFrame | pandas.Series");
};
struct ValuesKind {
  static constexpr auto name =
      pybind11::detail::const_name("pandas.DataFrame | pandas.Series | numpy.typing.ArrayLike");
};
struct PathKind {
  static constexpr auto name = pybind11::detail::const_name("str | os.PathLike");
};
using FrameObject = Passed<FrameKind>;
using PathObject = Passed<PathKind>;
using FrameOrSeries = Passed<FrameOrSeriesKind>;
using ValuesObject = Passed<ValuesKind>;

}  // namespace tremora::python

namespace pybind11::detail {

template <>
struct type_caster<tremora::python::WholeSeconds> {
  PYBIND11_TYPE_CASTER(tremora::python::WholeSeconds, const_name("int | float"));
  bool load(handle src, bool) {
    if (PyLong_Check(src.ptr()) && !PyBool_Check(src.ptr())) return value.value = src.cast<int64_t>(), true;
    if (!PyFloat_Check(src.ptr())) return false;
    double v = src.cast<double>();
    if (!std::isfinite(v) || v != std::trunc(v) || std::fabs(v) >= 9.0e18) return false;
    value.value = int64_t(v);
    return true;
  }
  static handle cast(const tremora::python::WholeSeconds& s, return_value_policy, handle) {
    return int_(s.value).release();
  }
};

template <typename Kind>
struct type_caster<tremora::python::Passed<Kind>> {
  PYBIND11_TYPE_CASTER(tremora::python::Passed<Kind>, Kind::name);
  bool load(handle src, bool) {
    value.object = reinterpret_borrow<object>(src);
    return true;
  }
  static handle cast(const tremora::python::Passed<Kind>& p, return_value_policy, handle) { return p.object.inc_ref(); }
};

template <>
struct type_caster<tremora::python::TextArg> {
  PYBIND11_TYPE_CASTER(tremora::python::TextArg, const_name("str | os.PathLike | None"));
  bool load(handle src, bool) {
    if (src.is_none()) return value.text.clear(), true;
    if (PyUnicode_Check(src.ptr())) return value.text = src.cast<std::string>(), true;
    if (hasattr(src, "__fspath__")) return value.text = str(module_::import("os").attr("fspath")(src)), true;
    return false;
  }
  static handle cast(const tremora::python::TextArg& t, return_value_policy, handle) { return str(t.text).release(); }
};

template <>
struct type_caster<tremora::python::CodeArg> {
  PYBIND11_TYPE_CASTER(tremora::python::CodeArg, const_name("str | int | None"));
  bool load(handle src, bool) {
    if (src.is_none()) return value.text.clear(), true;
    if (PyUnicode_Check(src.ptr())) return value.text = src.cast<std::string>(), true;
    if (PyLong_Check(src.ptr()) && !PyBool_Check(src.ptr())) return value.text = str(src).cast<std::string>(), true;
    return false;
  }
  static handle cast(const tremora::python::CodeArg& c, return_value_policy, handle) { return str(c.text).release(); }
};

}  // namespace pybind11::detail
