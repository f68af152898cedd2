// The extension module tremora._tremora; the Python package tremora
// re-exports its sub-modules as tremora.fetching, tremora.tsplot, ...
#include "module.hpp"

PYBIND11_MODULE(_tremora, m) {
  using namespace tremora::python;
  m.doc() = "tremora: earthquake-precursor observation data (C++ core)";
  register_errors(m);
  install_logging_bridge();
  bind_connections(m);
  bind_fetching(m.def_submodule("fetching", "Data access: connections, look-ups, data and log fetches"));
  bind_metastash(m.def_submodule("metastash", "The local cache of the dictionary tables"));
  bind_cleaning(m.def_submodule("cleaning", "Day rows to one row per sample"));
  bind_postprocessing(m.def_submodule("postprocessing", "Resampling, differences, spike filtering, dates"));
  bind_plotkit(m.def_submodule("plotkit", "What every chart shares: style, fonts, statistics, grids"));
  bind_geomag(m.def_submodule("geomag", "The planetary Kp index"));
  bind_quakecat(m.def_submodule("quakecat", "Earthquake catalogues"));
  bind_tsplot(m.def_submodule("tsplot", "The time-series plotter"));
  bind_yearplot(m.def_submodule("yearplot", "The annual comparison chart"));
  bind_export(m.def_submodule("export", "VUZO exchange files"));
}
