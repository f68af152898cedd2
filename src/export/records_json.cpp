#include "records_json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace tremora::exchange {
namespace {

// The double that prints as the float prints (118.35f gives 118.35, not
// 118.34999847412109).
double shortest_double(float f) {
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, f).ptr;
  double d = 0;
  std::from_chars(buf, end, d);
  return d;
}

std::string hex_of(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

OrderedJson cell_json(const Column& c, std::size_t row) {
  if (c.is_null(row)) return nullptr;
  switch (c.type()) {
    case DataType::Float32: return shortest_double(c.float32s()[row]);
    case DataType::Float64: return std::isfinite(c.float64s()[row]) ? OrderedJson(c.float64s()[row]) : OrderedJson();
    case DataType::Int64: return c.int64s()[row];
    case DataType::Bool: return c.bools()[row] != 0;
    case DataType::String: return std::string(c.text(row));
    case DataType::Binary: return hex_of(c.text(row));
    case DataType::Timestamp: return iso_format(Timestamp{c.int64s()[row]}, c.zone());
    case DataType::Duration: return format_duration(Duration{c.int64s()[row]});
  }
  return nullptr;
}

// The element type a column of JSON values reads as.
DataType type_of(const std::vector<const OrderedJson*>& cells) {
  bool ints = true, numbers = true, truths = true, any = false;
  for (const OrderedJson* v : cells) {
    if (!v || v->is_null()) continue;
    any = true;
    ints = ints && (v->is_number_integer() && !(v->is_number_unsigned() && v->get<uint64_t>() > INT64_MAX));
    numbers = numbers && v->is_number();
    truths = truths && v->is_boolean();
  }
  if (!any) return DataType::String;
  if (ints) return DataType::Int64;
  if (numbers) return DataType::Float64;
  if (truths) return DataType::Bool;
  return DataType::String;
}

Value cell_value(const OrderedJson* v, DataType type) {
  if (!v || v->is_null()) return Value();
  switch (type) {
    case DataType::Int64: return Value(v->get<int64_t>());
    case DataType::Float64: return Value(v->get<double>());
    case DataType::Bool: return Value(v->get<bool>());
    default: return Value(v->is_string() ? v->get<std::string>() : v->dump());
  }
}

}  // namespace

OrderedJson records_of(const Table& table) {
  OrderedJson records = OrderedJson::array();
  for (std::size_t row = 0; row < table.num_rows(); ++row) {
    OrderedJson record = OrderedJson::object();
    for (const Column& c : table.columns()) record[c.name()] = cell_json(c, row);
    records.push_back(std::move(record));
  }
  return records;
}

Table table_of(const OrderedJson& records) {
  if (!records.is_array()) throw std::invalid_argument("not an array of records");
  std::vector<std::string> names;
  for (const OrderedJson& record : records) {
    if (!record.is_object()) throw std::invalid_argument("a record is not an object: " + record.dump());
    for (const auto& [name, value] : record.items())
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  Table table;
  for (const std::string& name : names) {
    std::vector<const OrderedJson*> cells;
    for (const OrderedJson& record : records) {
      auto it = record.find(name);
      cells.push_back(it == record.end() ? nullptr : &*it);
    }
    DataType type = type_of(cells);
    std::vector<Value> values;
    for (const OrderedJson* v : cells) values.push_back(cell_value(v, type));
    table.add_column(Column::from_values(name, type, values));
  }
  return table;
}

}  // namespace tremora::exchange
