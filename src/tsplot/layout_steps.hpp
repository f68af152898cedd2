// The steps the two layouts share: one series panel, the earthquakes near a
// station, the catalogue.
#pragma once

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
  /// The series' rows (row key time, OBSVALUE); nothing when the key has none.
  std::optional<Table> group = std::nullopt;
  std::string station = {}, point = {}, item = {};
  /// The item's facts; looked up (and warned about when missing) after the
  /// time range is noted when not given.
  std::optional<ItemFacts> item_facts = std::nullopt;
  StationFacts station_facts = {};
  std::size_t type_index = 0;
  std::optional<std::string> resample = std::nullopt;
  std::string empty_message = {}, missing_message = {};
  bool label_scatter = false;
};

enum class PanelOutcome { Blank, UnknownItem, Drawn };

/// The panel steps: prepare, cut to the time bounds, draw in the panel's
/// style, decorate, annotate and mark nearby earthquakes.
PanelOutcome draw_series_panel(LayoutRun& run, chart::Axes& ax, PanelRequest request);

/// Reads the catalogue when one is named; a failure is logged and gives none.
std::optional<Table> read_catalogue(const std::optional<std::filesystem::path>& path);

/// Marks the catalogue's events between `first` and `last` (on the chart's
/// clock) that pass the filters for the station, on a second y axis; any
/// failure is logged and leaves the panel as it was.
void mark_nearby_quakes(const TSPlotter& plotter, chart::Axes& ax, const Table& events, const StationFacts& station,
                        Timestamp first, Timestamp last, const std::optional<quakecat::Filters>& filters);

}  // namespace tremora::tsplot
