// The Python docstrings of tremora.quakecat.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* read_quakecat =
    R"doc(Reads an earthquake catalogue file of fixed-column lines, one event per line.

Fields are cut at character positions counted from 0 (end exclusive): 0-14 the
origin time as 14 digits "%Y%m%d%H%M%S", 15-21 the epicentre's latitude, 21-27 its
longitude (decimal degrees), 28-32 the magnitude (local magnitude, Ml) and 39 to
the end of the line the place name. Each field is trimmed of white space. A number
that is empty or unreadable, or lies past the end of a short line, is NaN; a
missing name is None; an origin time that is not 14 digits naming a valid date and
time is NaT. Blank lines are skipped; line ends may be LF, CRLF or CR, and a UTF-8
byte-order mark is ignored. The file is read as UTF-8, whole.

Args:
    quakecat_dir: path of the catalogue file (a file, despite the name), a str or
        os.PathLike.

Returns:
    pandas.DataFrame: the events in file order, indexed "ind" (naive origin
    times), with the columns lon, lat, magnitude (float64) and name (str).

Raises:
    TypeError: quakecat_dir is not a str or os.PathLike.
    FileNotFoundError: the file does not exist.
    OSError: the file cannot be read, or holds bytes that are not valid UTF-8 (the
        message names the line).
)doc";

inline constexpr const char* filtered_quakecats =
    R"doc(Marks the events of a catalogue for one station by distance and magnitude.

Keeps the events later than 1970-01-01 00:00:00 (NaT rows are dropped) and adds,
in this order, the columns distance (the geodesic distance from the station on the
WGS-84 ellipsoid in km; inf when a coordinate is missing or not finite or a
latitude lies outside -90..90; longitudes are taken modulo 360), flag (int64, 1
when the event passes at least one filter, else 0), size (the chart marker size
(magnitude - 3) * 5, at least 5; NaN for a missing magnitude) and text (name + "Ml"
+ magnitude + "\n" + distance rounded to 0.1 + "km", e.g. "AMl4.5\n123.5km"; None
where the name is missing). An event passes a filter when its distance is less
than the filter's distance_km and its magnitude is at least min_magnitude; a
missing magnitude never passes. df's index is renamed only when the call succeeds.

Args:
    df: the events, a pandas.DataFrame with a DatetimeIndex (origin times) and the
        columns lat, lon, magnitude and name, as read_quakecat returns it. Its
        index is renamed "date"; its rows and values are not changed.
    station: the station's position, a (latitude, longitude) tuple or list in
        decimal degrees.
    filters: one (distance_km, min_magnitude) tuple, or a list of them, e.g.
        [(200, 3), (300, 4), (500, 5)] (3 and more within 200 km, 4 and more
        within 300 km, 5 and more within 500 km); only a list counts as a list of
        filters. None for the one filter (default_distance, default_magnitude).
    default_magnitude: minimum magnitude of the filter used when filters is None.
    default_distance: distance limit in km of the filter used when filters is
        None.

Returns:
    pandas.DataFrame: a new table indexed "date" with df's columns and distance,
    flag, size and text.

Raises:
    KeyError: df lacks the column lat, lon, magnitude or name.
    TypeError: df is not a DataFrame or its index holds no timestamps, or station
        or a filter is not a pair of numbers.
    ValueError: station or a filter does not hold exactly two values.
)doc";

}  // namespace tremora::python::doc
