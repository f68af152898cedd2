// The names of the precursor database's schema (QZDATA) and the defaults
// that several libraries share, written once: the columns of the
// observation and log tables, the default log type, the chart clock and
// the codes the charts and look-ups leave out.
#pragma once

#include <array>
#include <string_view>

namespace tremora::qzdata {

/// Columns of the observation tables (and of the tables fetched from them).
/// The time of a row: a day in the stored tables, a sample after splitting
/// (then the row key).
inline constexpr char kStartDate[] = "STARTDATE";
/// The value: a day of samples as text (or gzip bytes) when stored, a
/// number after splitting.
inline constexpr char kObsValue[] = "OBSVALUE";
/// The three codes of a series.
inline constexpr char kStationId[] = "STATIONID";
inline constexpr char kPointId[] = "POINTID";
inline constexpr char kItemId[] = "ITEMID";
/// The sampling-rate code of a row ("01" minutes, ...), where a table has it.
inline constexpr char kSampleRate[] = "SAMPLERATE";
/// The event-type code of a log (dialog) entry.
inline constexpr char kEventId[] = "EVTID";

/// The series key: rows that agree in these three columns form one series.
inline constexpr std::array<std::string_view, 3> kSeriesKey = {kStationId, kPointId, kItemId};

/// The event type of the log entries fetched when none is named.
inline constexpr char kDefaultLogType[] = "313";

/// The time zone of the charts' clock and of times given without a zone.
inline constexpr char kChartTimeZone[] = "Asia/Shanghai";

/// The method code the method look-ups drop.
inline constexpr std::string_view kExcludedMethod = "417";
/// Items that the by-items layout does not draw.
inline constexpr std::array<std::string_view, 3> kItemsNotByItem = {"3128", "3129", "999999"};
/// Items that the by-stations layout does not draw.
inline constexpr std::array<std::string_view, 2> kItemsNotByStation = {"3215", "3216"};
/// The station code that the by-stations layout does not draw.
inline constexpr std::string_view kStationNotByStation = "999999";

/// True when `code` is one of `codes`.
template <std::size_t N>
constexpr bool is_one_of(std::string_view code, const std::array<std::string_view, N>& codes) {
  for (std::string_view c : codes)
    if (c == code) return true;
  return false;
}

}  // namespace tremora::qzdata
