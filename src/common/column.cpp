#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <unordered_map>

#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"
#include "tremora/table.hpp"

namespace tremora {
namespace {

bool is_int_storage(DataType t) { return t == DataType::Int64 || t == DataType::Timestamp || t == DataType::Duration; }

void check_validity(const std::vector<uint8_t>& valid, std::size_t size, const std::string& name) {
  if (!valid.empty() && valid.size() != size)
    throw std::invalid_argument("column '" + name + "': validity flags do not match the values");
}

// Rows gathered by one task at a time.
constexpr std::size_t kGatherPiece = std::size_t(1) << 16;

// Gathers values in parallel pieces; a negative row gives `missing`. A row
// past the end of `values` is not read: it also gives `missing` and sets
// `past_end`, for the caller to report once all pieces have ended. Checking
// in the gather spares the rows a pass of their own.
template <typename T>
std::vector<T> gather(const std::vector<T>& values, std::span<const int64_t> rows, T missing,
                      std::atomic<bool>& past_end) {
  std::vector<T> out = large_vector<T>(rows.size());
  const T* src = values.data();
  const int64_t size = int64_t(values.size());
  parallel_pieces(rows.size(), kGatherPiece, [&](std::size_t begin, std::size_t end) {
    bool beyond = false;
    for (std::size_t i = begin; i < end; ++i) {
      int64_t r = rows[i];
      beyond |= r >= size;
      out[i] = r < 0 || r >= size ? missing : src[r];
    }
    if (beyond) past_end.store(true, std::memory_order_relaxed);
  });
  return out;
}

// The validity of the rows taken (none to keep when every one is valid),
// looked at and gathered in parallel; the rows are within the column.
std::vector<uint8_t> gather_validity(const std::vector<uint8_t>& valid, std::span<const int64_t> rows) {
  auto is_valid = [&](int64_t r) { return r >= 0 && (valid.empty() || valid[std::size_t(r)]); };
  std::atomic<bool> any_null = false;
  parallel_pieces(rows.size(), kGatherPiece, [&](std::size_t begin, std::size_t end) {
    bool here = false;
    for (std::size_t i = begin; i < end; ++i) here |= !is_valid(rows[i]);
    if (here) any_null.store(true, std::memory_order_relaxed);
  });
  if (!any_null) return {};
  std::vector<uint8_t> out = large_vector<uint8_t>(rows.size());
  parallel_pieces(rows.size(), kGatherPiece, [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) out[i] = is_valid(rows[i]);
  });
  return out;
}

}  // namespace

Column::Column() = default;

namespace {

// A copy of a buffer; one of several MiB in memory advised for huge pages.
template <typename Buffer>
Buffer copied(const Buffer& from) {
  constexpr std::size_t kLarge = std::size_t(4) << 20;
  if (from.size() * sizeof(typename Buffer::value_type) < kLarge) return from;
  Buffer out;
  out.reserve(capacity_for_huge_pages(from.size(), sizeof(typename Buffer::value_type)));
  advise_huge_pages(out.data(), out.capacity() * sizeof(typename Buffer::value_type));
  out.assign(from.begin(), from.end());
  return out;
}

}  // namespace

Column::Column(const Column& other)
    : name_(other.name_),
      type_(other.type_),
      f32_(copied(other.f32_)),
      f64_(copied(other.f64_)),
      i64_(copied(other.i64_)),
      b_(copied(other.b_)),
      offsets_(copied(other.offsets_)),
      chars_(copied(other.chars_)),
      codes_(copied(other.codes_)),
      dict_(other.dict_),
      valid_(copied(other.valid_)),
      zone_(other.zone_) {}

Column& Column::operator=(const Column& other) {
  if (this != &other) *this = Column(other);
  return *this;
}

Column Column::from_float32(std::string name, std::vector<float> values) {
  Column c;
  c.name_ = std::move(name);
  c.type_ = DataType::Float32;
  c.f32_ = std::move(values);
  return c;
}

