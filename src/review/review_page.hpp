// The review page: one HTML file that works opened from disk (no network,
// no fonts or scripts fetched), its table the cells of series.csv.
#pragma once
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "tremora/review.hpp"

namespace tremora::review {

/// What the page shows besides the table.
struct PageFacts {
  std::string request;  // method and station names
  Period period;
  std::string type, rate, made_at, version;
  std::size_t stations = 0, points = 0, items = 0;
  /// Charts beside the page (file names): per item, per flagged series
  /// (by the series' index in the checks).
  std::vector<std::pair<std::string, std::vector<std::string>>> item_charts = {};
  std::vector<std::pair<std::size_t, std::string>> series_charts = {};
  /// Kp over the period when asked for: the maximum and the days (chart
  /// clock) with an interval of Kp 5 or more, or why there is none.
  struct Kp {
    double max = NAN;
    std::vector<std::string> stormy_days = {};
    std::string error = "";
  };
  std::optional<Kp> kp = std::nullopt;
  /// The catalogue's events of the period near a station (its filters), when
  /// a catalogue was given: time, name, magnitude, nearest station, km.
  struct Quake {
    std::string time, name;
    double magnitude, distance;
    std::string station;
  };
  std::optional<std::vector<Quake>> quakes = std::nullopt;
  std::string quake_error = "";
};

/// The page's HTML.
std::string review_page(const PageFacts& facts, const std::vector<SeriesCheck>& checks, const Table& table,
                        double incomplete_below);

}  // namespace tremora::review
