// Earthquake catalogue: reading fixed-column event lists and marking the
// events near a station by epicentral distance and magnitude.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tremora/table.hpp"

namespace tremora::quakecat {

/// Reads a catalogue file (a file, despite the parameter's name), one event
/// per line, by fixed character positions counted in UTF-8 characters from 0
/// (end exclusive):
///
///   0-14   origin time, 14 digits "%Y%m%d%H%M%S"
///   15-21  epicentre latitude, decimal degrees
///   21-27  epicentre longitude, decimal degrees
///   28-32  magnitude (local magnitude, "Ml")
///   39-    place name, to the end of the line
///
/// Characters 14, 27 and 32 to 38 are not read. Lines that are empty or hold
/// only white space are skipped; line ends may be LF, CRLF or CR, and a
/// UTF-8 byte-order mark at the start of the file is ignored. Each field has
/// its surrounding white space removed; numbers follow parse_decimal, and an
/// empty or unreadable field, or one past the end of a short line, is
/// missing (NaN, or a missing name). The origin time must be exactly 14
/// digits naming a valid date and time within the timestamp range, else it
/// is NaT.
///
/// Returns the event table: the row key "ind" (naive timestamps), then the
/// columns "lon", "lat", "magnitude" (float64) and "name" (text), one row
/// per non-blank line in file order.
///
/// FileNotFoundError naming the path when it does not exist; IOError naming
/// the path when it cannot be read, and naming the path and line number for
/// bytes that are not valid UTF-8.
///
/// The file is read whole and the table holds one row per line, so memory
/// grows in step with the file (a catalogue of millions of lines is read
/// like a short one, with no limit on its length).
Table read_quakecat(const std::filesystem::path& quakecat_dir);

/// The event table of catalogue text already in memory, read as
/// read_quakecat reads a file's content; the IOError for bytes that are not
/// valid UTF-8 names `source` and the line number.
Table parse_quakecat(std::string_view text, const std::string& source = "<text>");

/// A station position in decimal degrees.
struct Station {
  double latitude;
  double longitude;
};

/// The station used when none is given.
inline constexpr Station kDefaultStation{40.47, 115.94};

/// A distance-and-magnitude filter: an event passes when its epicentral
/// distance is strictly less than `max_distance_km` and its magnitude is at
/// least `min_magnitude`.
struct Filter {
  double max_distance_km;
  double min_magnitude;
};

/// One filter, or a list of filters of which an event must pass any one.
using Filters = std::variant<Filter, std::vector<Filter>>;

/// Marks the events of an event table (as read_quakecat returns it) for one
/// station. Returns a new table holding the rows whose key is later than
/// 1970-01-01 00:00:00 (NaT rows are dropped), with every column of `df`
/// plus, in this order:
///
///   "distance"  geodesic distance from the station on the WGS-84 ellipsoid
///               in km (float64); +inf when a coordinate is missing or not
///               finite or a latitude lies outside -90..90. Longitudes are
///               taken modulo 360.
///   "flag"      int64, 1 when the event passes at least one filter, else 0
///               (a missing magnitude never passes).
///   "size"      marker size (magnitude - 3) * 5, at least 5; NaN for a
///               missing magnitude.
///   "text"      name + "Ml" + magnitude + "\n" + distance rounded to one
///               decimal (ties to even) + "km", the numbers written as
///               Python writes floats ("4.5", "5.0", "inf", "nan"); missing
///               where the name is missing.
///
/// Without `filters` the one filter (default_distance, default_magnitude)
/// applies. The row key of the caller's `df` is renamed "date" (its rows and
/// values are left unchanged); the result's key is "date" too.
///
/// KeyError naming a missing column "lat", "lon", "magnitude" or "name";
/// TypeError when `df` has no timestamp row key. Both are raised before the
/// caller's table is touched.
Table filtered_quakecats(Table& df, Station station = kDefaultStation,
                         const std::optional<Filters>& filters = std::nullopt, double default_magnitude = 3.0,
                         double default_distance = 300);

}  // namespace tremora::quakecat