Column Column::from_float64(std::string name, std::vector<double> values) {
  Column c;
  c.name_ = std::move(name);
  c.f64_ = std::move(values);
  return c;
}

Column Column::from_int64(std::string name, std::vector<int64_t> values, std::vector<uint8_t> valid) {
  check_validity(valid, values.size(), name);
  Column c;
  c.name_ = std::move(name);
  c.type_ = DataType::Int64;
  c.i64_ = std::move(values);
  c.valid_ = std::move(valid);
  return c;
}

Column Column::from_bool(std::string name, std::vector<uint8_t> values, std::vector<uint8_t> valid) {
  check_validity(valid, values.size(), name);
  Column c;
  c.name_ = std::move(name);
  c.type_ = DataType::Bool;
  for (auto& v : values) v = v ? 1 : 0;
  c.b_ = std::move(values);
  c.valid_ = std::move(valid);
  return c;
}

Column Column::from_timestamps(std::string name, std::vector<int64_t> ns, std::string zone) {
  Column c;
  c.name_ = std::move(name);
  c.type_ = DataType::Timestamp;
  c.i64_ = std::move(ns);
  c.zone_ = std::move(zone);
  return c;
}

Column Column::from_durations(std::string name, std::vector<int64_t> ns) {
  Column c = from_timestamps(std::move(name), std::move(ns));
  c.type_ = DataType::Duration;
  return c;
}

Column Column::from_strings(std::string name, const std::vector<std::optional<std::string>>& values) {
  StringColumnBuilder b(DataType::String);
  for (const auto& v : values) v ? b.append(*v) : b.append_null();
  return b.finish(std::move(name));
}

Column Column::from_binary(std::string name, const std::vector<std::optional<std::string>>& values) {
  StringColumnBuilder b(DataType::Binary);
  for (const auto& v : values) v ? b.append(*v) : b.append_null();
  return b.finish(std::move(name));
}

Column Column::from_dictionary(std::string name, std::vector<int32_t> codes, std::vector<std::string> dictionary) {
  for (int32_t code : codes) {
    if (code < -1 || code >= int64_t(dictionary.size()))
      throw std::invalid_argument("column '" + name + "': dictionary code " + std::to_string(code) +
                                  " is out of range");
  }
  Column c;
  c.name_ = std::move(name);
  c.type_ = DataType::String;
  c.codes_ = std::move(codes);
  c.dict_ = std::make_shared<const std::vector<std::string>>(std::move(dictionary));
  return c;
}

Column Column::nulls(std::string name, DataType type, std::size_t size, std::string zone) {
  std::vector<int64_t> rows(size, -1);
  Column empty;
  empty.type_ = type;
  if (is_text_type(type)) empty.offsets_ = {0};
  Column c = empty.take(rows);
  c.name_ = std::move(name);
  c.zone_ = std::move(zone);
  return c;
}

