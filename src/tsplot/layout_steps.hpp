// The steps the two layouts share: one series panel, the earthquakes near a
// station, the catalogue.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "plot_support.hpp"

namespace tremora::tsplot {

/// What one layout call shares across its panels.
struct LayoutRun {
  const TSPlotter& plotter;
  const PlotOptions& options;
  /// The extra drawing options, sanitised.
  chart::StyleOptions drawing;
  /// The earthquake catalogue, when one was read.
  std::optional<Table> events;
  /// The figure's series time ranges so far.
  Bounds bounds;
  /// start_time and end_time on the clock of the series keys, once converted.
  std::optional<std::optional<Timestamp>> start, end;
};

/// One series panel to draw.
struct PanelRequest {
  /// Gathers the series' rows (row key time, OBSVALUE); empty when the key
  /// has none. Called on any thread.
  std::function<Table()> rows = {};
  std::string station = {}, point = {}, item = {};
  /// The item's facts; looked up (and warned about when missing) after the
  /// time range is noted when not given.
  std::optional<ItemFacts> item_facts = std::nullopt;
  StationFacts station_facts = {};
  /// The index of the panel's plot type; nothing for the number of panels
  /// of the figure drawn before it.
  std::optional<std::size_t> type_index = std::nullopt;
  std::optional<std::string> resample = std::nullopt;
  std::string empty_message = {}, missing_message = {};
  bool label_scatter = false;
};

/// The panel steps, for each request on the axis of the same index:
/// gather, prepare and cut to the time bounds (the data of as many panels
/// as there are threads at once, in parallel), then in order draw in the
/// panel's style, decorate, annotate and mark nearby earthquakes. Messages
/// and failures come in the order of the panels, as when each panel is
/// made whole before the next. `key` is the row key of the table the
/// series come from.
void draw_series_panels(LayoutRun& run, const Column& key, const std::vector<chart::Axes*>& axes,
                        const std::vector<PanelRequest>& requests);

/// Reads the catalogue when one is named; a failure is logged and gives none.
std::optional<Table> read_catalogue(const std::optional<std::filesystem::path>& path);

/// Marks the catalogue's events between `first` and `last` (on the chart's
/// clock) that pass the filters for the station, on a second y axis; any
/// failure is logged and leaves the panel as it was.
void mark_nearby_quakes(const TSPlotter& plotter, chart::Axes& ax, const Table& events, const StationFacts& station,
                        Timestamp first, Timestamp last, const std::optional<quakecat::Filters>& filters);

}  // namespace tremora::tsplot
