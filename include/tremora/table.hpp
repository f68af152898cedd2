// The observation table: a columnar, in-memory table of named, typed columns
// with an optional row key and text attributes, and the table operations the
// library shares (sorting, taking rows, renaming, concatenation, ...).
//
// Missing values: NaN in float columns, NaT in timestamp and duration
// columns, a null flag in the other columns. Comparisons treat missing values
// as greater than every value, so ascending sorts put them last.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "tremora/time.hpp"

namespace tremora {

/// The element types a column can hold.
enum class DataType : uint8_t { Float32, Float64, Int64, Bool, String, Binary, Timestamp, Duration };

/// "float32", "float64", "int64", "bool", "string", "binary", "timestamp", "duration".
std::string_view type_name(DataType type);

/// True for float32, float64 and int64.
bool is_numeric(DataType type);

/// True for string and binary, the types whose values are byte strings.
bool is_text_type(DataType type);

/// A binary value (the bytes of a large object).
struct Bytes {
  std::string data;
  friend bool operator==(const Bytes&, const Bytes&) = default;
};

/// One cell, for generic code: null, bool, int64, double, text, timestamp,
/// duration or bytes.
class Value {
 public:
  using Variant = std::variant<std::monostate, bool, int64_t, double, std::string, Timestamp, Duration, Bytes>;

  Value() = default;
  Value(bool v) : v_(v) {}
  Value(int v) : v_(int64_t{v}) {}
  Value(int64_t v) : v_(v) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(const char* v) : v_(std::string(v)) {}
  Value(std::string_view v) : v_(std::string(v)) {}
  Value(Timestamp v) : v_(v) {}
  Value(Duration v) : v_(v) {}
  Value(Bytes v) : v_(std::move(v)) {}

  /// True for the null value and for missing numbers and times (NaN, NaT).
  bool is_missing() const;
  bool is_null() const { return std::holds_alternative<std::monostate>(v_); }
  bool is_text() const { return std::holds_alternative<std::string>(v_); }
  bool is_number() const;
  const Variant& variant() const { return v_; }

  /// The number held by an int64, double or bool value; NaN otherwise.
  double as_double() const;
  /// The text held; TypeError for other values.
  const std::string& as_text() const;
  /// The value as the text a reader would write ("12.5", "2024-01-01 00:00:00");
  /// null and missing values give "".
  std::string to_text() const;

  friend bool operator==(const Value&, const Value&) = default;

 private:
  Variant v_;
};

std::ostream& operator<<(std::ostream& out, const Value& value);

/// A named column of one element type. Strings are stored plain (offsets
/// into one character buffer) or dictionary-encoded (int32 codes into a list
/// of distinct texts; code -1 is null); both read the same.
class Column {
 public:
  /// An empty float64 column without a name.
  Column();
  /// Copies; large value buffers go to fresh memory advised for huge pages
  /// (see memory.hpp), which a table copy of millions of rows would
  /// otherwise spend more time faulting in than copying.
  Column(const Column& other);
  Column& operator=(const Column& other);
  Column(Column&&) noexcept = default;
  Column& operator=(Column&&) noexcept = default;
  ~Column() = default;

