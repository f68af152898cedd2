// The review page: one HTML file that works opened from disk (no network,
// no fonts or scripts fetched), its table the cells of series.csv.
#pragma once
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
};

/// The page's HTML.
std::string review_page(const PageFacts& facts, const std::vector<SeriesCheck>& checks, const Table& table,
                        double incomplete_below);

}  // namespace tremora::review