Column Column::from_values(std::string name, DataType type, const std::vector<Value>& values, std::string zone) {
  auto mismatch = [&](const Value& v) -> TypeError {
    return TypeError("column '" + name + "': value '" + v.to_text() + "' is not of type " +
                     std::string(type_name(type)));
  };
  std::size_t n = values.size();
  switch (type) {
    case DataType::Float32:
    case DataType::Float64: {
      std::vector<double> out(n);
      for (std::size_t i = 0; i < n; ++i) {
        if (!values[i].is_missing() && !values[i].is_number()) throw mismatch(values[i]);
        out[i] = values[i].as_double();
      }
      Column c = from_float64(std::move(name), std::move(out));
      return type == DataType::Float32 ? cast_float32(c) : c;
    }
    case DataType::Int64:
    case DataType::Bool: {
      std::vector<int64_t> out(n);
      std::vector<uint8_t> valid(n, 1);
      for (std::size_t i = 0; i < n; ++i) {
        const auto& v = values[i].variant();
        if (values[i].is_missing()) valid[i] = 0;
        else if (auto p = std::get_if<int64_t>(&v)) out[i] = *p;
        else if (auto q = std::get_if<bool>(&v)) out[i] = *q;
        else throw mismatch(values[i]);
      }
      if (type == DataType::Int64) return from_int64(std::move(name), std::move(out), std::move(valid));
      return from_bool(std::move(name), std::vector<uint8_t>(out.begin(), out.end()), std::move(valid));
    }
    case DataType::String:
    case DataType::Binary: {
      StringColumnBuilder b(type);
      for (const auto& v : values) {
        if (v.is_null()) b.append_null();
        else if (auto s = std::get_if<std::string>(&v.variant())) b.append(*s);
        else if (auto bytes = std::get_if<Bytes>(&v.variant())) b.append(bytes->data);
        else throw mismatch(v);
      }
      return b.finish(std::move(name));
    }
    case DataType::Timestamp:
    case DataType::Duration: {
      std::vector<int64_t> out(n, Timestamp::NaT);
      for (std::size_t i = 0; i < n; ++i) {
        const auto& v = values[i].variant();
        if (values[i].is_null()) continue;
        if (auto t = std::get_if<Timestamp>(&v); t && type == DataType::Timestamp) out[i] = t->ns;
        else if (auto d = std::get_if<Duration>(&v); d && type == DataType::Duration) out[i] = d->ns;
        else throw mismatch(values[i]);
      }
      if (type == DataType::Duration) return from_durations(std::move(name), std::move(out));
      return from_timestamps(std::move(name), std::move(out), std::move(zone));
    }
  }
  throw TypeError("unknown column type");
}

std::size_t Column::size() const {
  switch (type_) {
    case DataType::Float32: return f32_.size();
    case DataType::Float64: return f64_.size();
    case DataType::Bool: return b_.size();
    case DataType::String:
    case DataType::Binary: return dict_ ? codes_.size() : offsets_.empty() ? 0 : offsets_.size() - 1;
    default: return i64_.size();
  }
}

bool Column::is_null(std::size_t row) const {
  switch (type_) {
    case DataType::Float32: return std::isnan(f32_[row]);
    case DataType::Float64: return std::isnan(f64_[row]);
    case DataType::Timestamp:
    case DataType::Duration: return i64_[row] == Timestamp::NaT;
    default:
      if (dict_) return codes_[row] < 0;
      return !valid_.empty() && !valid_[row];
  }
}

std::size_t Column::null_count() const {
  switch (type_) {
    case DataType::Float32: return std::size_t(std::count_if(f32_.begin(), f32_.end(), [](float v) { return v != v; }));
    case DataType::Float64:
      return std::size_t(std::count_if(f64_.begin(), f64_.end(), [](double v) { return v != v; }));
    case DataType::Timestamp:
    case DataType::Duration: return std::size_t(std::count(i64_.begin(), i64_.end(), Timestamp::NaT));
    default:
      if (dict_) return std::size_t(std::count(codes_.begin(), codes_.end(), -1));
      return std::size_t(std::count(valid_.begin(), valid_.end(), uint8_t{0}));
  }
}

Value Column::at(std::size_t row) const {
  if (row >= size())
    throw std::out_of_range("row " + std::to_string(row) + " is past the end of column '" + name_ + "'");
  switch (type_) {
    case DataType::Float32: return Value(double(f32_[row]));
    case DataType::Float64: return Value(f64_[row]);
    case DataType::Timestamp: return Value(Timestamp{i64_[row]});
    case DataType::Duration: return Value(Duration{i64_[row]});
    default: break;
  }
  if (is_null(row)) return Value();
  switch (type_) {
    case DataType::Int64: return Value(i64_[row]);
    case DataType::Bool: return Value(bool(b_[row]));
    case DataType::Binary: return Value(Bytes{std::string(text(row))});
    default: return Value(std::string(text(row)));
  }
}

void Column::require(DataType type) const {
  if (type_ != type)
    throw TypeError("column '" + name_ + "' holds " + std::string(type_name(type_)) + ", not " +
                    std::string(type_name(type)));
}

void Column::require_text() const {
  if (!is_text_type(type_))
    throw TypeError("column '" + name_ + "' holds " + std::string(type_name(type_)) + ", not text");
}

