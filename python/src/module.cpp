// The extension module tremora._tremora; the Python package tremora
// re-exports its sub-modules as tremora.fetching, tremora.tsplot, ...
#include "module.hpp"
#include "tremora/memory.hpp"

namespace tremora::python {
// Sub-modules whose bindings live in files of their own; these empty
// stand-ins give way to them when those files are built.
[[gnu::weak]] void bind_plotkit(py::module_&) {}
[[gnu::weak]] void bind_geomag(py::module_&) {}
[[gnu::weak]] void bind_quakecat(py::module_&) {}
[[gnu::weak]] void bind_tsplot(py::module_&) {}
[[gnu::weak]] void bind_yearplot(py::module_&) {}
[[gnu::weak]] void bind_review(py::module_&) {}

namespace doc {
inline constexpr const char* keep_freed_memory = R"doc(Keeps freed buffers for reuse, for the rest of the process.

The allocator then keeps freed buffers of up to 32 MiB (and up to 512 MiB of freed
memory in all) instead of handing each back to the system. Fetches, filters and
charts allocate and free buffers of several MiB; reused, they cost no page faults
again, and on a virtual machine no stop of every thread while memory is handed back,
so the work runs faster and scales better with threads. The tremora program does
this at its start; a Python program may call it once, first thing. It changes
the allocator of the whole process (the interpreter's too), which is why importing
tremora does not do it. Setting GLIBC_TUNABLES to
glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=536870912 before
Python starts does the same. Does nothing where the C library is not glibc.
)doc";
}  // namespace doc
}  // namespace tremora::python

PYBIND11_MODULE(_tremora, m) {
  using namespace tremora::python;
  m.doc() = "tremora: earthquake-precursor observation data (C++ core)";
  register_errors(m);
  m.def("keep_freed_memory", &tremora::keep_freed_memory, doc::keep_freed_memory);
  install_logging_bridge();
  bind_connections(m);
  // The metaclass of every class bound here, named so that the type stubs
  // can declare it.
  m.attr("_pybind11_type") = py::type::of(m.attr("Connection")).get_type();
  auto part = [&m](const char* name, const char* doc, void (*bind)(py::module_&)) {
    py::module_ sub = m.def_submodule(name, doc);
    bind(sub);
  };
  part("fetching", "Data access: connections, look-ups, data and log fetches", bind_fetching);
  part("metastash", "The local cache of the dictionary tables", bind_metastash);
  part("cleaning", "Day rows to one row per sample", bind_cleaning);
  part("postprocessing", "Resampling, differences, spike filtering, dates", bind_postprocessing);
  part("plotkit", "What every chart shares: style, fonts, statistics, grids", bind_plotkit);
  part("geomag", "The planetary Kp index", bind_geomag);
  part("quakecat", "Earthquake catalogues", bind_quakecat);
  part("tsplot", "The time-series plotter", bind_tsplot);
  part("yearplot", "The annual comparison chart", bind_yearplot);
  part("review", "The network review page", bind_review);
  bind_bench(m);
  part("export", "VUZO exchange files", bind_export);
}
