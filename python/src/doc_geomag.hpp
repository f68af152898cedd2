// The Python docstrings of tremora.geomag.
#pragma once

namespace tremora::python::doc {

inline constexpr const char* fetch_geomag =
    R"doc(Fetches the Kp index of a time range from the GFZ Potsdam Kp-index service.

Sends one GET of <service>/app/json/ with the query start (the UTC start rounded
down to a three-hour boundary), end and index=Kp, and keeps every three-hour
interval that overlaps the closed range start_time..end_time: an interval that ends
exactly at start_time is left out, one that begins exactly at end_time is kept. The
service address is kp_service_url(). Nothing is cached.

Args:
    start_time: first time of the range: a date-time text ("2024-03-01",
        "2024-03-01 10:30", "2024-03-01T10:30:00+08:00", "20240301") or a
        datetime.datetime, datetime.date, pandas.Timestamp or numpy.datetime64. A
        naive time is a wall-clock time in timezone; an aware one, or a text with
        an offset, keeps its instant.
    end_time: last time of the range, in the forms of start_time; it may equal
        start_time.
    timezone: IANA time-zone name ("Asia/Shanghai", "UTC") in which naive bounds
        are read and the result's index is shown.
    timeout: limit in seconds of the whole request (connecting and waiting for the
        reply, redirects included); must be positive.

Returns:
    pandas.DataFrame: the Kp table, with the index "datetime" (the start of each
    interval, timezone-aware in timezone, unique and ascending) and the columns Kp
    (float64, NaN where the value is absent or outside 0 to 9) and status (as the
    service gives it: "def" or "pre"); attrs "source" = "GFZ Potsdam" and
    "license" = "CC BY 4.0".

Raises:
    TypeError: a bound is neither a text nor a date-time.
    ValueError: a bound that names no time (None, NaT, "" or "NaT": "Kp time bounds
        must not be NaT"), a text that is no date, an unknown timezone, a wall-clock
        time that a clock change skips or repeats in timezone, end_time before
        start_time ("end_time must not precede start_time"), a timeout that is not
        positive, or a reply that is not JSON or not of the service's shape
        ("Invalid GFZ Kp response", "GFZ response requires datetime, Kp and status
        arrays", "GFZ Kp response array lengths differ").
    RuntimeError: the service answers with an HTTP status of 400 or above.
    OSError: the connection fails or times out, or the reply passes 64 MiB.
)doc";

inline constexpr const char* normalize_geomag = R"doc(Brings Kp data into the normal form of a Kp table.

The result is a new DataFrame (data is not changed) with only the columns Kp and
status; the index keeps its name and its instants and is shown in timezone. Kp is
read as numbers (texts that read as decimals become those numbers, anything else
NaN) and values outside 0 to 9 become NaN; the rows are sorted by time (stably),
and of rows with the same time only the last is kept. data's attrs are kept.

Args:
    data: Kp data, a pandas.DataFrame with a timezone-aware DatetimeIndex (the
        starts of the three-hour intervals) and the columns Kp and status.
    timezone: IANA time-zone name in which the index is shown.

Returns:
    pandas.DataFrame: the Kp table.

Raises:
    ValueError: data is not a DataFrame or lacks Kp or status ("geomag_data must be
        a DataFrame with Kp and status columns"), its index is not timezone-aware
        timestamps ("geomag_data must have a timezone-aware DatetimeIndex") or holds
        NaT ("geomag_data contains invalid timestamps"), or timezone is unknown.
    TypeError: a column holds values a table cannot take.
)doc";

inline constexpr const char* kp_range = R"doc(The bounds of a Kp request as UTC instants.

Each bound is read as fetch_geomag reads it.

Args:
    start_time: first time: a date-time text or a datetime.datetime,
        datetime.date, pandas.Timestamp or numpy.datetime64; a naive time is a
        wall-clock time in timezone, an aware one keeps its instant.
    end_time: last time, in the forms of start_time; it may equal start_time.
    timezone: IANA time-zone name in which naive bounds are read.

Returns:
    tuple: (start, end), timezone-aware pandas.Timestamp values in UTC.

Raises:
    TypeError: a bound is neither a text nor a date-time.
    ValueError: a bound that names no time ("Kp time bounds must not be NaT"), a
        text that is no date, an unknown timezone, a wall-clock time that a clock
        change skips or repeats, or end_time before start_time ("end_time must not
        precede start_time").
)doc";

inline constexpr const char* overlapping_intervals =
    R"doc(The rows of a Kp table whose three-hour interval overlaps a closed range.

A row whose interval starts at t is kept when t + 3 hours is later than start_utc
and t is not later than end_utc; rows keep their order, and rows whose time is NaT
are dropped.

Args:
    kp: a Kp table, a pandas.DataFrame indexed by the starts of the intervals (a
        DatetimeIndex; naive times are UTC).
    start_utc: start of the range: a date-time text or a datetime.datetime,
        datetime.date, pandas.Timestamp or numpy.datetime64; an aware time keeps its
        instant, a naive one is UTC.
    end_utc: end of the range (included), in the forms of start_utc.

Returns:
    pandas.DataFrame: the rows kept, with kp's columns and index.

Raises:
    TypeError: kp is not a DataFrame, its index is no DatetimeIndex, or a bound
        is neither a text nor a date-time.
    ValueError: a bound text that pandas cannot read as a time.
)doc";

inline constexpr const char* kp_service_url = R"doc(The address of the Kp-index service that fetch_geomag asks.

Returns:
    str: the environment variable TREMORA_KP_URL when it is set and not empty,
    else "https://kp.gfz-potsdam.de", without trailing slashes.
)doc";

inline constexpr const char* read_kp_file = R"doc(Reads a GFZ Kp file for offline work.

The layout is recognised by content: the service's JSON reply saved to a file; the
three-hourly text layout of Kp_ap_since_1932.txt and Kp_ap_nowcast.txt ("YYYY MM DD
hh.h hh._m days days_m Kp ap D", D = 1 giving the status "def" and 0 "pre", Kp -1
missing); or the WDC daily layout of Kp_def<year>.wdc (eight Kp codes in tenths
with thirds written 0, 3 and 7, status "def"). The text layouts skip blank lines
and lines starting with "#"; a UTF-8 byte-order mark is ignored. Rows keep the
file's order; pass the result through normalize_geomag for the normal form.

Args:
    path: the file, a str or os.PathLike.

Returns:
    pandas.DataFrame: a Kp table with the index "datetime" (interval starts,
    timezone-aware in UTC), the columns Kp (float64, NaN where missing) and
    status, and attrs "source" = "GFZ Potsdam" and "license" = "CC BY 4.0" (or
    those of the JSON reply's "meta").

Raises:
    TypeError: path is not a str or os.PathLike.
    FileNotFoundError: the file does not exist.
    OSError: the file cannot be read, is not text, holds no Kp data lines, or has a
        malformed line (the message names the file and line).
)doc";

}  // namespace tremora::python::doc
