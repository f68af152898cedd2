// Table operations that combine or convert columns: concatenation, distinct
// values and conversion to numbers.
#include <bit>
#include <cmath>
#include <functional>
#include <unordered_map>
#include <unordered_set>

#include "tremora/errors.hpp"
#include "tremora/table.hpp"
#include "tremora/text.hpp"

namespace tremora {
namespace {

// The type a column takes in a concatenation of parts of these types.
DataType common_type(const std::string& name, const std::vector<const Column*>& parts) {
  DataType type = parts.front()->type();
  for (const Column* c : parts) {
    DataType t = c->type();
    if (t == type) continue;
    if (is_numeric(t) && is_numeric(type)) {
      type = DataType::Float64;
      continue;
    }
    throw TypeError("cannot concatenate column '" + name + "': it holds " + std::string(type_name(type)) +
                    " in one table and " + std::string(type_name(t)) + " in another");
  }
  if (type == DataType::Timestamp) {
    for (const Column* c : parts)
      if (c->zone() != parts.front()->zone())
        throw TypeError("cannot concatenate column '" + name + "': time zones '" + parts.front()->zone() + "' and '" +
                        c->zone() + "' differ");
  }
  return type;
}

// Concatenates dictionary-encoded parts, merging their dictionaries.
Column concat_dictionaries(const std::string& name, const std::vector<Column>& parts) {
  std::unordered_map<std::string, int32_t> index;
  std::vector<std::string> dict;
  std::vector<int32_t> codes;
  for (const Column& part : parts) {
    const auto& part_dict = part.dictionary();
    std::vector<int32_t> remap(part_dict.size());
    for (std::size_t i = 0; i < part_dict.size(); ++i) {
      auto [it, added] = index.try_emplace(part_dict[i], int32_t(dict.size()));
      if (added) dict.push_back(part_dict[i]);
      remap[i] = it->second;
    }
    for (int32_t code : part.codes()) codes.push_back(code < 0 ? -1 : remap[code]);
  }
  return Column::from_dictionary(name, std::move(codes), std::move(dict));
}

template <typename T>
void append_values(std::vector<T>& out, const std::vector<T>& part) {
  out.insert(out.end(), part.begin(), part.end());
}

// Concatenates parts that all hold `type` already.
Column concat_same_type(const std::string& name, DataType type, const std::vector<Column>& parts) {
  switch (type) {
    case DataType::Float32: {
      std::vector<float> v;
      for (const auto& p : parts) append_values(v, p.float32s());
      return Column::from_float32(name, std::move(v));
    }
    case DataType::Float64: {
      std::vector<double> v;
      for (const auto& p : parts) append_values(v, p.float64s());
      return Column::from_float64(name, std::move(v));
    }
    case DataType::Timestamp:
    case DataType::Duration: {
      std::vector<int64_t> v;
      for (const auto& p : parts) append_values(v, p.int64s());
      return type == DataType::Duration ? Column::from_durations(name, std::move(v))
                                        : Column::from_timestamps(name, std::move(v), parts.front().zone());
    }
    case DataType::Int64:
    case DataType::Bool: {
      std::vector<int64_t> v;
      std::vector<uint8_t> b, valid;
      bool any_null = false;
      for (const auto& p : parts) {
        for (std::size_t i = 0; i < p.size(); ++i) {
          if (type == DataType::Int64) v.push_back(p.int64s()[i]);
          else b.push_back(p.bools()[i]);
          valid.push_back(!p.is_null(i));
          any_null |= p.is_null(i);
        }
      }
      if (!any_null) valid.clear();
      return type == DataType::Int64 ? Column::from_int64(name, std::move(v), std::move(valid))
                                     : Column::from_bool(name, std::move(b), std::move(valid));
    }
    default: break;
  }
  bool all_dictionary = type == DataType::String;
  for (const auto& p : parts) all_dictionary &= p.is_dictionary();
  if (all_dictionary) return concat_dictionaries(name, parts);
  StringColumnBuilder builder(type);
  for (const auto& p : parts)
    for (std::size_t i = 0; i < p.size(); ++i) p.is_null(i) ? builder.append_null() : builder.append(p.text(i));
  return builder.finish(name);
}

// Concatenates one column of several tables (null parts are absent there).
Column concat_column(const std::string& name, const std::vector<const Column*>& parts,
                     const std::vector<std::size_t>& rows) {
  std::vector<const Column*> present;
  for (const Column* c : parts)
    if (c) present.push_back(c);
  DataType type = common_type(name, present);
  std::string zone = type == DataType::Timestamp ? present.front()->zone() : std::string{};
  std::vector<Column> same;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!parts[i]) same.push_back(Column::nulls(name, type, rows[i], zone));
    else if (parts[i]->type() != type) same.push_back(to_number(*parts[i]));
    else same.push_back(*parts[i]);
  }
  return concat_same_type(name, type, same);
}

