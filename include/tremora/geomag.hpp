// The planetary geomagnetic index Kp: fetching it from the GFZ Potsdam
// Kp-index web service, reading GFZ's Kp files, and bringing Kp data into one
// normal form, the Kp table.
//
// Kp table: the row key is a timezone-aware timestamp column, the start of a
// three-hour interval, unique and ascending; column "Kp" (float64, 0 to 9,
// NaN where absent or out of range) and column "status" (text as the source
// gave it, "def" or "pre" from GFZ). Each row stands for the interval from
// its key (inclusive) to the key plus 3 hours (exclusive).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "tremora/qzdata.hpp"
#include "tremora/table.hpp"

namespace tremora::geomag {

/// An instant together with the time zone it is shown in.
struct ZonedTime {
  /// The UTC instant (NaT when missing).
  Timestamp utc;
  /// An IANA time-zone name ("Asia/Shanghai", "UTC").
  std::string zone;
  friend bool operator==(const ZonedTime&, const ZonedTime&) = default;
};

/// A time bound as callers give it: a naive wall-clock timestamp (a date or
/// date-time without zone), an instant with its zone, or a date-time text
/// (the forms of parse_date_text: "2024-03-01", "2024-03-01T10:30:00",
/// "2024-03-01 10:30:00+08:00", "20240301", ...).
using TimeBound = std::variant<Timestamp, ZonedTime, std::string>;

/// The length of one Kp interval.
inline constexpr int64_t kKpIntervalNanos = 3 * kNanosPerHour;

/// Converts one time bound into an instant shown in `timezone`. A bound
/// without zone is read as wall-clock time in `timezone`; a bound with a
/// zone or offset keeps its instant. Throws std::invalid_argument
/// "Kp time bounds must not be NaT" for a missing bound (NaT, an empty text
/// or "NaT"), and std::invalid_argument for a text that is no date, an
/// unknown zone, or a local time that does not exist or is ambiguous in
/// `timezone`.
ZonedTime _timestamp(const TimeBound& value, const std::string& timezone);

/// Validates a table of Kp data and returns it in the normal form (a new
/// table; `data` is not changed): only "Kp" and "status", keys shown in
/// `timezone` (the row key keeps its name), "Kp" read as numbers (texts by
/// the decimal grammar, anything else missing) with values outside 0..9
/// missing, rows stably sorted by key and, of rows sharing a key, only the
/// last kept. std::invalid_argument with
///   "geomag_data must be a DataFrame with Kp and status columns",
///   "geomag_data must have a timezone-aware DatetimeIndex" or
///   "geomag_data contains invalid timestamps"
/// when the table lacks a column, its key is no zoned timestamp, or a key is
/// missing.
Table normalize_geomag(const Table& data, const std::string& timezone = qzdata::kChartTimeZone);

/// A closed time range in UTC.
struct UtcRange {
  Timestamp start, end;
};

/// The bounds of a Kp request read by _timestamp in `timezone`, in UTC;
/// std::invalid_argument "end_time must not precede start_time" when the end
/// comes first (equal bounds are a range).
UtcRange kp_range(const TimeBound& start_time, const TimeBound& end_time, const std::string& timezone);

/// The rows of a Kp table whose interval overlaps the closed range from
/// `start` to `end`: t + 3 h later than `start` and t not later than `end`.
Table overlapping_intervals(const Table& kp, Timestamp start_utc, Timestamp end_utc);

/// Fetches the Kp table of every interval that overlaps the closed range
/// from `start_time` to `end_time` from the GFZ Kp-index service (one GET of
/// "/app/json/" with the query start, end and index=Kp), keyed "datetime" in
/// `timezone`, with the attributes "source" = "GFZ Potsdam" and "license" =
/// "CC BY 4.0". `timeout` (seconds) limits the whole request to the
/// millisecond: connecting and waiting for the reply together, redirects
/// included, never take longer. The service address is
/// https://kp.gfz-potsdam.de unless the environment variable TREMORA_KP_URL
/// names another.
///
/// Errors: std::invalid_argument "end_time must not precede start_time",
/// "Invalid GFZ Kp response" (reply not a JSON object), "GFZ response
/// requires datetime, Kp and status arrays", "GFZ Kp response array lengths
/// differ", and those of _timestamp and normalize_geomag; HttpError for a
/// reply status of 400 or above; IOError naming the address when the
/// connection fails or times out, or when the reply body passes 64 MiB (the
/// transfer stops there); std::invalid_argument for a body that is
/// not JSON or a "datetime" element that is no date-time.
Table fetch_geomag(const TimeBound& start_time, const TimeBound& end_time,
                   const std::string& timezone = qzdata::kChartTimeZone, double timeout = 20);

/// The service address fetch_geomag uses: TREMORA_KP_URL or
/// "https://kp.gfz-potsdam.de".
std::string kp_service_url();

/// Reads a Kp file for offline work, recognising its layout by content:
///   - the service's JSON reply saved to a file;
///   - GFZ's three-hourly text layout (that of Kp_ap_since_1932.txt and
///     Kp_ap_nowcast.txt: "YYYY MM DD hh.h hh._m days days_m Kp ap D"), the
///     flag D giving the status "def" (1) or "pre" (0), Kp -1 missing;
///   - GFZ's WDC daily layout (Kp_def<year>.wdc: eight Kp codes in tenths,
///     0/3/7 for o/+/- thirds, status "def").
/// Returns a Kp table in UTC keyed "datetime", with the attributes "source"
/// and "license" of GFZ, ready for normalize_geomag. FileNotFoundError when
/// the file is missing; IOError naming the file (and line) when its content
/// is in none of the layouts or a line is malformed.
Table read_kp_file(const std::filesystem::path& path);

/// Reads the content of a Kp file held in memory, in the layouts of
/// read_kp_file; errors are read_kp_file's, naming `source` instead of a file.
Table parse_kp_text(std::string_view content, const std::string& source = "<text>");

}  // namespace tremora::geomag
