// GoogleTest checks of tables, and their values as texts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tremora/table.hpp"

namespace tremora::testing {

/// The same columns in the same order, of the same types (and zones), with
/// the same values and missing values.
inline void expect_same(const Table& a, const Table& b) {
  ASSERT_EQ(a.column_names(), b.column_names());
  ASSERT_EQ(a.num_rows(), b.num_rows());
  for (std::size_t c = 0; c < a.num_columns(); ++c) {
    const Column& x = a.column(c);
    const Column& y = b.column(c);
    ASSERT_EQ(x.type(), y.type()) << x.name();
    if (x.type() == DataType::Timestamp) {
      EXPECT_EQ(x.zone(), y.zone()) << x.name();
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
      ASSERT_EQ(x.is_null(i), y.is_null(i)) << x.name() << " row " << i;
      if (!x.is_null(i)) {
        ASSERT_EQ(x.at(i), y.at(i)) << x.name() << " row " << i;
      }
    }
  }
}

/// The text form of each value of a column.
inline std::vector<std::string> texts(const Table& t, const std::string& column) {
  std::vector<std::string> out;
  const Column& c = t.column(column);
  for (std::size_t i = 0; i < c.size(); ++i) out.push_back(c.at(i).to_text());
  return out;
}

}  // namespace tremora::testing
