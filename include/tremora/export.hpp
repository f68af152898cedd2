// VUZO files: an observation table packed for exchange with the description
// of its stations, items and sampling rate.
//
// A VUZO file is an ordinary Parquet file (any Parquet reader reads its
// rows) that holds:
//   - the observation rows: STARTDATE first, as timestamps (the row key of a
//     fetched table becomes this column; its time zone is kept), OBSVALUE as
//     float32, the codes STATIONID, POINTID and ITEMID as texts, and every
//     other column of the table as it was;
//   - five key-value entries of the file's metadata, each a JSON text:
//       "vuzo.version"   "1", the layout version
//       "station_info"   array of station records, one object per row of the
//                        stations table, keyed by that table's column names
//       "item_info"      array of item records, the same from the items table
//       "sampling_rate"  the seconds between samples, a number
//       "export_time"    the local time of the export, a string
//                        "2024-05-10T08:30:00.123456" (no zone)
// Record values are JSON numbers, texts, truth values or null; times are
// written as ISO texts and binary values as hexadecimal texts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "tremora/table.hpp"

// `export` is a C++ keyword: the namespace of the VUZO converter is `exchange`.
namespace tremora::exchange {

/// The metadata key that marks a VUZO file, and the layout version written.
inline constexpr std::string_view kVersionKey = "vuzo.version";
inline constexpr std::string_view kVersion = "1";

/// The description a VUZO table carries beside its rows.
struct VuzoContext {
  /// The station records: rows of the stations table, with its columns.
  Table station_info;
  /// The item records: rows of the items table, with its columns.
  Table item_info;
  /// Seconds between samples.
  int64_t sampling_rate = 0;
  /// Local time of the export, "2024-05-10T08:30:00.123456" (iso_format_micros).
  std::string export_time;
};

/// The VUZO table of an observation table and its context: the rows laid
/// out as described above, the table's own attributes kept, and the five
/// entries as text attributes (which parquet::write_table stores as the
/// file's key-value metadata). KeyError naming STARTDATE or OBSVALUE when
/// the table lacks one; TypeError when STARTDATE does not hold timestamps
/// or OBSVALUE does not hold numbers (day rows are split first).
Table to_vuzo(const Table& df, const VuzoContext& metadata);

/// The context of a VUZO table, read back from its attributes.
/// IOError naming `source` when an entry is missing or malformed, or the
/// version is one this reader does not know.
VuzoContext context_of(const Table& vuzo, const std::string& source = "<table>");

/// A VUZO file read back: the table as to_vuzo made it (attributes
/// included) and its context.
struct VuzoFile {
  Table table;
  VuzoContext context;
};

/// Reads a VUZO file. FileNotFoundError when it does not exist; IOError
/// naming the file when it is not a readable Parquet file or not a VUZO file.
VuzoFile read_vuzo(const std::filesystem::path& path);

/// Reads the bytes of a VUZO file held in memory (a download, an archive
/// member); IOError naming `source` as read_vuzo names the file.
VuzoFile read_vuzo_from_bytes(std::string_view bytes, const std::string& source = "<bytes>");

}  // namespace tremora::exchange
