#include <numeric>
#include <set>
#include <stdexcept>

#include "tremora/errors.hpp"
#include "tremora/parallel.hpp"
#include "tremora/table.hpp"
#include "tremora/text.hpp"

namespace tremora {

Table::Table(std::vector<Column> columns) {
  for (auto& c : columns) add_column(std::move(c));
}

// Below this many rows a table's columns are copied one after another.
constexpr std::size_t kCopiedInParallelFrom = std::size_t(1) << 16;

Table::Table(const Table& other)
    : index_(other.index_), index_stale_(other.index_stale_), attributes_(other.attributes_) {
  std::size_t n = other.columns_.size();
  if (other.num_rows() < kCopiedInParallelFrom) {
    columns_ = other.columns_;
    key_ = other.key_;
    return;
  }
  columns_.resize(n);
  if (other.key_) key_.emplace();
  parallel_for(n + 1, [&](std::size_t i) {
    if (i < n) columns_[i] = other.columns_[i];
    else if (key_) *key_ = *other.key_;
  });
}

Table& Table::operator=(const Table& other) {
  if (this != &other) *this = Table(other);
  return *this;
}

std::size_t Table::num_rows() const {
  if (!columns_.empty()) return columns_.front().size();
  return key_ ? key_->size() : 0;
}

std::vector<std::string> Table::column_names() const {
  std::vector<std::string> names;
  names.reserve(columns_.size());
  for (const auto& c : columns_) names.push_back(c.name());
  return names;
}

namespace {

// Below this many columns a scan is as quick as the index.
constexpr std::size_t kIndexedFrom = 16;

}  // namespace

bool Table::index_usable() const {
  return !index_stale_ && columns_.size() >= kIndexedFrom && index_.size() == columns_.size();
}

// Brings the index up to date with the columns (called by the changes of
// the table's columns, never by const look-ups, so that reading a table
// from several threads stays safe).
void Table::refresh_index() {
  if (columns_.size() < kIndexedFrom) {
    index_.clear();
  } else if (index_stale_ || index_.size() != columns_.size()) {
    index_.clear();
    index_.reserve(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) index_.emplace(columns_[i].name(), i);
  }
  index_stale_ = false;
}

std::optional<std::size_t> Table::find_column(std::string_view name) const {
  if (index_usable()) {
    auto it = index_.find(name);
    if (it == index_.end()) return std::nullopt;
    return it->second;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].name() == name) return i;
  return std::nullopt;
}

namespace {

// "no column 'X'", with what the caller may have meant: the row key of
// that name, or a column whose name differs only in case.
[[noreturn]] void no_column(const Table& table, std::string_view name) {
  std::string message = "no column '";
  message.append(name).append("'");
  std::string wanted = to_lower_ascii(name);
  if (table.has_key() && table.key().name() == name) {
    message += " (it is the row key)";
  } else {
    for (const Column& c : table.columns())
      if (to_lower_ascii(c.name()) == wanted) {
        message.append(" (there is '").append(c.name()).append("': column names are case-sensitive)");
        break;
      }
  }
  throw KeyError(message);
}

}  // namespace

bool Table::has_column(std::string_view name) const { return find_column(name).has_value(); }

const Column& Table::column(std::string_view name) const {
  if (auto i = find_column(name)) return columns_[*i];
  no_column(*this, name);
}

Column& Table::column(std::string_view name) {
  if (auto i = find_column(name)) {
    index_stale_ = true;  // the caller may rename it
    return columns_[*i];
  }
  no_column(*this, name);
}

void Table::check_new_column(const Column& column) const {
  if (has_column(column.name())) throw std::invalid_argument("the table already has a column '" + column.name() + "'");
  bool sized = !columns_.empty() || key_;
  if (sized && column.size() != num_rows())
    throw std::invalid_argument("column '" + column.name() + "' has " + std::to_string(column.size()) +
                                " rows, the table " + std::to_string(num_rows()));
}

void Table::add_column(Column column) {
  refresh_index();
  check_new_column(column);
  columns_.push_back(std::move(column));
  if (columns_.size() > kIndexedFrom) index_.emplace(columns_.back().name(), columns_.size() - 1);
  else refresh_index();
}

void Table::insert_column(std::size_t position, Column column) {
  refresh_index();
  check_new_column(column);
  if (position > columns_.size()) position = columns_.size();
  columns_.insert(columns_.begin() + std::ptrdiff_t(position), std::move(column));
  index_stale_ = true;
  refresh_index();
}

void Table::set_column(Column column) {
  refresh_index();
  if (auto i = find_column(column.name())) {
    if (column.size() != num_rows())
      throw std::invalid_argument("column '" + column.name() + "' has " + std::to_string(column.size()) +
                                  " rows, the table " + std::to_string(num_rows()));
    columns_[*i] = std::move(column);
  } else {
    add_column(std::move(column));
  }
}

