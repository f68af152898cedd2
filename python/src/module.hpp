// The parts of the extension module tremora._tremora: one sub-module per
// deliverable, each filled by its bind_* function, and what they share.
#pragma once

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "convert.hpp"

namespace tremora::python {

namespace py = pybind11;
using namespace pybind11::literals;

/// Passes the messages the library logged while the GIL was released to
/// Python's logging, in order, when it is destroyed (with the GIL held).
struct FlushLogs {
  FlushLogs() = default;
  ~FlushLogs();
};

/// The call guard of long work: the GIL is released while the C++ code
/// runs, and what it logged reaches Python's logging afterwards.
using LongWork = py::call_guard<FlushLogs, py::gil_scoped_release>;

/// Forwards the library's loggers to Python's logging, under their names.
void install_logging_bridge();
/// Maps the library's error kinds to Python exceptions.
void register_errors(py::module_& m);

void bind_connections(py::module_& m);
void bind_fetching(py::module_& m);
void bind_metastash(py::module_& m);
void bind_cleaning(py::module_& m);
void bind_postprocessing(py::module_& m);
void bind_plotkit(py::module_& m);
void bind_geomag(py::module_& m);
void bind_quakecat(py::module_& m);
void bind_tsplot(py::module_& m);
void bind_yearplot(py::module_& m);
void bind_review(py::module_& m);
void bind_export(py::module_& m);
void bind_bench(py::module_& m);

}  // namespace tremora::python
