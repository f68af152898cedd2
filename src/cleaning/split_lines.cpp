#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <span>

#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/memory.hpp"
#include "tremora/parallel.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::cleaning {
namespace {

using qzdata::kObsValue;
using qzdata::kStartDate;

// The offset of sample k is k units; the unit is chosen by exact spacing.
int64_t offset_unit_ns(double sample_by_seconds) {
  if (sample_by_seconds == 1) return kNanosPerSecond;
  if (sample_by_seconds == 3600) return kNanosPerHour;
  return kNanosPerMinute;
}

bool is_split_case(double sample_by_seconds) { return sample_by_seconds <= 3600; }

float sample_value(std::string_view part) {
  auto v = parse_decimal(part);
  return v ? static_cast<float>(*v) : std::nanf("");
}

const Column& required_column(const Table& df, const std::string& name) {
  auto i = df.find_column(name);
  if (!i) throw KeyError("split_lines: the table has no column '" + name + "'");
  return df.column(*i);
}

// The samples of all rows in row order: their instants, values and rows.
// Each is written once, in parallel, and read back in time order into the
// result, so their buffers are not zeroed first.
struct Samples {
  std::size_t count = 0;
  std::unique_ptr<int64_t[]> when;
  std::unique_ptr<float[]> value;
  std::unique_ptr<int32_t[]> row;
};

std::size_t count_parts(std::string_view text) { return 1 + std::size_t(std::count(text.begin(), text.end(), ' ')); }

// The time of a row's last sample must be a timestamp too (a day row late
// on 2262-04-11 would otherwise run past the range); checked once per row
// so that the samples need no check of their own.
void check_last_sample_time(Timestamp first, std::size_t parts, int64_t unit, std::size_t row) {
  if (first.is_nat() || parts < 2) return;
  try {
    add_nanos(first, multiply_nanos(int64_t(parts - 1), unit));
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument("split_lines: the samples of row " + std::to_string(row) +
                                " run out of range: " + e.what());
  }
}

// Runs f(row) for every row, in runs of 64 rows in parallel, or one row a
// task when there are few (a week of second data is 7 rows).
template <typename F>
void for_rows(std::size_t rows, F&& f) {
  parallel_pieces(rows, rows >= 1024 ? 64 : 1, [&](std::size_t begin, std::size_t end) {
    for (std::size_t r = begin; r < end; ++r) f(r);
  });
}

// The samples of each row, counted in runs of rows in parallel; the first
// bad row is the one named, as in order (a run stops at its first, and the
// lowest run's error is raised).
std::vector<std::size_t> count_samples(const Column& obs, const std::vector<int64_t>& starts, int64_t unit) {
  std::vector<std::size_t> parts(obs.size());
  for_rows(obs.size(), [&](std::size_t r) {
    parts[r] = obs.is_null(r) ? 1 : count_parts(strip_whitespace(obs.text(r)));
    check_last_sample_time(Timestamp{starts[r]}, parts[r], unit, r);
  });
  return parts;
}

// Where the samples of each row go: sample k of row r to base[r] + k *
// stride[r]; and the rows in the order of their places, the order in which
// they are split (so that threads write apart, not into the same cache
// lines where rows alternate).
struct Placement {
  std::vector<std::size_t> base, stride, rows;
  std::size_t count = 0;
  explicit Placement(std::size_t n) : base(n), stride(n, 1) { rows.reserve(n); }
  void place(std::size_t row, std::size_t at, std::size_t step) {
    base[row] = at, stride[row] = step, rows.push_back(row);
  }
};

// The samples in row order.
Placement row_order(const std::vector<std::size_t>& parts) {
  Placement at(parts.size());
  for (std::size_t r = 0; r < parts.size(); ++r) at.place(r, at.count, 1), at.count += parts[r];
  return at;
}

// The samples in their stable time order, when it follows from the rows:
// when the rows with a time fall into groups of one start and one length
// whose spans do not overlap, as series of the same days do. Then the
// groups follow each other in time, the samples of a group's rows
// alternate in row order, and the samples without a time (of rows without
// a start or a text) come last, in row order. Nothing otherwise.
std::optional<Placement> time_order(const Column& obs, const std::vector<int64_t>& starts,
                                    const std::vector<std::size_t>& parts, int64_t unit) {
  std::vector<std::size_t> timed;
  for (std::size_t r = 0; r < parts.size(); ++r)
    if (!obs.is_null(r) && starts[r] != Timestamp::NaT) timed.push_back(r);
  std::stable_sort(timed.begin(), timed.end(), [&](std::size_t a, std::size_t b) { return starts[a] < starts[b]; });
  Placement at(parts.size());
  for (std::size_t g = 0, next; g < timed.size(); g = next) {
    std::size_t r = timed[g];
    for (next = g + 1; next < timed.size() && starts[timed[next]] == starts[r] && parts[timed[next]] == parts[r];)
      ++next;
    if (g > 0) {
      std::size_t before = timed[g - 1];  // the last sample of the group before must be earlier
      if (starts[before] + int64_t(parts[before] - 1) * unit >= starts[r]) return std::nullopt;
    }
    for (std::size_t k = g; k < next; ++k) at.place(timed[k], at.count + (k - g), next - g);
    at.count += (next - g) * parts[r];
  }
  for (std::size_t r = 0; r < parts.size(); ++r)
    if (obs.is_null(r) || starts[r] == Timestamp::NaT) at.place(r, at.count, 1), at.count += parts[r];
  return at;
}

// Splits the rows, in runs of rows in parallel, into the places `at` gives:
// each sample's time, value and row.
template <typename Row>
void write_samples(const Column& obs, const std::vector<int64_t>& starts, int64_t unit, const Placement& at,
                   int64_t* when, float* value, Row* row) {
  for_rows(at.rows.size(), [&](std::size_t i) {
    const std::size_t r = at.rows[i];
    std::size_t out = at.base[r];
    const std::size_t step = at.stride[r];
    if (obs.is_null(r)) {
      when[out] = Timestamp::NaT;
      value[out] = std::nanf("");
      row[out] = Row(r);
      return;
    }
    std::string_view text = strip_whitespace(obs.text(r));
    int64_t t0 = starts[r];
    const char* p = text.data();
    const char* end = p + text.size();
    // Parts are short, so a plain scan finds the next space fastest.
    for (int64_t k = 0;; ++k, out += step) {
      const char* part_end = p;
      while (part_end < end && *part_end != ' ') ++part_end;
      when[out] = t0 == Timestamp::NaT ? Timestamp::NaT : t0 + k * unit;
      value[out] = sample_value(std::string_view(p, std::size_t(part_end - p)));
      row[out] = Row(r);
      if (part_end == end) break;
      p = part_end + 1;
    }
  });
}

// Samples gathered in time order by one task at a time.
constexpr std::size_t kSamplePiece = std::size_t(1) << 16;

// values[order[0]], values[order[1]], ..., gathered in parallel pieces.
template <typename T>
std::vector<T> in_order(const T* values, std::span<const int64_t> order) {
  std::vector<T> out = large_vector<T>(order.size());
  parallel_pieces(order.size(), kSamplePiece, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) out[k] = values[order[k]];
  });
  return out;
}