const std::vector<float>& Column::float32s() const {
  require(DataType::Float32);
  return f32_;
}
std::vector<float>& Column::float32s() {
  require(DataType::Float32);
  return f32_;
}
const std::vector<double>& Column::float64s() const {
  require(DataType::Float64);
  return f64_;
}
std::vector<double>& Column::float64s() {
  require(DataType::Float64);
  return f64_;
}
const std::vector<uint8_t>& Column::bools() const {
  require(DataType::Bool);
  return b_;
}

const std::vector<int64_t>& Column::int64s() const {
  if (!is_int_storage(type_)) require(DataType::Int64);
  return i64_;
}
std::vector<int64_t>& Column::int64s() {
  if (!is_int_storage(type_)) require(DataType::Int64);
  return i64_;
}

std::string_view Column::text(std::size_t row) const {
  require_text();
  if (dict_) {
    int32_t code = codes_[row];
    return code < 0 ? std::string_view{} : std::string_view((*dict_)[code]);
  }
  return std::string_view(chars_).substr(offsets_[row], offsets_[row + 1] - offsets_[row]);
}

const std::vector<int32_t>& Column::codes() const {
  if (!dict_) throw TypeError("column '" + name_ + "' is not dictionary-encoded");
  return codes_;
}

const std::vector<std::string>& Column::dictionary() const {
  if (!dict_) throw TypeError("column '" + name_ + "' is not dictionary-encoded");
  return *dict_;
}

void Column::set_zone(std::string zone) {
  require(DataType::Timestamp);
  zone_ = std::move(zone);
}

void Column::throw_past_end(std::span<const int64_t> rows) const {
  int64_t last = *std::max_element(rows.begin(), rows.end());
  throw std::out_of_range("row " + std::to_string(last) + " is past the end of column '" + name_ + "'");
}

Column Column::take(std::span<const int64_t> rows) const {
  Column c;
  c.name_ = name_;
  c.type_ = type_;
  c.zone_ = zone_;
  std::atomic<bool> past_end = false;
  switch (type_) {
    case DataType::Float32: c.f32_ = gather(f32_, rows, std::nanf(""), past_end); break;
    case DataType::Float64: c.f64_ = gather(f64_, rows, std::nan(""), past_end); break;
    case DataType::Timestamp:
    case DataType::Duration: c.i64_ = gather(i64_, rows, Timestamp::NaT, past_end); break;
    case DataType::Int64:
      c.i64_ = gather(i64_, rows, int64_t{0}, past_end);
      if (!past_end) c.valid_ = gather_validity(valid_, rows);
      break;
    case DataType::Bool:
      c.b_ = gather(b_, rows, uint8_t{0}, past_end);
      if (!past_end) c.valid_ = gather_validity(valid_, rows);
      break;
    default:
      if (dict_) {
        c.codes_ = gather(codes_, rows, int32_t{-1}, past_end);
        c.dict_ = dict_;
        break;
      }
      return take_texts(rows);
  }
  if (past_end) throw_past_end(rows);
  return c;
}

Column Column::take_texts(std::span<const int64_t> rows) const {
  for (int64_t r : rows)
    if (r >= int64_t(size())) throw_past_end(rows);
  StringColumnBuilder b(type_);
  for (int64_t r : rows) r < 0 || is_null(r) ? b.append_null() : b.append(text(r));
  return b.finish(name_);
}

namespace {

template <typename T>
std::vector<T> copy_runs(const std::vector<T>& values, std::span<const Column::RowRun> runs) {
  std::size_t n = 0;
  for (const auto& r : runs) n += r.end - r.begin;
  std::vector<T> out = large_buffer<T>(n);
  for (const auto& r : runs)
    out.insert(out.end(), values.begin() + std::ptrdiff_t(r.begin), values.begin() + std::ptrdiff_t(r.end));
  return out;
}

}  // namespace

