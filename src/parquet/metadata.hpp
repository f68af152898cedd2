// The parts of Parquet's footer and page metadata that tremora reads and
// writes, with their compact-protocol (de)serialisation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "thrift_compact.hpp"

namespace tremora::parquet::meta {

enum class PhysicalType : int32_t {
  Boolean = 0,
  Int32 = 1,
  Int64 = 2,
  Int96 = 3,
  Float = 4,
  Double = 5,
  ByteArray = 6,
  FixedLenByteArray = 7
};
enum class Repetition : int32_t { Required = 0, Optional = 1, Repeated = 2 };
enum class Encoding : int32_t {
  Plain = 0,
  PlainDictionary = 2,
  Rle = 3,
  BitPacked = 4,
  DeltaBinaryPacked = 5,
  DeltaLengthByteArray = 6,
  DeltaByteArray = 7,
  RleDictionary = 8,
  ByteStreamSplit = 9
};
enum class Codec : int32_t {
  Uncompressed = 0,
  Snappy = 1,
  Gzip = 2,
  Lzo = 3,
  Brotli = 4,
  Lz4 = 5,
  Zstd = 6,
  Lz4Raw = 7
};
enum class PageType : int32_t { Data = 0, Index = 1, Dictionary = 2, DataV2 = 3 };

// Converted types (the legacy annotations) that tremora interprets.
enum ConvertedType : int32_t {
  kUtf8 = 0,
  kEnum = 4,
  kDecimal = 5,
  kDate = 6,
  kTimeMillis = 7,
  kTimeMicros = 8,
  kTimestampMillis = 9,
  kTimestampMicros = 10,
  kUint8 = 11,
  kUint16 = 12,
  kUint32 = 13,
  kUint64 = 14,
  kJson = 19
};

enum class TimeUnit { Millis, Micros, Nanos };

/// The logical type annotation (the union of the format), as far as it matters here.
struct LogicalType {
  enum class Kind { None, String, Enum, Decimal, Date, Time, Timestamp, Integer, Unknown, Json, Uuid, Float16, Other };
  Kind kind = Kind::None;
  int32_t scale = 0, precision = 0;  // Decimal
  bool adjusted_to_utc = false;      // Time, Timestamp
  TimeUnit unit = TimeUnit::Millis;  // Time, Timestamp
  int32_t bit_width = 0;             // Integer
  bool is_signed = true;             // Integer
};

struct SchemaElement {
  std::optional<PhysicalType> type;
  int32_t type_length = 0;
  std::optional<Repetition> repetition;
  std::string name;
  int32_t num_children = 0;
  std::optional<int32_t> converted_type;
  int32_t scale = 0, precision = 0;
  LogicalType logical;
};

struct Statistics {
  std::optional<std::string> max_value, min_value;
  std::optional<int64_t> null_count;
};

struct ColumnMetaData {
  PhysicalType type = PhysicalType::Int64;
  std::vector<Encoding> encodings;
  std::vector<std::string> path;
  Codec codec = Codec::Uncompressed;
  int64_t num_values = 0;
  int64_t total_uncompressed_size = 0;
  int64_t total_compressed_size = 0;
  int64_t data_page_offset = 0;
  std::optional<int64_t> dictionary_page_offset;
  std::optional<Statistics> statistics;
};

struct ColumnChunk {
  int64_t file_offset = 0;
  std::optional<ColumnMetaData> meta;
};

struct RowGroup {
  std::vector<ColumnChunk> columns;
  int64_t total_byte_size = 0;
  int64_t num_rows = 0;
};

struct KeyValue {
  std::string key;
  std::optional<std::string> value;
};

struct FileMetaData {
  int32_t version = 1;
  std::vector<SchemaElement> schema;
  int64_t num_rows = 0;
  std::vector<RowGroup> row_groups;
  std::vector<KeyValue> key_value_metadata;
  std::string created_by;
  /// Number of leaf columns that carry TypeDefinedOrder (written only).
  std::size_t column_orders = 0;
};

struct DataPageHeader {
  int32_t num_values = 0;
  Encoding encoding = Encoding::Plain;
  Encoding definition_level_encoding = Encoding::Rle;
  Encoding repetition_level_encoding = Encoding::Rle;
};

struct DataPageHeaderV2 {
  int32_t num_values = 0, num_nulls = 0, num_rows = 0;
  Encoding encoding = Encoding::Plain;
  int32_t definition_levels_byte_length = 0, repetition_levels_byte_length = 0;
  bool is_compressed = true;
};

struct DictionaryPageHeader {
  int32_t num_values = 0;
  Encoding encoding = Encoding::Plain;
};

struct PageHeader {
  PageType type = PageType::Data;
  int32_t uncompressed_page_size = 0;
  int32_t compressed_page_size = 0;
  std::optional<DataPageHeader> data;
  std::optional<DictionaryPageHeader> dictionary;
  std::optional<DataPageHeaderV2> data_v2;
};

void write(thrift::Writer& w, const FileMetaData& m);
void write(thrift::Writer& w, const PageHeader& h);
void write_statistics(thrift::Writer& w, int16_t id, const Statistics& s);

FileMetaData read_file_metadata(thrift::Reader& r);
PageHeader read_page_header(thrift::Reader& r);

}  // namespace tremora::parquet::meta
