#include <algorithm>
#include <cmath>

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

// The rows are counted and then split in runs of rows in parallel, each
// into its own part of the result; the first bad row is the one named, as
// in order (a run stops at its first, and the lowest run's error is raised).
Samples collect_samples(const Column& obs, const Column& start, int64_t unit) {
  const std::size_t rows = obs.size();
  const auto& starts = start.int64s();
  std::vector<std::size_t> first(rows + 1, 0);  // each row's first sample
  for_rows(rows, [&](std::size_t r) {
    std::size_t parts = obs.is_null(r) ? 1 : count_parts(strip_whitespace(obs.text(r)));
    check_last_sample_time(Timestamp{starts[r]}, parts, unit, r);
    first[r + 1] = parts;
  });
  for (std::size_t r = 0; r < rows; ++r) first[r + 1] += first[r];
  Samples s;  // millions of samples, each written once: huge pages
  s.count = first[rows];
  s.when = large_unwritten<int64_t>(s.count);
  s.value = large_unwritten<float>(s.count);
  s.row = large_unwritten<int32_t>(s.count);
  for_rows(rows, [&](std::size_t r) {
    std::size_t out = first[r];
    if (obs.is_null(r)) {
      s.when[out] = Timestamp::NaT;
      s.value[out] = std::nanf("");
      s.row[out] = int32_t(r);
      return;
    }
    std::string_view text = strip_whitespace(obs.text(r));
    int64_t t0 = starts[r];
    const char* p = text.data();
    const char* end = p + text.size();
    // Parts are short, so a plain scan finds the next space fastest.
    for (int64_t k = 0;; ++k) {
      const char* part_end = p;
      while (part_end < end && *part_end != ' ') ++part_end;
      s.when[out] = t0 == Timestamp::NaT ? Timestamp::NaT : t0 + k * unit;
      s.value[out] = sample_value(std::string_view(p, std::size_t(part_end - p)));
      s.row[out++] = int32_t(r);
      if (part_end == end) break;
      p = part_end + 1;
    }
  });
  return s;
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

Table split_rows(const Table& df, double sample_by_seconds) {
  check_split_input(df);
  const Column& start = df.column(kStartDate);
  Samples samples = collect_samples(df.column(kObsValue), start, offset_unit_ns(sample_by_seconds));

  // The order, a work buffer, becomes the input row of each result row below.
  std::unique_ptr<int64_t[]> order_buffer = large_unwritten<int64_t>(samples.count);
  std::span<int64_t> order(order_buffer.get(), samples.count);
  sort_time_indices(std::span(samples.when.get(), samples.count), order);
  Table result;
  result.set_key_column(Column::from_timestamps(kStartDate, in_order(samples.when.get(), order), start.zone()));
  samples.when.reset();
  Column value = Column::from_float32(kObsValue, in_order(samples.value.get(), order));
  samples.value.reset();

  std::span<int64_t> source_row = order;
  parallel_pieces(source_row.size(), kSamplePiece, [&](std::size_t begin, std::size_t end) {
    for (std::size_t k = begin; k < end; ++k) source_row[k] = samples.row[std::size_t(source_row[k])];
  });
  samples.row.reset();
  for (const auto& c : df.columns()) {
    if (c.name() == kObsValue || c.name() == kStartDate) continue;
    result.add_column(c.dictionary_encoded().take(source_row));
  }
  result.add_column(std::move(value));
  result.attributes() = df.attributes();
  return result;
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