  static Column from_float32(std::string name, std::vector<float> values);
  static Column from_float64(std::string name, std::vector<double> values);
  /// `valid` is empty (no nulls) or has one flag per value, 0 for null.
  static Column from_int64(std::string name, std::vector<int64_t> values, std::vector<uint8_t> valid = {});
  static Column from_bool(std::string name, std::vector<uint8_t> values, std::vector<uint8_t> valid = {});
  /// Nanoseconds since the epoch; `zone` empty for naive wall-clock times.
  static Column from_timestamps(std::string name, std::vector<int64_t> ns, std::string zone = {});
  static Column from_durations(std::string name, std::vector<int64_t> ns);
  /// Plain-encoded texts; nullopt is null.
  static Column from_strings(std::string name, const std::vector<std::optional<std::string>>& values);
  /// Dictionary-encoded texts: codes index `dictionary`, -1 is null.
  /// std::invalid_argument when a code is out of range.
  static Column from_dictionary(std::string name, std::vector<int32_t> codes, std::vector<std::string> dictionary);
  static Column from_binary(std::string name, const std::vector<std::optional<std::string>>& values);
  /// A column of the given type from generic values (TypeError when a
  /// value does not fit the type; missing values become nulls).
  static Column from_values(std::string name, DataType type, const std::vector<Value>& values, std::string zone = {});
  /// `size` missing values of a type.
  static Column nulls(std::string name, DataType type, std::size_t size, std::string zone = {});

  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  DataType type() const { return type_; }
  std::size_t size() const;
  bool empty() const { return size() == 0; }

  bool is_null(std::size_t row) const;
  std::size_t null_count() const;
  Value at(std::size_t row) const;

  /// Typed storage; TypeError when the column holds another type.
  /// int64s() serves int64, timestamp and duration columns; bools() holds 0/1.
  const std::vector<float>& float32s() const;
  std::vector<float>& float32s();
  const std::vector<double>& float64s() const;
  std::vector<double>& float64s();
  const std::vector<int64_t>& int64s() const;
  std::vector<int64_t>& int64s();
  const std::vector<uint8_t>& bools() const;
  /// Validity flags of int64, bool, string and binary columns: empty when
  /// nothing is null, else one flag per row (0 = null).
  const std::vector<uint8_t>& validity() const { return valid_; }

  /// The text (or bytes) of a string or binary row; "" for null.
  std::string_view text(std::size_t row) const;
  bool is_dictionary() const { return dict_ != nullptr; }
  /// Codes and texts of a dictionary-encoded string column.
  const std::vector<int32_t>& codes() const;
  const std::vector<std::string>& dictionary() const;

  /// The time zone of a timestamp column ("" = naive).
  const std::string& zone() const { return zone_; }
  void set_zone(std::string zone);

  /// The rows at the given positions, in that order; -1 gives a missing value
  /// (std::out_of_range, naming the largest row, when one is past the end).
  Column take(std::span<const int64_t> rows) const;
  /// A run of neighbouring rows, [begin, end).
  struct RowRun {
    std::size_t begin, end;
  };
  /// The rows of the given runs, in that order (std::out_of_range past the end).
  Column take_runs(std::span<const RowRun> runs) const;
  /// The same texts, dictionary-encoded (distinct texts in first-seen order).
  /// Other columns are returned unchanged.
  Column dictionary_encoded() const;
  /// The same texts, plain-encoded.
  Column plain_encoded() const;

 private:
  friend class StringColumnBuilder;
  void require(DataType type) const;
  void require_text() const;
  Column take_texts(std::span<const int64_t> rows) const;
  [[noreturn]] void throw_past_end(std::span<const int64_t> rows) const;

  // Every member is copied by the copy constructor, by name.
  std::string name_;
  DataType type_ = DataType::Float64;
  std::vector<float> f32_;
  std::vector<double> f64_;
  std::vector<int64_t> i64_;       // int64, timestamp, duration
  std::vector<uint8_t> b_;         // bool
  std::vector<uint64_t> offsets_;  // plain strings and binary: size + 1 offsets
  std::string chars_;
  std::vector<int32_t> codes_;  // dictionary strings
  std::shared_ptr<const std::vector<std::string>> dict_;
  std::vector<uint8_t> valid_;
  std::string zone_;
};

/// Builds a plain-encoded string or binary column value by value.
class StringColumnBuilder {
 public:
  explicit StringColumnBuilder(DataType type = DataType::String) : type_(type) {}
  void reserve(std::size_t rows, std::size_t bytes);
  void append(std::string_view text);
  void append_null();
  /// Appends texts of the given sizes and returns where the first one's
  /// bytes go (the others follow it, in order), for the caller to write,
  /// from several threads if it likes, before the next append or finish.
  /// Their bytes are zeros until written.
  char* append_slots(std::span<const std::size_t> sizes);
  std::size_t size() const { return offsets_.size() - 1; }
  Column finish(std::string name);