Column Column::take_runs(std::span<const RowRun> runs) const {
  for (const auto& r : runs)
    if (r.begin > r.end || r.end > size())
      throw std::out_of_range("rows " + std::to_string(r.begin) + " to " + std::to_string(r.end) +
                              " are not within column '" + name_ + "'");
  if (is_text_type(type_) && !dict_) {  // plain texts: by rows
    std::vector<int64_t> rows;
    for (const auto& r : runs)
      for (std::size_t i = r.begin; i < r.end; ++i) rows.push_back(int64_t(i));
    return take(rows);
  }
  Column c;
  c.name_ = name_;
  c.type_ = type_;
  c.zone_ = zone_;
  switch (type_) {
    case DataType::Float32: c.f32_ = copy_runs(f32_, runs); break;
    case DataType::Float64: c.f64_ = copy_runs(f64_, runs); break;
    case DataType::Int64:
    case DataType::Timestamp:
    case DataType::Duration: c.i64_ = copy_runs(i64_, runs); break;
    case DataType::Bool: c.b_ = copy_runs(b_, runs); break;
    default:  // dictionary-encoded texts
      c.codes_ = copy_runs(codes_, runs);
      c.dict_ = dict_;
  }
  if (!valid_.empty()) {
    c.valid_ = copy_runs(valid_, runs);
    if (std::find(c.valid_.begin(), c.valid_.end(), uint8_t{0}) == c.valid_.end()) c.valid_.clear();
  }
  return c;
}

Column Column::dictionary_encoded() const {
  if (type_ != DataType::String || dict_) return *this;
  std::unordered_map<std::string_view, int32_t> seen;
  std::vector<std::string> dict;
  std::vector<int32_t> codes(size());
  for (std::size_t i = 0; i < codes.size(); ++i) {
    if (is_null(i)) {
      codes[i] = -1;
      continue;
    }
    auto [it, added] = seen.try_emplace(text(i), int32_t(dict.size()));
    if (added) dict.emplace_back(text(i));
    codes[i] = it->second;
  }
  return from_dictionary(name_, std::move(codes), std::move(dict));
}

Column Column::plain_encoded() const {
  if (!dict_) return *this;
  StringColumnBuilder b(type_);
  for (std::size_t i = 0; i < codes_.size(); ++i) is_null(i) ? b.append_null() : b.append(text(i));
  return b.finish(name_);
}

void StringColumnBuilder::reserve(std::size_t rows, std::size_t bytes) {
  offsets_.reserve(capacity_for_huge_pages(rows + 1, sizeof(uint64_t)));
  chars_.reserve(capacity_for_huge_pages(bytes + 1, 1) - 1);  // and its terminating zero
  // Texts of several MB (a fetch's inflated day rows) are written once.
  if (offsets_.size() == 1) advise_huge_pages(offsets_.data(), offsets_.capacity() * sizeof(uint64_t));
  if (chars_.empty()) advise_huge_pages(chars_.data(), chars_.capacity());
}

void StringColumnBuilder::append(std::string_view text) {
  chars_.append(text);
  offsets_.push_back(chars_.size());
  if (any_null_) valid_.push_back(1);
}

char* StringColumnBuilder::append_slots(std::span<const std::size_t> sizes) {
  std::size_t start = chars_.size(), end = start;
  offsets_.reserve(offsets_.size() + sizes.size());
  for (std::size_t n : sizes) offsets_.push_back(end += n);
  if (any_null_) valid_.resize(offsets_.size() - 1, 1);
  chars_.resize(end);
  return chars_.data() + start;
}

void StringColumnBuilder::append_null() {
  if (!any_null_) {
    valid_.assign(size(), 1);
    any_null_ = true;
  }
  offsets_.push_back(chars_.size());
  valid_.push_back(0);
}

Column StringColumnBuilder::finish(std::string name) {
  Column c;
  c.name_ = std::move(name);
  c.type_ = type_;
  c.offsets_ = std::move(offsets_);
  c.chars_ = std::move(chars_);
  c.valid_ = std::move(valid_);
  offsets_ = {0};
  chars_.clear();
  valid_.clear();
  any_null_ = false;
  return c;
}

}  // namespace tremora
