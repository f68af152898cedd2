#include "leaf.hpp"

namespace tremora::parquet {
namespace {

using namespace meta;

[[noreturn]] void bad(const std::string& what) { throw FormatError(what); }

int64_t unit_nanos(TimeUnit u) { return u == TimeUnit::Millis ? 1'000'000 : u == TimeUnit::Micros ? 1'000 : 1; }

}  // namespace

Leaf leaf_of(const SchemaElement& e, const std::map<std::string, std::string>& kv) {
  using K = LogicalType::Kind;
  if (!e.type || e.num_children > 0) bad("nested columns are not supported: '" + e.name + "'");
  if (e.repetition == Repetition::Repeated) bad("repeated columns are not supported: '" + e.name + "'");
  Leaf leaf;
  leaf.name = e.name;
  leaf.physical = *e.type;
  leaf.optional = e.repetition != Repetition::Required;
  const LogicalType& lt = e.logical;
  int32_t ct = e.converted_type.value_or(-1);
  bool decimal = lt.kind == K::Decimal || ct == kDecimal;
  leaf.scale = lt.kind == K::Decimal ? lt.scale : e.scale;
  switch (*e.type) {
    case PhysicalType::Boolean: leaf.conv = Conv::Bool, leaf.type = DataType::Bool; break;
    case PhysicalType::Int32:
      if (lt.kind == K::Date || ct == kDate) leaf.conv = Conv::I32Date, leaf.type = DataType::Timestamp;
      else if (decimal) leaf.conv = Conv::I32Decimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::Time || ct == kTimeMillis) leaf.conv = Conv::I32TimeMillis, leaf.type = DataType::Duration;
      else if ((lt.kind == K::Integer && !lt.is_signed) || ct == kUint8 || ct == kUint16 || ct == kUint32)
        leaf.conv = Conv::U32, leaf.type = DataType::Int64;
      else leaf.conv = Conv::I32, leaf.type = DataType::Int64;
      break;
    case PhysicalType::Int64:
      if (lt.kind == K::Timestamp) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Timestamp, leaf.unit_ns = unit_nanos(lt.unit);
        if (lt.adjusted_to_utc) leaf.zone = "UTC";
      } else if (ct == kTimestampMillis || ct == kTimestampMicros) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Timestamp, leaf.zone = "UTC";
        leaf.unit_ns = ct == kTimestampMillis ? 1'000'000 : 1'000;
      } else if (decimal) {
        leaf.conv = Conv::I64Decimal, leaf.type = DataType::Float64;
      } else if (lt.kind == K::Time || ct == kTimeMicros) {
        leaf.conv = Conv::I64Scaled, leaf.type = DataType::Duration;
        leaf.unit_ns = lt.kind == K::Time ? unit_nanos(lt.unit) : 1'000;
      } else if ((lt.kind == K::Integer && !lt.is_signed) || ct == kUint64) {
        leaf.conv = Conv::U64, leaf.type = DataType::Int64;
      } else {
        leaf.conv = Conv::I64, leaf.type = DataType::Int64;
      }
      break;
    case PhysicalType::Int96: leaf.conv = Conv::I96, leaf.type = DataType::Timestamp; break;
    case PhysicalType::Float: leaf.conv = Conv::Float, leaf.type = DataType::Float32; break;
    case PhysicalType::Double: leaf.conv = Conv::Double, leaf.type = DataType::Float64; break;
    case PhysicalType::ByteArray:
      if (decimal) leaf.conv = Conv::BytesDecimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::String || lt.kind == K::Enum || lt.kind == K::Json || ct == kUtf8 || ct == kEnum ||
               ct == kJson)
        leaf.conv = Conv::Bytes, leaf.type = DataType::String;
      else leaf.conv = Conv::Bytes, leaf.type = DataType::Binary;
      break;
    case PhysicalType::FixedLenByteArray:
      if (e.type_length <= 0) bad("column '" + e.name + "' has no fixed length");
      leaf.fixed_len = e.type_length;
      if (decimal) leaf.conv = Conv::FixedDecimal, leaf.type = DataType::Float64;
      else if (lt.kind == K::Float16 && e.type_length == 2) leaf.conv = Conv::Float16, leaf.type = DataType::Float32;
      else leaf.conv = Conv::Fixed, leaf.type = DataType::Binary;
      break;
    default: bad("column '" + e.name + "' has an unknown physical type " + std::to_string(int(*e.type)));
  }
  if (auto z = kv.find("tremora.zone." + e.name); z != kv.end() && leaf.type == DataType::Timestamp)
    leaf.zone = z->second;
  if (auto t = kv.find("tremora.type." + e.name); t != kv.end() && t->second == "duration" && leaf.conv == Conv::I64)
    leaf.type = DataType::Duration;
  return leaf;
}

}  // namespace tremora::parquet