 private:
  DataType type_;
  std::vector<uint64_t> offsets_{0};
  std::string chars_;
  std::vector<uint8_t> valid_;
  bool any_null_ = false;
};

/// A table: named columns of equal length, an optional row key (a column
/// with its own name, possibly empty; absent means positions 0..n-1), and
/// text attributes.
class Table {
 public:
  Table() = default;
  /// Copies; the columns of a large table are copied in parallel.
  Table(const Table& other);
  Table& operator=(const Table& other);
  Table(Table&&) noexcept = default;
  Table& operator=(Table&&) noexcept = default;
  ~Table() = default;
  /// std::invalid_argument when the columns differ in length or repeat a name.
  explicit Table(std::vector<Column> columns);

  std::size_t num_rows() const;
  std::size_t num_columns() const { return columns_.size(); }
  const std::vector<Column>& columns() const { return columns_; }
  std::vector<std::string> column_names() const;

  /// Look-ups by name take constant time in tables of many columns (a
  /// name index the table keeps), linear time in small ones; after a
  /// mutable reference to a column was handed out (it may rename the
  /// column), they scan until the table's next change of its columns.
  bool has_column(std::string_view name) const;
  /// KeyError naming the column when it is not there.
  const Column& column(std::string_view name) const;
  Column& column(std::string_view name);
  const Column& column(std::size_t position) const { return columns_.at(position); }
  Column& column(std::size_t position) {
    index_stale_ = true;
    return columns_.at(position);
  }
  /// Position of a column, or nothing.
  std::optional<std::size_t> find_column(std::string_view name) const;

  /// Appends a column (std::invalid_argument on a repeated name or a length
  /// that differs from the table's).
  void add_column(Column column);
  /// Inserts a column before `position`.
  void insert_column(std::size_t position, Column column);
  /// Replaces the column of the same name, or appends it.
  void set_column(Column column);
  /// Removes a column and returns it (KeyError when absent).
  Column remove_column(std::string_view name);

  bool has_key() const { return key_.has_value(); }
  /// The row key (std::logic_error when the table has none).
  const Column& key() const;
  Column& key();
  /// Makes a column the row key: it leaves the columns, the former key is dropped.
  void set_key(std::string_view column_name);
  /// Sets a row key column directly (its length must match).
  void set_key_column(Column key);
  /// Puts the row key back as the first column (named "index" when its name
  /// is empty); without a key, adds the positions as an int64 column "index".
  void reset_key();
  /// Drops the row key (rows are then labelled by position).
  void drop_key() { key_.reset(); }

  std::map<std::string, std::string>& attributes() { return attributes_; }
  const std::map<std::string, std::string>& attributes() const { return attributes_; }