Column Table::remove_column(std::string_view name) {
  refresh_index();
  auto i = find_column(name);
  if (!i) no_column(*this, name);
  Column c = std::move(columns_[*i]);
  columns_.erase(columns_.begin() + std::ptrdiff_t(*i));
  index_stale_ = true;
  refresh_index();
  return c;
}

const Column& Table::key() const {
  if (!key_) throw std::logic_error("the table has no row key");
  return *key_;
}

Column& Table::key() {
  if (!key_) throw std::logic_error("the table has no row key");
  return *key_;
}

void Table::set_key(std::string_view column_name) {
  Column c = remove_column(column_name);
  key_ = std::move(c);
}

void Table::set_key_column(Column key) {
  if (!columns_.empty() && key.size() != num_rows())
    throw std::invalid_argument("row key '" + key.name() + "' has " + std::to_string(key.size()) + " rows, the table " +
                                std::to_string(num_rows()));
  key_ = std::move(key);
}

void Table::reset_key() {
  Column k;
  if (key_) {
    k = std::move(*key_);
    key_.reset();
    if (k.name().empty()) k.set_name("index");
  } else {
    std::vector<int64_t> positions(num_rows());
    std::iota(positions.begin(), positions.end(), int64_t{0});
    k = Column::from_int64("index", std::move(positions));
  }
  insert_column(0, std::move(k));
}

Table take(const Table& table, std::span<const int64_t> rows) {
  Table out;
  for (const auto& c : table.columns()) out.add_column(c.take(rows));
  if (table.has_key()) out.set_key_column(table.key().take(rows));
  out.attributes() = table.attributes();
  return out;
}

namespace {

// The rows a mask keeps, as runs of neighbours when they form few runs
// (copied block by block), else as positions.
struct Kept {
  std::vector<Column::RowRun> runs;
  std::vector<int64_t> rows;
  bool by_runs = false;

  Kept(const std::vector<uint8_t>& mask, std::size_t rows_expected, std::string_view what) {
    if (mask.size() != rows_expected)
      throw std::invalid_argument("filter mask has " + std::to_string(mask.size()) + " flags, the " +
                                  std::string(what) + " " + std::to_string(rows_expected) + " rows");
    std::size_t kept = 0;
    for (std::size_t i = 0; i < mask.size();) {
      while (i < mask.size() && !mask[i]) ++i;
      std::size_t begin = i;
      while (i < mask.size() && mask[i]) ++i;
      if (i > begin) runs.push_back({begin, i});
      kept += i - begin;
    }
    constexpr std::size_t kShortestBlock = 16;
    by_runs = runs.size() * kShortestBlock <= kept;
    if (by_runs) return;
    rows.reserve(kept);
    for (const auto& r : runs)
      for (std::size_t k = r.begin; k < r.end; ++k) rows.push_back(int64_t(k));
  }

  Column of(const Column& c) const { return by_runs ? c.take_runs(runs) : c.take(rows); }
};

}  // namespace

Table filter(const Table& table, const std::vector<uint8_t>& mask, std::string_view leave_out) {
  Kept kept(mask, table.num_rows(), "table");
  Table out;
  for (const auto& c : table.columns())
    if (leave_out.empty() || c.name() != leave_out) out.add_column(kept.of(c));
  if (table.has_key()) out.set_key_column(kept.of(table.key()));
  out.attributes() = table.attributes();
  return out;
}

Column filter(const Column& column, const std::vector<uint8_t>& mask) {
  return Kept(mask, column.size(), "column").of(column);
}

Table rows_with_text(const Table& table, std::string_view column, std::string_view text) {
  const Column& c = table.column(column);
  if (c.type() != DataType::String)
    throw TypeError("column '" + c.name() + "' holds " + std::string(type_name(c.type())) + ", not texts");
  return filter_rows(table, [&](std::size_t i) { return !c.is_null(i) && c.text(i) == text; });
}

namespace {

template <typename F>
void change_names(Table& table, bool with_key, F&& rename) {
  std::set<std::string> seen;
  std::vector<std::string> names;
  for (const auto& c : table.columns()) {
    names.push_back(rename(c.name()));
    if (!seen.insert(names.back()).second)
      throw std::invalid_argument("renaming makes two columns '" + names.back() + "'");
  }
  for (std::size_t i = 0; i < names.size(); ++i) table.column(i).set_name(names[i]);
  if (with_key && table.has_key()) table.key().set_name(rename(table.key().name()));
}

}  // namespace

void rename_columns(Table& table, const std::map<std::string, std::string>& names) {
  change_names(table, true, [&](const std::string& name) {
    auto it = names.find(name);
    return it == names.end() ? name : it->second;
  });
}

void upper_case_column_names(Table& table, bool with_key) {
  change_names(table, with_key, [](const std::string& name) { return to_upper_ascii(name); });
}

void lower_case_column_names(Table& table, bool with_key) {
  change_names(table, with_key, [](const std::string& name) { return to_lower_ascii(name); });
}

}  // namespace tremora
