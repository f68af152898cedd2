// Tables as JSON arrays of records (one object per row, keyed by column
// name) and back.
#pragma once

#include <nlohmann/json.hpp>

#include "tremora/table.hpp"

namespace tremora::exchange {

/// JSON objects keep their keys in the order written (the column order).
using OrderedJson = nlohmann::ordered_json;

/// One object per row with the table's columns, in order: numbers, texts
/// and truth values as such, missing values as null, times as ISO texts
/// (with their offset in a zoned column), durations as "1 days 02:00:00",
/// binary values as hexadecimal texts. The row key is not written.
OrderedJson records_of(const Table& table);

/// The table of an array of records: columns in the order their keys first
/// appear, a record without a key gives a missing value. A column of
/// integers only is int64, of numbers float64, of truth values bool, of
/// anything else texts (non-text values as their JSON text); a column of
/// nulls only is texts. std::invalid_argument when `records` is not an
/// array of objects.
Table table_of(const OrderedJson& records);

}  // namespace tremora::exchange
