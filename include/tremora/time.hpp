// Timestamps, durations, time zones and date texts.
//
// A Timestamp is a count of nanoseconds since 1970-01-01 00:00:00. What it
// means depends on the column that holds it: in a column with a time zone it
// is a UTC instant (shown in that zone), in a column without one it is a
// wall-clock ("naive") time read as if it were UTC. Missing times are NaT.
#pragma once

#include <compare>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace tremora {

inline constexpr int64_t kNanosPerMicro = 1'000;
inline constexpr int64_t kNanosPerSecond = 1'000'000'000;
inline constexpr int64_t kNanosPerMinute = 60 * kNanosPerSecond;
inline constexpr int64_t kNanosPerHour = 60 * kNanosPerMinute;
inline constexpr int64_t kNanosPerDay = 24 * kNanosPerHour;

/// A point in time in nanoseconds since the Unix epoch; NaT when missing.
struct Timestamp {
  /// The stored value of a missing time ("not a time").
  static constexpr int64_t NaT = std::numeric_limits<int64_t>::min();
  int64_t ns = NaT;

  constexpr bool is_nat() const noexcept { return ns == NaT; }
  friend constexpr auto operator<=>(Timestamp, Timestamp) = default;
};

/// A signed length of time in nanoseconds; NaT when missing.
struct Duration {
  int64_t ns = Timestamp::NaT;

  constexpr bool is_nat() const noexcept { return ns == Timestamp::NaT; }
  friend constexpr auto operator<=>(Duration, Duration) = default;
};

/// Calendar fields of a timestamp (proleptic Gregorian calendar).
struct CivilTime {
  int year = 1970;
  int month = 1;           // 1..12
  int day = 1;             // 1..31
  int hour = 0;            // 0..23
  int minute = 0;          // 0..59
  int second = 0;          // 0..59
  int64_t nanosecond = 0;  // 0..999'999'999
};

