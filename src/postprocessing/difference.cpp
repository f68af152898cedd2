#include <cmath>

#include "series_groups.hpp"
#include "tremora/errors.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/text.hpp"

namespace tremora::postprocessing {
namespace {

std::vector<std::string> group_columns(const Table& df, const DifferenceOptions& o) {
  std::vector<std::string> cols;
  if (!o.group_cols) {
    for (const char* name : {"STATIONID", "POINTID", "ITEMID"})
      if (df.has_column(name)) cols.push_back(name);
    return cols;
  }
  std::vector<std::string> missing;
  for (const auto& name : *o.group_cols)
    if (!df.has_column(name)) missing.push_back("'" + name + "'");
  if (!missing.empty()) throw KeyError("Missing group columns: [" + join(missing, ", ") + "]");
  return *o.group_cols;
}

// True when a time key is in order already (NaT only at the end).
bool times_in_order(const Column& key) {
  if (key.type() != DataType::Timestamp && key.type() != DataType::Duration) return false;
  const auto& t = key.int64s();
  for (std::size_t i = 1; i < t.size(); ++i)
    if (t[i] != Timestamp::NaT && (t[i - 1] == Timestamp::NaT || t[i] < t[i - 1])) return false;
  return true;
}

// The rows in row-key order (stable, missing keys last); empty when that is
// the table's own order.
std::vector<int64_t> working_order(const Table& df, bool sort) {
  if (!sort || !df.has_key() || times_in_order(df.key())) return {};
  return sort_indices(df.key());
}

template <typename T>
void difference_series(const SeriesGroups& series, const T* v, std::size_t lag, std::vector<double>& diff) {
  for (const auto& rows : series.members) {
    for (std::size_t k = lag; k < rows.size(); ++k) {
      double now = double(v[std::size_t(rows[k])]), before = double(v[std::size_t(rows[k - lag])]);
      if (!std::isnan(now) && !std::isnan(before)) diff[std::size_t(rows[k])] = now - before;
    }
  }
}

// The differences of every row, NaN where there is none.
std::vector<double> differences(const Table& df, const std::vector<std::string>& groups,
                                const DifferenceOptions& options) {
  const Column& values = df.column(options.value_col);
  std::vector<double> diff(values.size(), std::nan(""));
  // Each series lists its rows in row-key order.
  SeriesGroups series = group_rows(df, groups, /*missing_is_a_group=*/true, working_order(df, options.sort));
  std::size_t lag = std::size_t(options.periods);
  if (values.type() == DataType::Float32) {
    difference_series(series, values.float32s().data(), lag, diff);
  } else if (values.type() == DataType::Float64) {
    difference_series(series, values.float64s().data(), lag, diff);
  } else {
    Column numbers = to_number(values);
    difference_series(series, numbers.float64s().data(), lag, diff);
  }
  return diff;
}

}  // namespace

Table first_difference(Table& df, const DifferenceOptions& options) {
  if (!df.has_column(options.value_col)) throw KeyError(options.value_col);
  if (options.periods < 1) throw std::invalid_argument("periods must be a positive integer");
  std::vector<std::string> groups = group_columns(df, options);
  Column value = Column::from_float64(options.value_col, differences(df, groups, options));
  Table result;
  if (options.keep_first) {
    result = df;
    result.column(options.value_col) = value;
  } else {
    std::vector<uint8_t> has_difference(value.size());
    const auto& d = value.float64s();
    for (std::size_t i = 0; i < d.size(); ++i) has_difference[i] = !std::isnan(d[i]);
    result = filter(df, has_difference);
    result.column(options.value_col) = filter(value, has_difference);
  }
  if (!options.copy) df.column(options.value_col) = std::move(value);
  return result;
}

}  // namespace tremora::postprocessing
