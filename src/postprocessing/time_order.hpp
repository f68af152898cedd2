// The time order the per-series operations walk a table's rows in.
#pragma once

#include <cstdint>
#include <vector>

#include "tremora/table.hpp"
#include "tremora/time.hpp"

namespace tremora::postprocessing {

/// True when a time key is in order already (NaT only at the end).
inline bool times_in_order(const Column& key) {
  if (key.type() != DataType::Timestamp && key.type() != DataType::Duration) return false;
  const auto& t = key.int64s();
  for (std::size_t i = 1; i < t.size(); ++i)
    if (t[i] != Timestamp::NaT && (t[i - 1] == Timestamp::NaT || t[i] < t[i - 1])) return false;
  return true;
}

/// The rows in row-key order (stable, missing keys last); empty when that
/// is the table's own order (or `sort` is false, or there is no key).
inline std::vector<int64_t> working_order(const Table& df, bool sort) {
  if (!sort || !df.has_key() || times_in_order(df.key())) return {};
  return sort_indices(df.key());
}

}  // namespace tremora::postprocessing