void check_split_input(const Table& df) {
  const Column& obs = required_column(df, kObsValue);
  if (obs.type() != DataType::String)
    throw TypeError("split_lines: column 'OBSVALUE' holds " + std::string(type_name(obs.type())) +
                    ", not the texts of the samples");
  const Column& start = required_column(df, kStartDate);
  if (start.type() != DataType::Timestamp)
    throw TypeError("split_lines: column 'STARTDATE' holds " + std::string(type_name(start.type())) +
                    ", not timestamps");
  if (df.num_rows() > std::size_t(INT32_MAX)) throw std::length_error("split_lines: too many rows");
}

// The result: the samples' times as its key, the other columns of their
// rows, then their values.
Table assemble(const Table& df, std::vector<int64_t> when, std::vector<float> values,
               std::span<const int64_t> source_row) {
  Table result;
  result.set_key_column(Column::from_timestamps(kStartDate, std::move(when), df.column(kStartDate).zone()));
  for (const auto& c : df.columns()) {
    if (c.name() == kObsValue || c.name() == kStartDate) continue;
    result.add_column(c.dictionary_encoded().take(source_row));
  }
  result.add_column(Column::from_float32(kObsValue, std::move(values)));
  result.attributes() = df.attributes();
  return result;
}

// Samples whose time order the rows give are written where they belong.
Table split_into_place(const Table& df, int64_t unit, const Placement& at) {
  std::vector<int64_t> when = large_vector<int64_t>(at.count);
  std::vector<float> values = large_vector<float>(at.count);
  std::unique_ptr<int64_t[]> source_row = large_unwritten<int64_t>(at.count);
  write_samples(df.column(kObsValue), df.column(kStartDate).int64s(), unit, at, when.data(), values.data(),
                source_row.get());
  return assemble(df, std::move(when), std::move(values), std::span(source_row.get(), at.count));
}

