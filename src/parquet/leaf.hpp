// How a column of a Parquet schema becomes a tremora column: its storage,
// the conversion of its stored values, and its element type.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>

#include "metadata.hpp"
#include "tremora/table.hpp"

namespace tremora::parquet {

// How the stored values of a leaf column become tremora values.
enum class Conv {
  Bool,
  I32,
  U32,
  I32Date,
  I32TimeMillis,
  I32Decimal,
  I64,
  U64,  // unsigned 64-bit: read exactly while it fits in int64, refused beyond
  I64Scaled,
  I64Decimal,
  I96,
  Float,
  Double,
  Bytes,
  BytesDecimal,
  Fixed,
  FixedDecimal,
  Float16
};

struct Leaf {
  std::string name;
  meta::PhysicalType physical = meta::PhysicalType::Int64;
  Conv conv = Conv::I64;
  DataType type = DataType::Int64;
  std::string zone;
  bool optional = true;
  int64_t unit_ns = 1;    // I64Scaled: nanoseconds per stored unit
  int32_t scale = 0;      // decimals
  int32_t fixed_len = 0;  // FIXED_LEN_BYTE_ARRAY
};

struct FormatError : std::exception {
  std::string message;
  explicit FormatError(std::string m) : message(std::move(m)) {}
  const char* what() const noexcept override { return message.c_str(); }
};

/// The leaf of a flat schema element, from its physical and logical types
/// (and the file's "tremora.type.<column>" marks). FormatError for nested,
/// repeated and unknown columns.
Leaf leaf_of(const meta::SchemaElement& e, const std::map<std::string, std::string>& kv);

}  // namespace tremora::parquet
