// The network review: every series of a network over a period checked for
// completeness, gaps, spikes, steps, departures from its usual band and log
// entries, and written as one page (index.html, its charts and series.csv).
#pragma once
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tremora/db.hpp"
#include "tremora/fetching.hpp"
#include "tremora/quakecat.hpp"
#include "tremora/table.hpp"
#include "tremora/time.hpp"

namespace tremora::review {

/// What to review and how.
struct ReviewOptions {
  /// The request: method or discipline, station, sampling rate and database
  /// type names, as the fetch takes them; `gzip` for second and minute data.
  std::string method = std::string(fetching::kAll);
  std::string station = std::string(fetching::kAll);
  std::string rate = "分钟值";
  std::string type = "预处理库";
  bool gzip = false;
  /// The days before the period whose samples give each series' usual band
  /// (30), and the band's half width in their standard deviations (2).
  int reference_days = 30;
  double band_k = 2.0;
  /// Completeness below this (percent) flags a series (90).
  double incomplete_below = 90.0;
  /// The earthquake catalogue file, and its distance and magnitude filters
  /// (none: the catalogue's default filter).
  std::optional<std::filesystem::path> quakecat = std::nullopt;
  std::optional<quakecat::Filters> quake_filters = std::nullopt;
  /// A Kp panel under the charts: from `geomag_data` when given, else fetched.
  bool geomag = false;
  std::optional<Table> geomag_data = std::nullopt;
  /// The metadata cache folder ("" for the default).
  std::string cache_dir = "";
};

/// The period reviewed: whole days from `first` (midnight) to `end`
/// (midnight after the last day), on the data's wall clock.
struct Period {
  Timestamp first, end;
  int64_t days() const { return (end.ns - first.ns) / kNanosPerDay; }
};

/// One series (station, point, item) and the names it is shown with.
struct SeriesName {
  std::string station = "", station_name = "", point = "", point_name = "", item = "", item_name = "", unit = "";
};

/// The checks of one series over the period.
struct SeriesCheck {
  SeriesName name;
  /// Samples the rate gives the period (days × samples a day), and the
  /// sample slots that hold a value.
  int64_t expected = 0, present = 0;
  double completeness = 0;  // percent of expected
  /// The longest run of slots without a value: its first slot and length.
  std::optional<Timestamp> gap_start = std::nullopt;
  int64_t gap_ns = 0;
  /// Samples the MAD filter (window 15, factor 5) replaces.
  int64_t mad_replaced = 0;
  /// The largest change between consecutive samples with values, the time
  /// of the later one, and the median change (the series' typical step).
  double largest_step = NAN, typical_step = NAN;
  std::optional<Timestamp> largest_step_at = std::nullopt;
  /// Mean and standard deviation of the period's values.
  double mean = NAN, std = NAN;
  /// The reference band (mean ± k·σ of the reference days' samples), absent
  /// when those days hold fewer than two values; the period's days whose
  /// daily mean lies outside it.
  std::optional<std::pair<double, double>> band = std::nullopt;
  std::vector<Timestamp> band_exit_days = {};
  /// The log entries of the period: time and note.
  std::vector<std::pair<Timestamp, std::string>> log = {};
  /// What went wrong checking the series; its numbers are then left empty.
  std::string error = "";

  /// The words of the flags: "incomplete", "band", "log", "error".
  std::vector<std::string> flags(double incomplete_below = 90.0) const;
};

/// Checks every series of `period_rows` (observation rows split into
/// samples, keyed by STARTDATE) and of `expected` (series listed even
/// without rows), in ascending series order. `reference_rows` are the rows
/// of the reference days, `log` the log entries (lower-case columns as the
/// dialog fetch gives them), `step_ns` the sampling interval.
std::vector<SeriesCheck> check_series(const Table& period_rows, const Table& reference_rows, const Table& log,
                                      const std::vector<SeriesName>& expected, const Period& period, int64_t step_ns,
                                      const ReviewOptions& options = {});

/// The checks as a table, one row per series, with the columns of
/// series.csv (see the README's review section for their meaning).
Table checks_table(const std::vector<SeriesCheck>& checks, double incomplete_below = 90.0);

/// Fetches the period and the reference days of the request, checks every
/// series, and writes `out`/index.html, `out`/series.csv and the charts
/// beside them (SVG), each file atomically. Returns the table of
/// series.csv. std::invalid_argument for a bad date or rate; the fetch's
/// errors reach the caller; a failure of one series is shown on its row.
Table review(std::shared_ptr<db::Connection> conn, const fetching::DateArg& start, const fetching::DateArg& end,
             const std::filesystem::path& out, const ReviewOptions& options = {});

}  // namespace tremora::review
