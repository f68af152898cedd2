// Splitting the rows of a table into series by the values of key columns.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "tremora/table.hpp"

namespace tremora::postprocessing {

struct SeriesGroups {
  /// The row positions of each series, series in ascending key order
  /// (missing values last), rows in the order asked for.
  std::vector<std::vector<int64_t>> members;
};

/// The series of every row: ids 0..count-1 in ascending key order, -1 for
/// rows that belong to no series.
struct SeriesIds {
  std::vector<int32_t> of_row;
  std::size_t count = 0;
};

/// The series ids of the rows, by the values of `columns`, with missing
/// values treated as group_rows treats them.
SeriesIds series_ids(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group);

/// Groups the rows by the values of `columns` (all rows in one group when
/// there are none). A missing value is a value of its own when
/// `missing_is_a_group`; otherwise such rows belong to no group. Rows are
/// listed in `order` (positions), or in table order when it is empty.
SeriesGroups group_rows(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group,
                        std::span<const int64_t> order = {});

}  // namespace tremora::postprocessing
