#include <algorithm>
#include <cmath>

#include "time_order.hpp"
#include "tremora/errors.hpp"
#include "tremora/memory.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::postprocessing {
namespace {

std::vector<std::string> group_columns(const Table& df, const DifferenceOptions& o) {
  std::vector<std::string> cols;
  if (!o.group_cols) {
    for (const char* name : {qzdata::kStationId, qzdata::kPointId, qzdata::kItemId})
      if (df.has_column(name)) cols.push_back(name);
    return cols;
  }
  std::vector<std::string> missing;
  for (const auto& name : *o.group_cols)
    if (!df.has_column(name)) missing.push_back("'" + name + "'");
  if (!missing.empty()) throw KeyError("Missing group columns: [" + join(missing, ", ") + "]");
  return *o.group_cols;
}

// Each series' last `lag` values in a ring, NaN until the series has had
// that many rows: at most as many slots as the series has rows, so a large
// lag costs no memory.
class LagRings {
 public:
  LagRings(const SeriesIds& series, std::size_t lag)
      : lag_(lag), start_(series.count + 1, 0), cursor_(series.count, 0) {
    std::vector<std::size_t> rows(series.count, 0);
    for (int32_t g : series.of_row) ++rows[std::size_t(g)];
    for (std::size_t g = 0; g < series.count; ++g) start_[g + 1] = start_[g] + std::min(rows[g], lag);
    values_.assign(start_.back(), std::nan(""));
  }

  // Stores a series' new value and returns the one `lag` rows before it.
  double exchange(std::size_t g, double now) {
    std::size_t length = start_[g + 1] - start_[g];
    if (length < lag_) return std::nan("");  // the series is too short for any difference
    double& slot = values_[start_[g] + cursor_[g]];
    double before = slot;
    slot = now;
    cursor_[g] = cursor_[g] + 1 == length ? 0 : cursor_[g] + 1;
    return before;
  }

 private:
  std::size_t lag_;
  std::vector<std::size_t> start_, cursor_;
  std::vector<double> values_;
};

// Visits the rows in the working order (table order when it is empty).
template <typename Visit>
void in_order(std::span<const int64_t> order, std::size_t rows, Visit visit) {
  if (order.empty()) {
    for (std::size_t row = 0; row < rows; ++row) visit(row);
  } else {
    for (int64_t row : order) visit(std::size_t(row));
  }
}

// Walks the rows in the working order, so that every row meets the value
// `lag` rows before it in its own series (NaN where there is none, and NaN
// minus anything stays NaN).
template <typename T>
void difference_series(const SeriesIds& series, std::span<const int64_t> order, const T* v, std::size_t lag,
                       std::vector<double>& diff) {
  if (lag == 1) {  // the common case: each series' previous value
    std::vector<double> previous(series.count, std::nan(""));
    in_order(order, diff.size(), [&](std::size_t row) {
      double& before = previous[std::size_t(series.of_row[row])];
      double now = double(v[row]);
      diff[row] = now - before;
      before = now;
    });
    return;
  }
  LagRings rings(series, lag);
  in_order(order, diff.size(), [&](std::size_t row) {
    double now = double(v[row]);
    diff[row] = now - rings.exchange(std::size_t(series.of_row[row]), now);
  });
}

// The differences of every row, NaN where there is none.
std::vector<double> differences(const Table& df, const std::vector<std::string>& groups,
                                const DifferenceOptions& options) {
  const Column& values = df.column(options.value_col);
  std::vector<double> diff = large_vector<double>(values.size());
  SeriesIds series = series_ids(df, groups, /*missing_is_a_group=*/true);
  std::vector<int64_t> order = working_order(df, options.sort);
  std::size_t lag = std::size_t(options.periods);
  if (values.type() == DataType::Float32) {
    difference_series(series, order, values.float32s().data(), lag, diff);
  } else if (values.type() == DataType::Float64) {
    difference_series(series, order, values.float64s().data(), lag, diff);
  } else {
    Column numbers = to_number(values);
    difference_series(series, order, numbers.float64s().data(), lag, diff);
  }
  return diff;
}

}  // namespace

Table first_difference(Table& df, const DifferenceOptions& options) {
  if (!df.has_column(options.value_col)) throw KeyError("no value column '" + options.value_col + "'");
  if (options.periods < 1) throw std::invalid_argument("periods must be a positive integer");
  std::vector<std::string> groups = group_columns(df, options);
  std::vector<double> diff = differences(df, groups, options);
  auto missing = [](double d) { return std::isnan(d); };
  // The other columns of the result: all rows, or those with a difference;
  // the value column is not copied, as the differences replace it.
  std::vector<uint8_t> has_difference(diff.size(), 1);
  if (!options.keep_first)
    for (std::size_t i = 0; i < diff.size(); ++i) has_difference[i] = !missing(diff[i]);
  Table result = filter(df, has_difference, options.value_col);
  // The result's values: all differences, or the kept ones moved to the
  // front in place; a copy only when the caller's column takes them all.
  std::vector<double> values = options.copy ? std::move(diff) : diff;
  if (!options.keep_first) std::erase_if(values, missing);
  result.insert_column(*df.find_column(options.value_col), Column::from_float64(options.value_col, std::move(values)));
  if (!options.copy) df.column(options.value_col) = Column::from_float64(options.value_col, std::move(diff));
  return result;
}

}  // namespace tremora::postprocessing