// A hashable identity of a non-text cell for unique(); missing values share one.
uint64_t cell_identity(const Column& c, std::size_t i) {
  switch (c.type()) {
    case DataType::Float32: {
      float v = c.float32s()[i];
      return std::bit_cast<uint32_t>(v == 0 ? 0.0f : v);
    }
    case DataType::Float64: {
      double v = c.float64s()[i];
      return std::bit_cast<uint64_t>(v == 0 ? 0.0 : v);
    }
    case DataType::Bool: return c.bools()[i];
    default: return uint64_t(c.int64s()[i]);
  }
}

}  // namespace

Table concat(std::span<const Table> tables) {
  Table out;
  if (tables.empty()) return out;
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  bool all_keyed = true;
  std::vector<std::size_t> rows;
  for (const Table& t : tables) {
    for (const auto& c : t.columns())
      if (seen.insert(c.name()).second) names.push_back(c.name());
    all_keyed &= t.has_key();
    rows.push_back(t.num_rows());
  }
  for (const auto& name : names) {
    std::vector<const Column*> parts;
    for (const Table& t : tables) parts.push_back(t.has_column(name) ? &t.column(name) : nullptr);
    out.add_column(concat_column(name, parts, rows));
  }
  if (all_keyed) {
    std::vector<const Column*> keys;
    for (const Table& t : tables) keys.push_back(&t.key());
    out.set_key_column(concat_column(tables.front().key().name(), keys, rows));
  }
  out.attributes() = tables.front().attributes();
  return out;
}

Column unique(const Column& column) {
  std::vector<int64_t> first;
  bool null_seen = false;
  auto keep = [&](std::size_t i) {
    if (column.is_null(i)) {
      if (!null_seen) first.push_back(int64_t(i));
      null_seen = true;
      return true;
    }
    return false;
  };
  if (column.is_dictionary()) {
    // Texts are compared once per code, not once per row (a dictionary
    // may list a text twice).
    std::vector<uint8_t> code_seen(column.dictionary().size(), 0);
    std::unordered_set<std::string_view> seen;
    const std::vector<int32_t>& codes = column.codes();
    for (std::size_t i = 0; i < column.size(); ++i) {
      if (keep(i) || code_seen[std::size_t(codes[i])]) continue;
      code_seen[std::size_t(codes[i])] = 1;
      if (seen.insert(column.text(i)).second) first.push_back(int64_t(i));
    }
  } else if (is_text_type(column.type())) {
    std::unordered_set<std::string_view> seen;
    for (std::size_t i = 0; i < column.size(); ++i)
      if (!keep(i) && seen.insert(column.text(i)).second) first.push_back(int64_t(i));
  } else {
    std::unordered_set<uint64_t> seen;
    for (std::size_t i = 0; i < column.size(); ++i)
      if (!keep(i) && seen.insert(cell_identity(column, i)).second) first.push_back(int64_t(i));
  }
  return column.take(first);
}

Column to_number(const Column& column) {
  if (column.type() == DataType::Float64) return Column::from_float64(column.name(), column.float64s());
  if (column.type() == DataType::Float32) {
    const auto& floats = column.float32s();
    return Column::from_float64(column.name(), std::vector<double>(floats.begin(), floats.end()));
  }
  std::size_t n = column.size();
  std::vector<double> out(n);
  switch (column.type()) {
    case DataType::Int64:
      for (std::size_t i = 0; i < n; ++i) out[i] = column.is_null(i) ? std::nan("") : double(column.int64s()[i]);
      break;
    case DataType::Bool:
      for (std::size_t i = 0; i < n; ++i) out[i] = column.is_null(i) ? std::nan("") : column.bools()[i];
      break;
    case DataType::String:
      for (std::size_t i = 0; i < n; ++i) {
        auto v = column.is_null(i) ? std::nullopt : parse_decimal(column.text(i));
        out[i] = v ? *v : std::nan("");
      }
      break;
    default:
      throw TypeError("column '" + column.name() + "' holds " + std::string(type_name(column.type())) +
                      ", which cannot be read as numbers");
  }
  return Column::from_float64(column.name(), std::move(out));
}

