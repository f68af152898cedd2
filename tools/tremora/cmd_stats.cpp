// stats: the statistics of each series of an observation table, as the
// plotter's statistics lines use them, with the step of its times.
#include <iostream>

#include "commands.hpp"
#include "tremora/errors.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::cli {
namespace {

struct StatsArgs {
  std::string table, column = qzdata::kObsValue;
  double multiplier = 2.0;
};

// The code columns a table has, which tell its series apart.
std::vector<std::string> series_columns(const Table& t) {
  std::vector<std::string> out;
  for (const char* name : {qzdata::kStationId, qzdata::kPointId, qzdata::kItemId})
    if (t.find_column(name)) out.emplace_back(name);
  return out;
}

// The step code of a series' times, in time order ("" without times).
std::string step_of(const Table& series) {
  if (!series.find_column(qzdata::kStartDate)) return "";
  const SortKey by_time{qzdata::kStartDate};
  Table sorted = sort_by(series, std::span(&by_time, 1));
  return plotkit::most_frequent_step(sorted.column(qzdata::kStartDate).int64s());
}

// One row per series: its codes, rows, step and statistics.
Table series_statistics(const Table& t, const StatsArgs& a) {
  std::vector<std::string> codes = series_columns(t);
  SeriesGroups groups = group_rows(t, codes, true);
  std::vector<std::vector<std::optional<std::string>>> code_values(codes.size());
  std::vector<int64_t> rows;
  std::vector<std::optional<std::string>> steps;
  std::vector<std::pair<std::string, std::vector<double>>> stats;
  for (const auto& members : groups.members) {
    Table series = take(t, members);
    Table first = take(t, std::span(&members.front(), 1));
    for (std::size_t c = 0; c < codes.size(); ++c) {
      Column col = to_text(first.column(codes[c]));
      code_values[c].push_back(col.is_null(0) ? std::nullopt : std::optional(std::string(col.text(0))));
    }
    rows.push_back(static_cast<int64_t>(members.size()));
    steps.emplace_back(step_of(series));
    plotkit::Stats s = plotkit::calculate_stats(series, a.column, a.multiplier);
    if (stats.empty())
      for (const auto& [key, value] : s.entries) stats.emplace_back(key, std::vector<double>{});
    for (std::size_t k = 0; k < s.entries.size(); ++k) stats[k].second.push_back(s.entries[k].second);
  }
  Table out;
  for (std::size_t c = 0; c < codes.size(); ++c) out.add_column(Column::from_strings(codes[c], code_values[c]));
  out.add_column(Column::from_int64("rows", rows));
  out.add_column(Column::from_strings("step", steps));
  for (auto& [key, values] : stats) out.add_column(Column::from_float64(key, std::move(values)));
  return out;
}

}  // namespace

void add_stats(CLI::App& app) {
  auto a = std::make_shared<StatsArgs>();
  CLI::App* cmd = app.add_subcommand("stats",
                                     "Statistics of each series of a table: mean, median, std, min, max and "
                                     "the control band,\nwith the step of its times");
  cmd->add_option("TABLE", a->table, "Table file (.csv, .parquet, .vuzo)")->required();
  cmd->add_option("--column", a->column, "Column of values");
  cmd->add_option("--multiplier", a->multiplier, "Width of the control band in standard deviations");
  set_examples(cmd, {"tremora stats data/water_minutes.parquet"});
  cmd->callback([a] {
    Table t = read_table_file(a->table);
    read_observation_types(t);
    if (t.num_rows() == 0) throw std::runtime_error("'" + a->table + "' has no rows");
    if (!t.find_column(a->column)) throw KeyError("'" + a->table + "' has no column '" + a->column + "'");
    Table s = series_statistics(t, *a);
    print_table(std::cout, s, {.head = s.num_rows()});
  });
}

}  // namespace tremora::cli
