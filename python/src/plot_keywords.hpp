// The arguments of TSPlotter.plot, plot_by_items and plot_by_stations as
// Python passes them: positions in each layout's own order, keywords by
// name, and every other keyword an extra drawing option of the series
// lines and scatter marks.
#pragma once

#include <string>
#include <vector>

#include "module.hpp"
#include "tremora/tsplot.hpp"

namespace tremora::python {

enum class PlotCall { Plot, ByItems, ByStations };

/// The layout options of a call's positional arguments after `ts` and its
/// keyword arguments. TypeError for too many positions, a name given twice
/// or a value of the wrong kind (naming the argument).
tsplot::PlotOptions plot_options(PlotCall call, const py::args& args, const py::kwargs& kwargs);

/// "name(ts, prefix='', ..., **kwargs)": the call's signature, for its help text.
std::string plot_signature(PlotCall call);

/// Annotations by item, then series key text ("12001_2"), as a dict of
/// dicts of lists of annotation dicts (keys text, x, y and optionally
/// xytext, textcoords, arrowprops, props).
tsplot::Annotations annotations_arg(py::handle value, const char* argument);
/// One list of annotation dicts.
std::vector<tsplot::Annotation> annotation_list(py::handle value, const std::string& argument);

/// A number of standard deviations: an int is written "3", a float "2.0".
tsplot::Multiplier multiplier_arg(py::handle value, const char* argument);

}  // namespace tremora::python