 private:
  void check_new_column(const Column& column) const;
  void refresh_index();
  bool index_usable() const;

  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  // Every member is copied by the copy constructor, by name.
  std::vector<Column> columns_;
  // Positions by name, kept for tables of kIndexedFrom columns or more.
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index_;
  bool index_stale_ = false;
  std::optional<Column> key_;
  std::map<std::string, std::string> attributes_;
};

// ---------------------------------------------------------------------------
// Table operations

/// One key of a sort: a column name (or the row key's name) and a direction.
struct SortKey {
  std::string column;
  bool ascending = true;
};

/// Positions that order the table stably by the keys, missing values last
/// in either direction. Texts compare by byte (UTF-8 code point order).
/// KeyError naming a key that is neither a column nor the row key.
std::vector<int64_t> sort_indices(const Table& table, std::span<const SortKey> keys);
/// The stably sorted table; the row key travels with the rows.
Table sort_by(const Table& table, std::span<const SortKey> keys);
/// Sorts the table in place.
void sort_in_place(Table& table, std::span<const SortKey> keys);
/// Stable order of one timestamp/int64 series, NaT (or null) last.
std::vector<int64_t> sort_indices(const Column& column, bool ascending = true);
/// Stable ascending order of times in nanoseconds (NaT last), wherever they are held.
std::vector<int64_t> sort_time_indices(std::span<const int64_t> times);
/// The same order written to `order`, which holds one position per time
/// (std::invalid_argument otherwise) and need not be zeroed first: for
/// callers that sort millions of times into a work buffer.
void sort_time_indices(std::span<const int64_t> times, std::span<int64_t> order);

/// The rows at the given positions (with their row key and attributes).
Table take(const Table& table, std::span<const int64_t> rows);
/// The rows whose flag is non-zero (one flag per row). A column named
/// `leave_out` is not copied into the result (for callers that replace it).
Table filter(const Table& table, const std::vector<uint8_t>& mask, std::string_view leave_out = {});
/// The same for one column.
Column filter(const Column& column, const std::vector<uint8_t>& mask);

/// One flag per row 0 .. rows-1: whether keep(row) is true.
template <typename Keep>
std::vector<uint8_t> row_mask(std::size_t rows, Keep&& keep) {
  std::vector<uint8_t> mask(rows);
  for (std::size_t i = 0; i < rows; ++i) mask[i] = keep(i) ? 1 : 0;
  return mask;
}
/// The rows for which keep(row) is true, as filter gives them.
template <typename Keep>
Table filter_rows(const Table& table, Keep&& keep, std::string_view leave_out = {}) {
  return filter(table, row_mask(table.num_rows(), keep), leave_out);
}
template <typename Keep>
Column filter_rows(const Column& column, Keep&& keep) {
  return filter(column, row_mask(column.size(), keep));
}
/// The rows whose `column` holds exactly `text` (a missing value never
/// does); KeyError naming a missing column, TypeError for a column that
/// does not hold texts.
Table rows_with_text(const Table& table, std::string_view column, std::string_view text);

/// Renames columns (and the row key, if its name is in the map).
void rename_columns(Table& table, const std::map<std::string, std::string>& names);
/// Upper- or lower-cases every column name (ASCII letters). `with_key`
/// also changes the row key's name. std::invalid_argument when two names
/// become the same.
void upper_case_column_names(Table& table, bool with_key = false);
void lower_case_column_names(Table& table, bool with_key = false);

/// Stacks tables: columns in order of first appearance, missing columns
/// filled with missing values; numbers of different types become float64;
/// row keys are kept when every table has one. TypeError when a column holds
/// incompatible types in two tables.
Table concat(std::span<const Table> tables);

/// The distinct values of a column in first-seen order (missing values once,
/// where they first occur).
Column unique(const Column& column);

/// A float64 column of the values read as numbers: numbers stay, texts are
/// read with parse_decimal (unreadable → NaN), truth values give 1/0, nulls
/// give NaN. TypeError for timestamps, durations and binary values.
Column to_number(const Column& column);
/// The column stored as float32 (numbers rounded to nearest; texts read as
/// by to_number).
Column cast_float32(const Column& column);

/// The text form of each value, as a string column: integers in decimal,
/// floats as Python prints them ("37001.0"), truth values True/False,
/// timestamps "2024-01-01 00:00:00", texts unchanged. Missing values stay
/// missing.
Column to_text(const Column& column);

/// The code text of one cell, as a rate code is read: the text form
/// (to_text), stripped of white space, cut before the first ".", padded on
/// the left with "0" to `width` characters (1, 1.0, "1" and " 01 " all give
/// "01"). Nothing for a missing value.
std::optional<std::string> padded_code(const Column& column, std::size_t row, std::size_t width = 2);

/// The rows for the given row-key values, in their order; a value the table
/// does not have gives a row of missing values. The table's row key must be
/// unique (std::invalid_argument naming a repeated value otherwise) and of
/// the new key's type (TypeError).
Table reindex(const Table& table, const Column& new_key);

/// The series of every row of a table, by the values of key columns: ids
/// 0..count-1 in ascending key order (missing values last), -1 for rows
/// that belong to no series.
struct SeriesIds {
  std::vector<int32_t> of_row;
  std::size_t count = 0;
};

/// The series ids of the rows by the values of `columns` (every row in one
/// series when there are none). A missing value is a value of its own when
/// `missing_is_a_group`; otherwise such rows belong to no series. Texts
/// compare by byte; other columns by their text form.
SeriesIds series_ids(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group);

/// The row positions of each series, series in ascending key order.
struct SeriesGroups {
  std::vector<std::vector<int64_t>> members;
};

/// Groups the rows by the values of `columns` as series_ids does. Rows are
/// listed in `order` (positions), or in table order when it is empty.
SeriesGroups group_rows(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group,
                        std::span<const int64_t> order = {});

/// How the values of a bin are combined.
enum class Aggregate { Mean, Sum, Median, Max, Min };

/// Values binned by time within each series.
struct TimeBins {
  /// The start of every bin, series after series in id order (instants of
  /// the times' zone for zoned times).
  std::vector<int64_t> starts;
  /// The aggregate of the non-missing values of each bin: NaN for an empty
  /// bin, 0 for an empty bin's sum. The median of an even count is the mean
  /// of the middle two.
  std::vector<double> values;
  /// The first bin of each series, and one more at the end.
  std::vector<std::size_t> series_offset;
  /// A row of each series (-1 for none), to take its key values from.
  std::vector<int64_t> code_row;
};

/// Bins of `width` nanoseconds of each series of `series`, anchored at
/// midnight of the series' first day on the wall clock of the times' zone
/// ("2024-03-01 02:00+08:00" lies on 1 March), from the bin of the series'
/// first time to that of its last, every bin included. Whole-day bins
/// follow the wall clock across clock changes; shorter ones are fixed
/// lengths of time from that midnight. Rows without a series or time are
/// left out; `values` must be float32 or float64 (TypeError otherwise).
/// std::invalid_argument when a bin edge or a series' span leaves the range
/// of timestamps.
TimeBins bin_by_time(const Column& times, const Column& values, const SeriesIds& series, int64_t width, Aggregate agg);

/// Timestamps from the earliest to the latest non-NaT value of a
/// timestamp column, `step` nanoseconds apart (positive), with the column's
/// name and zone; nothing when the column holds no timestamp.
std::optional<Column> time_grid(const Column& times, int64_t step);

/// Fills each missing value from the next row of its column that has a
/// value (no limit); missing values after the last one stay missing.
void backward_fill(Table& table);

/// Reads a text column as timestamps with parse_date_text (missing texts
/// give NaT). Texts without a UTC offset give a naive column; when every
/// text has an offset the column holds UTC instants, in the zone of that
/// offset ("+08:00", see fixed_offset_zone) when all texts share one other
/// than UTC's, else in zone "UTC".
/// std::invalid_argument naming a text that does not parse, or when
/// texts with and without offset are mixed; TypeError for a non-text column.
Column parse_timestamps(const Column& texts);

/// Prints the table readably: the row key and the columns, aligned, with
/// the element types under the header, the first and last rows when there
/// are many, and the size.
std::ostream& operator<<(std::ostream& out, const Table& table);

/// Options for print_table.
struct PrintOptions {
  /// Rows shown at each end when the table is longer than 2 * edge_rows.
  std::size_t edge_rows = 5;
  /// When set, only the first `head` rows are shown.
  std::optional<std::size_t> head{};
};
void print_table(std::ostream& out, const Table& table, const PrintOptions& options = {});

}  // namespace tremora
