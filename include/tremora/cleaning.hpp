// Raw value cleaning: day rows whose OBSVALUE holds a whole day of samples
// become one row per sample.
#pragma once

#include "tremora/table.hpp"

namespace tremora::cleaning {

/// Splits day rows into one row per sample.
///
/// `df` needs a STARTDATE column (the instant of each row's first sample)
/// and an OBSVALUE column; all other columns are carried along.
/// `sample_by_seconds` is the spacing of the samples within a row.
///
/// Spacing of 3600 s or less (the split case): each row's OBSVALUE text is
/// stripped of surrounding white space and cut at every single space; part k
/// is the sample at STARTDATE + k units, where the unit is a second for a
/// spacing of 1, an hour for 3600 and a minute for every other spacing (so
/// 600 s gives samples one minute apart). Two adjacent spaces make an empty
/// part, which is a missing sample. A row whose OBSVALUE is missing gives one
/// row with a missing STARTDATE and value. The result is a new table: the
/// other columns in input order (texts dictionary-encoded, so repeated codes
/// share their text), then OBSVALUE; `df` is left as it was. OBSVALUE must
/// hold texts (TypeError otherwise) and STARTDATE timestamps (TypeError); a
/// row whose samples would run past the range of timestamps (2262-04-11) is
/// std::invalid_argument naming the row.
///
/// Spacing above 3600 s (daily data): `df` itself is sorted by STARTDATE,
/// re-keyed by it and its OBSVALUE converted; the result is that table.
///
/// In both cases the result is sorted by STARTDATE (stable; missing times
/// last), STARTDATE is the row key (the former row key is dropped), and
/// OBSVALUE is float32: texts are read with parse_decimal, unreadable texts
/// and missing values become NaN, numbers are rounded to float32. KeyError
/// names a missing STARTDATE or OBSVALUE column; on any error `df` is unchanged.
Table split_lines(Table& df, double sample_by_seconds);

/// The same for a table the caller gives up: the daily case converts it
/// without a copy.
Table split_lines(Table&& df, double sample_by_seconds);

/// The same for a table that must not change: the daily case converts a copy.
Table split_lines(const Table& df, double sample_by_seconds);

}  // namespace tremora::cleaning
