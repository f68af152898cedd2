#include "series_groups.hpp"

namespace tremora::postprocessing {
namespace {

bool same_cell(const Column& c, int64_t a, int64_t b) {
  bool na = c.is_null(std::size_t(a)), nb = c.is_null(std::size_t(b));
  if (na || nb) return na && nb;
  if (c.is_dictionary()) return c.codes()[std::size_t(a)] == c.codes()[std::size_t(b)] || c.text(std::size_t(a)) == c.text(std::size_t(b));
  if (c.type() == DataType::String || c.type() == DataType::Binary) return c.text(std::size_t(a)) == c.text(std::size_t(b));
  return c.at(std::size_t(a)) == c.at(std::size_t(b));
}

}  // namespace

SeriesGroups group_rows(const Table& table, const std::vector<std::string>& columns, bool missing_is_a_group,
                        std::span<const int64_t> order) {
  std::size_t n = table.num_rows();
  std::vector<const Column*> keys;
  std::vector<SortKey> sort_keys;
  for (const auto& name : columns) {
    keys.push_back(&table.column(name));
    sort_keys.push_back({name, true});
  }
  std::vector<int32_t> group_of(n, -1);
  int32_t groups = 0;
  std::vector<int64_t> sorted = sort_indices(table, sort_keys);
  for (std::size_t i = 0; i < n; ++i) {
    int64_t row = sorted[i];
    bool has_missing = false;
    for (const Column* c : keys) has_missing |= c->is_null(std::size_t(row));
    if (has_missing && !missing_is_a_group) continue;
    bool same = i > 0 && group_of[std::size_t(sorted[i - 1])] >= 0;
    for (const Column* c : keys) same = same && same_cell(*c, sorted[i - 1], row);
    group_of[std::size_t(row)] = same ? group_of[std::size_t(sorted[i - 1])] : groups++;
  }
  SeriesGroups out;
  out.members.resize(std::size_t(groups));
  auto add = [&](int64_t row) {
    if (int32_t g = group_of[std::size_t(row)]; g >= 0) out.members[std::size_t(g)].push_back(row);
  };
  if (order.empty()) {
    for (std::size_t row = 0; row < n; ++row) add(int64_t(row));
  } else {
    for (int64_t row : order) add(row);
  }
  return out;
}

}  // namespace tremora::postprocessing
