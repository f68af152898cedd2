#include <cmath>
#include <ostream>

#include "tremora/errors.hpp"
#include "tremora/table.hpp"
#include "tremora/text.hpp"

namespace tremora {

std::string_view type_name(DataType type) {
  switch (type) {
    case DataType::Float32: return "float32";
    case DataType::Float64: return "float64";
    case DataType::Int64: return "int64";
    case DataType::Bool: return "bool";
    case DataType::String: return "string";
    case DataType::Binary: return "binary";
    case DataType::Timestamp: return "timestamp";
    case DataType::Duration: return "duration";
  }
  return "unknown";
}

bool is_numeric(DataType type) {
  return type == DataType::Float32 || type == DataType::Float64 || type == DataType::Int64;
}

bool is_text_type(DataType type) { return type == DataType::String || type == DataType::Binary; }

bool Value::is_missing() const {
  if (is_null()) return true;
  if (auto d = std::get_if<double>(&v_)) return std::isnan(*d);
  if (auto t = std::get_if<Timestamp>(&v_)) return t->is_nat();
  if (auto t = std::get_if<Duration>(&v_)) return t->is_nat();
  return false;
}

bool Value::is_number() const { return std::holds_alternative<int64_t>(v_) || std::holds_alternative<double>(v_); }

double Value::as_double() const {
  if (auto d = std::get_if<double>(&v_)) return *d;
  if (auto i = std::get_if<int64_t>(&v_)) return double(*i);
  if (auto b = std::get_if<bool>(&v_)) return *b ? 1.0 : 0.0;
  return std::nan("");
}

const std::string& Value::as_text() const {
  if (auto s = std::get_if<std::string>(&v_)) return *s;
  throw TypeError("value is not a text: " + to_text());
}

std::string Value::to_text() const {
  if (is_missing()) return {};
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return shortest_text(d); }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(Timestamp t) const {
      return format_timestamp(t, t.ns % kNanosPerSecond ? "%Y-%m-%d %H:%M:%S.%f" : "%Y-%m-%d %H:%M:%S");
    }
    std::string operator()(Duration d) const { return format_duration(d); }
    std::string operator()(const Bytes& b) const { return b.data; }
  };
  return std::visit(Visitor{}, v_);
}

std::ostream& operator<<(std::ostream& out, const Value& value) {
  if (value.is_null()) return out << "null";
  if (value.is_missing()) return out << (value.is_number() ? "nan" : "NaT");
  return out << value.to_text();
}

}  // namespace tremora
