// Parquet files: reading and writing flat tables.
//
// Type mapping (tremora element type <-> Parquet physical type and annotation):
//   float32   <-> FLOAT
//   float64   <-> DOUBLE
//   int64     <-> INT64
//   bool      <-> BOOLEAN
//   string    <-> BYTE_ARRAY annotated STRING (plain or dictionary-encoded);
//                 STRING values are UTF-8, so a text that is not is refused
//   binary    <-> BYTE_ARRAY without annotation (any bytes)
//   timestamp <-> INT64 TIMESTAMP(NANOS); isAdjustedToUTC is true when the
//                 column has a time zone, whose name is kept in the key-value
//                 metadata ("tremora.zone.<column>") so that it reads back;
//                 naive timestamps have isAdjustedToUTC false
//   duration  <-> INT64 nanoseconds (marked "tremora.type.<column>" = "duration")
// Every column is written OPTIONAL; missing values (NaN, NaT, nulls) are
// written as nulls and read back as the missing value of their type.
//
// Files of other writers are read with these further mappings: INT32 and
// unsigned integers -> int64 (an unsigned 64-bit value above INT64_MAX is
// refused with an error naming its column, never read as another number);
// DATE -> naive timestamp; TIMESTAMP in millis, micros or nanos ->
// timestamp (zone "UTC" when adjusted to UTC); legacy INT96 timestamps ->
// naive timestamp; DECIMAL (INT32, INT64, BYTE_ARRAY, FIXED_LEN_BYTE_ARRAY)
// -> float64; TIME -> duration; FLOAT16 -> float32; ENUM and JSON -> string;
// other byte arrays -> binary. Pages may be PLAIN, dictionary-encoded,
// DELTA_BINARY_PACKED, DELTA_LENGTH_BYTE_ARRAY, DELTA_BYTE_ARRAY or
// BYTE_STREAM_SPLIT, data pages v1 or v2, compressed with SNAPPY, GZIP,
// ZSTD, LZ4 (Hadoop's framing or a bare block), LZ4_RAW, BROTLI or not at
// all, in any number of row groups. Nested columns (lists, maps, structs)
// and encrypted files are not supported.
//
// Every failure to read is a tremora::IOError naming the file and what was
// wrong; the reader never trusts a size or count from the file without
// checking it against the data that is there. Memory stays in proportion to
// the file: a file may hold at most 16 Mi values plus 64 per byte of the
// file (rows times columns), a page's stated size must be one its codec can
// reach from its compressed bytes (gzip 1032, snappy 22, LZ4 256, zstd 65536
// times; BROTLI output is grown as it comes, up to the stated size),
// and the footer's Thrift structures may nest at most 32 levels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tremora/table.hpp"

namespace tremora::parquet {

enum class Compression { none, snappy, gzip, zstd };

struct WriteOptions {
  /// Page compression.
  Compression compression = Compression::snappy;
  /// Rows per row group (at least 1).
  int64_t row_group_size = 1 << 20;
  /// Dictionary-encode string columns (plain encoding is used for a column
  /// whose distinct texts would make a dictionary larger than 1 MiB).
  bool dictionary = true;
  /// Key-value metadata to store, in addition to the table's attributes
  /// (an entry here wins over an attribute of the same key).
  std::map<std::string, std::string> metadata{};
  /// Also write the row key, as the first column.
  bool write_key = false;
};

/// Writes a table atomically: to a temporary file in the target's folder,
/// renamed over `path` when complete. IOError naming the path on failure;
/// std::invalid_argument naming the column and row (counted from 0) of a
/// string value that is not valid UTF-8 (the file is then left as it was).
void write_table(const Table& table, const std::filesystem::path& path, const WriteOptions& options = {});

/// The bytes of the Parquet file of a table (errors as write_table).
std::string write_table_to_bytes(const Table& table, const WriteOptions& options = {});

/// Reads a whole file. The key-value metadata becomes the table's
/// attributes (tremora's own entries excepted). FileNotFoundError when the
/// file does not exist, IOError when it is not a readable Parquet file.
Table read_table(const std::filesystem::path& path);

/// Reads Parquet bytes; `source` names them in error messages.
Table read_table_from_bytes(std::string_view bytes, const std::string& source = "<bytes>");

/// The key-value metadata of a file (all entries, tremora's own included).
std::map<std::string, std::string> read_metadata(const std::filesystem::path& path);

/// One column of a file's schema as tremora reads it.
struct ColumnSchema {
  std::string name;
  DataType type = DataType::Float64;
  /// Time zone of a timestamp column ("" for naive times).
  std::string zone;
  /// False for REQUIRED columns.
  bool nullable = true;
};

/// The columns of a file, without reading its data.
std::vector<ColumnSchema> read_schema(const std::filesystem::path& path);

}  // namespace tremora::parquet