/// The timestamp of the given calendar fields; std::invalid_argument when a
/// field is out of range (month 13, 30 February, hour 24, ...) or the time
/// lies outside the range of int64 nanoseconds (1677-09-21 to 2262-04-11).
Timestamp make_timestamp(const CivilTime& t);
Timestamp make_timestamp(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// The calendar fields of a timestamp; std::invalid_argument for NaT.
CivilTime to_civil(Timestamp t);

/// A date text read by parse_date_text.
struct ParsedDate {
  /// The wall-clock time written in the text.
  Timestamp wall;
  /// The UTC offset in seconds when the text names one ("Z", "+08:00").
  std::optional<int32_t> utc_offset_seconds;

  /// The UTC instant when the text has an offset, else the wall time.
  Timestamp instant() const;
};

/// Reads a date text. Accepted forms, with surrounding blanks ignored:
///   a date  `20240301`, `2024-03-01`, `2024/03/01` or `2024.03.01`
///           (with a separator, month and day may have one digit);
///   then optionally a time after a blank or `T`: `18:00`, `18:00:00` or
///           `18:00:00.123456789` (up to nine fraction digits);
///   then optionally a UTC offset, directly or after a blank:
///           `Z`, `+08:00`, `+0800` or `+08` (also with `-`).
/// Throws std::invalid_argument naming the text when it is not such a date,
/// names a date that does not exist, or a time outside the range of
/// timestamps (as written, or as a UTC instant for a text with an offset).
ParsedDate parse_date_text(std::string_view text);

/// parse_date_text(text).instant(): the wall time for a text without
/// offset, the UTC instant for a text with one.
Timestamp parse_timestamp(std::string_view text);

/// Formats a timestamp with a strftime subset: %Y (4-digit year), %m, %d,
/// %H, %M, %S (two digits each), %f (six digits of microseconds) and %%.
/// Other characters are copied. NaT formats as "NaT".
std::string format_timestamp(Timestamp t, std::string_view format = "%Y-%m-%d %H:%M:%S");

/// ISO 8601 text "2024-03-01T18:00:00", with as many fraction digits as
/// needed (3, 6 or 9) when the time has a fraction. NaT gives "NaT".
std::string iso_format(Timestamp t);

/// The same in a time zone: the local time of a UTC instant followed by its
/// offset, "2024-03-01T18:00:00+08:00" ("Z" for UTC itself).
std::string iso_format(Timestamp utc, const std::string& zone);

/// ISO 8601 text to the microsecond, "2024-03-01T18:00:00", followed by a
/// six-digit fraction ".000250" when the microseconds are not zero; digits
/// below the microsecond are dropped. NaT gives "NaT".
std::string iso_format_micros(Timestamp t);

/// Text of a duration like "1 days 02:03:04" ("NaT" when missing).
std::string format_duration(Duration d);

/// The length of a step code in nanoseconds: an optional whole count
/// (default 1, at least 1) and a unit: "D" (day), "h" or "H" (hour), "min"
/// or "T" (minute), "s" or "S" (second). std::invalid_argument naming the
/// text for anything else ("1W", "0h", "h1", "") and for a step longer than
/// durations reach ("106752D").
int64_t step_code_nanos(const std::string& code);

// ---------------------------------------------------------------------------
// Checked time arithmetic. Nanoseconds since 1970 in int64 reach from
// 1677-09-21 to 2262-04-11, and durations about 292 years either way. Every
// step, span, bin width and offset goes through these functions: a result
// outside the range is a std::invalid_argument naming the values, never a
// wrap-around into another century.

/// t + ns. NaT stays NaT.
Timestamp add_nanos(Timestamp t, int64_t ns);
/// to - from, in nanoseconds (both must be times, not NaT).
int64_t nanos_between(Timestamp from, Timestamp to);
/// count * unit, in nanoseconds.
int64_t multiply_nanos(int64_t count, int64_t unit);
/// A count of `unit` nanoseconds given as a floating-point number (1.5
/// days, a Julian day in milliseconds), rounded to the nearest nanosecond;
/// whole counts are multiplied exactly. Also an error when not finite.
int64_t nanos_from_count(double count, int64_t unit);
/// The latest whole multiple of `step` (positive) nanoseconds since the
/// epoch at or before t: the start of t's step. NaT stays NaT.
Timestamp floor_to_step(Timestamp t, int64_t step);

// ---------------------------------------------------------------------------
// Time zones. A zone is an IANA name ("Asia/Shanghai", "UTC") or a fixed
// offset from UTC written "+08:00" / "-05:30", which is what times read with
// an offset ("2024-03-01 02:00+08:00") keep, so that they print and fall on
// days as they were written.

/// The zone of a fixed UTC offset: "+08:00", "-05:30", "+00:00".
std::string fixed_offset_zone(int32_t offset_seconds);

/// True for a fixed offset and for a name the IANA time-zone database knows.
bool is_known_time_zone(const std::string& zone);

/// The UTC instant of a wall-clock time in a zone. Throws
/// std::invalid_argument when the zone is unknown or the local time does not
/// exist (skipped by a clock change) or is ambiguous (repeated). NaT stays NaT.
Timestamp local_to_utc(Timestamp wall, const std::string& zone);

/// The wall-clock time of a UTC instant in a zone (std::invalid_argument for
/// an unknown zone). NaT stays NaT.
Timestamp utc_to_local(Timestamp utc, const std::string& zone);

/// The wall-clock time now in the local time zone. TZ, read at every call,
/// names it when it is set, as for the C library (man 3 tzset):
///   "Asia/Shanghai" or ":Asia/Shanghai": that zone of the system's zoneinfo
///       folder /usr/share/zoneinfo (also a link there, "PRC"; TZDIR is
///       not read);
///   "/usr/share/zoneinfo/Asia/Shanghai", or with a leading ':': an absolute
///       path to a zone file in that folder, or to a link to one: the zone
///       the file is once links are resolved;
///   "" or ":": UTC;
///   anything else names no zone and gives UTC, as the C library does for a
///       TZ it cannot read: a misspelt name, a file outside the zoneinfo
///       folder (a copy of a zone file too) or one the time-zone database
///       does not list ("right/..."), and POSIX rules such as "CST-8",
///       which the C library would follow and this clock does not.
/// Without TZ it is the zone /etc/localtime names (UTC when that names no
/// zone the time-zone database knows).
Timestamp local_now();

/// The offset of a zone from UTC at an instant, in seconds.
int32_t utc_offset_seconds(Timestamp utc, const std::string& zone);

/// True when the zone's clock is changed at an instant after `from_utc` and
/// not later than `to_utc` (never for fixed offsets).
bool offset_changes_between(Timestamp from_utc, Timestamp to_utc, const std::string& zone);

/// Converts many instants of one zone between UTC and wall clock. It keeps
/// the zone's offset period of the last look-up, so a run of times in one
/// period costs one look-up. An empty zone is naive time: both directions
/// give the time unchanged. Conversions are checked (see add_nanos).
class ZoneClock {
 public:
  /// std::invalid_argument for an unknown zone.
  explicit ZoneClock(const std::string& zone);

  /// The wall-clock time of a UTC instant. NaT stays NaT.
  Timestamp to_local(Timestamp utc);
  /// The first instant at which the wall clock shows `wall` or a later
  /// time: for a time that happens twice, its first occurrence; for a time
  /// skipped by a clock change, the instant of the change. This is where a
  /// calendar day or bin that starts at `wall` begins. NaT stays NaT.
  Timestamp start_of(Timestamp wall);
  /// Midnight of the wall-clock day of a UTC instant, as a UTC instant
  /// (by start_of).
  Timestamp start_of_day(Timestamp utc);

 private:
  void look_up(Timestamp utc);

  const void* zone_ = nullptr;   // the IANA zone; null for naive and fixed offsets
  int64_t offset_ = 0;           // offset of the current period, nanoseconds
  int64_t begin_ = 0, end_ = 0;  // the current period [begin_, end_) in UTC
};

}  // namespace tremora