// Other samples are written in row order and sorted by time.
Table split_and_sort(const Table& df, int64_t unit, const Placement& at) {
  Samples samples;  // millions of samples, each written once: huge pages
  samples.count = at.count;
  samples.when = large_unwritten<int64_t>(at.count);
  samples.value = large_unwritten<float>(at.count);
  samples.row = large_unwritten<int32_t>(at.count);
  write_samples(df.column(kObsValue), df.column(kStartDate).int64s(), unit, at, samples.when.get(), samples.value.get(),
                samples.row.get());
  // The order, a work buffer, becomes the input row of each result row below.
  std::unique_ptr<int64_t[]> order_buffer = large_unwritten<int64_t>(samples.count);
  std::span<int64_t> order(order_buffer.get(), samples.count);
  sort_time_indices(std::span(samples.when.get(), samples.count), order);
  std::vector<int64_t> when = in_order(samples.when.get(), order);
  samples.when.reset();
  std::vector<float> values = in_order(samples.value.get(), order);
  samples.value.reset();
  parallel_pieces(order.size(), kSamplePiece, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) order[k] = samples.row[std::size_t(order[k])];
  });
  samples.row.reset();
  return assemble(df, std::move(when), std::move(values), order);
}

Table split_rows(const Table& df, double sample_by_seconds) {
  check_split_input(df);
  const int64_t unit = offset_unit_ns(sample_by_seconds);
  const Column& obs = df.column(kObsValue);
  const auto& starts = df.column(kStartDate).int64s();
  std::vector<std::size_t> parts = count_samples(obs, starts, unit);
  if (auto at = time_order(obs, starts, parts, unit)) return split_into_place(df, unit, *at);
  return split_and_sort(df, unit, row_order(parts));
}

void check_daily_input(const Table& df) {
  const Column& obs = required_column(df, kObsValue);
  required_column(df, kStartDate);
  DataType t = obs.type();
  if (t == DataType::Timestamp || t == DataType::Duration || t == DataType::Binary)
    throw TypeError("split_lines: column 'OBSVALUE' holds " + std::string(type_name(t)) + ", not numbers or texts");
}

// Daily data: sort by STARTDATE, make it the row key, convert the values.
void convert_daily(Table& df) {
  check_daily_input(df);
  SortKey key{kStartDate, true};
  sort_in_place(df, std::span(&key, 1));
  df.set_key(kStartDate);
  Column& obs = df.column(kObsValue);
  obs = cast_float32(obs);
}

void log_start() { logger_config::cleaning_logger.debug("Splitting data..."); }

}  // namespace

Table split_lines(Table& df, double sample_by_seconds) {
  log_start();
  if (is_split_case(sample_by_seconds)) return split_rows(df, sample_by_seconds);
  convert_daily(df);
  return df;
}

Table split_lines(Table&& df, double sample_by_seconds) {
  log_start();
  if (is_split_case(sample_by_seconds)) return split_rows(df, sample_by_seconds);
  convert_daily(df);
  return std::move(df);
}

Table split_lines(const Table& df, double sample_by_seconds) {
  log_start();
  if (is_split_case(sample_by_seconds)) return split_rows(df, sample_by_seconds);
  Table copy = df;
  convert_daily(copy);
  return copy;
}

}  // namespace tremora::cleaning
