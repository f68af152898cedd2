#include <cmath>
#include <numeric>

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

// The rows in row-key order (stable, missing keys last), or as they stand.
std::vector<int64_t> working_order(const Table& df, bool sort) {
  if (sort && df.has_key()) return sort_indices(df.key());
  std::vector<int64_t> order(df.num_rows());
  std::iota(order.begin(), order.end(), int64_t{0});
  return order;
}

}  // namespace

Table first_difference(Table& df, const DifferenceOptions& options) {
  if (!df.has_column(options.value_col)) throw KeyError(options.value_col);
  if (options.periods < 1) throw std::invalid_argument("periods must be a positive integer");
  std::vector<std::string> groups = group_columns(df, options);
  Table copied;
  if (options.copy) copied = df;
  Table& result = options.copy ? copied : df;

  // Each series then lists its rows in row-key order.
  std::vector<int64_t> order = working_order(result, options.sort);
  Column numbers = to_number(result.column(options.value_col));
  const std::vector<double>& v = numbers.float64s();
  std::vector<double> diff(v.size(), std::nan(""));
  SeriesGroups series = group_rows(result, groups, /*missing_is_a_group=*/true, order);
  std::size_t lag = std::size_t(options.periods);
  for (const auto& rows : series.members) {
    for (std::size_t k = lag; k < rows.size(); ++k) {
      double now = v[std::size_t(rows[k])], before = v[std::size_t(rows[k - lag])];
      if (!std::isnan(now) && !std::isnan(before)) diff[std::size_t(rows[k])] = now - before;
    }
  }
  std::vector<uint8_t> has_difference(diff.size());
  for (std::size_t i = 0; i < diff.size(); ++i) has_difference[i] = !std::isnan(diff[i]);
  result.column(options.value_col) = Column::from_float64(options.value_col, std::move(diff));
  if (options.keep_first) return result;
  return filter(result, has_difference);
}

}  // namespace tremora::postprocessing