Column parse_timestamps(const Column& texts) {
  if (texts.type() != DataType::String)
    throw TypeError("column '" + texts.name() + "' holds " + std::string(type_name(texts.type())) + ", not date texts");
  std::vector<int64_t> out(texts.size(), Timestamp::NaT);
  std::size_t with_offset = 0, parsed = 0;
  std::optional<int32_t> first_offset;
  bool one_offset = true;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (texts.is_null(i)) continue;
    ParsedDate d = parse_date_text(texts.text(i));
    out[i] = d.instant().ns;
    if (d.utc_offset_seconds) {
      if (!first_offset) first_offset = d.utc_offset_seconds;
      one_offset = one_offset && *first_offset == *d.utc_offset_seconds;
      ++with_offset;
    }
    ++parsed;
  }
  if (with_offset != 0 && with_offset != parsed)
    throw std::invalid_argument("column '" + texts.name() + "' mixes times with and without a UTC offset");
  // Times written with one offset keep it, so that they show and fall on
  // days as written; times of several offsets, and UTC times, are in UTC.
  std::string zone = !with_offset ? "" : one_offset && *first_offset != 0 ? fixed_offset_zone(*first_offset) : "UTC";
  return Column::from_timestamps(texts.name(), std::move(out), std::move(zone));
}

Column cast_float32(const Column& column) {
  if (column.type() == DataType::Float32) return column;
  if (column.type() == DataType::Float64) {
    const auto& v = column.float64s();
    return Column::from_float32(column.name(), std::vector<float>(v.begin(), v.end()));
  }
  Column numbers = to_number(column);
  const auto& v = numbers.float64s();
  return Column::from_float32(column.name(), std::vector<float>(v.begin(), v.end()));
}

}  // namespace tremora

namespace tremora {

Column to_text(const Column& column) {
  if (column.type() == DataType::String) return column;
  StringColumnBuilder b;
  for (std::size_t i = 0; i < column.size(); ++i) {
    if (column.is_null(i)) {
      b.append_null();
      continue;
    }
    switch (column.type()) {
      case DataType::Float32: b.append(python_float_text(double(column.float32s()[i]))); break;
      case DataType::Float64: b.append(python_float_text(column.float64s()[i])); break;
      default: b.append(column.at(i).to_text()); break;
    }
  }
  return b.finish(column.name());
}

std::optional<std::string> padded_code(const Column& column, std::size_t row, std::size_t width) {
  if (column.at(row).is_missing()) return std::nullopt;
  const std::vector<int64_t> one{int64_t(row)};
  Column text = to_text(column.take(one));
  std::string code(strip_whitespace(text.text(0)));
  code = code.substr(0, code.find('.'));
  while (code.size() < width) code.insert(code.begin(), '0');
  return code;
}

namespace {

// A hashable identity of a key cell, for reindex.
std::string key_of(const Column& c, std::size_t i) {
  if (is_text_type(c.type())) return std::string(c.text(i));
  return c.at(i).to_text() + (c.is_null(i) ? "\x01" : "");
}

}  // namespace

std::optional<Column> time_grid(const Column& times, int64_t step) {
  if (times.type() != DataType::Timestamp) throw TypeError("time_grid needs a timestamp column");
  if (step <= 0) throw std::invalid_argument("time_grid: the step must be positive, not " + std::to_string(step));
  int64_t first = INT64_MAX, last = INT64_MIN;
  for (int64_t t : times.int64s())
    if (t != Timestamp::NaT) first = std::min(first, t), last = std::max(last, t);
  if (first > last) return std::nullopt;
  // Every grid time lies between first and last, so only the span is checked.
  std::size_t steps = std::size_t(nanos_between(Timestamp{first}, Timestamp{last}) / step);
  std::vector<int64_t> grid(steps + 1);
  for (std::size_t k = 0; k <= steps; ++k) grid[k] = first + int64_t(k) * step;
  return Column::from_timestamps(times.name(), std::move(grid), times.zone());
}

Table reindex(const Table& table, const Column& new_key) {
  if (!table.has_key()) throw std::invalid_argument("reindex needs a table with a row key");
  const Column& key = table.key();
  if (key.type() != new_key.type())
    throw TypeError("reindex: the row key holds " + std::string(type_name(key.type())) + ", the new key " +
                    std::string(type_name(new_key.type())));
  std::unordered_map<std::string, int64_t> row_of;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (!row_of.emplace(key_of(key, i), int64_t(i)).second)
      throw std::invalid_argument("cannot reindex: the row key repeats the value " + key.at(i).to_text());
  std::vector<int64_t> rows(new_key.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    auto it = row_of.find(key_of(new_key, i));
    rows[i] = it == row_of.end() ? -1 : it->second;
  }
  Table out;
  for (const auto& c : table.columns()) out.add_column(c.take(rows));
  Column k = new_key;
  k.set_name(key.name());
  out.set_key_column(std::move(k));
  out.attributes() = table.attributes();
  return out;
}

void backward_fill(Table& table) {
  for (std::size_t c = 0; c < table.num_columns(); ++c) {
    Column& col = table.column(c);
    std::size_t n = col.size();
    std::vector<int64_t> source(n);
    int64_t next = -1;
    for (std::size_t i = n; i-- > 0;) {
      if (!col.is_null(i)) next = int64_t(i);
      source[i] = col.is_null(i) ? next : int64_t(i);
    }
    col = col.take(source);
  }
}

}  // namespace tremora
