// The post-processing commands: resample, diff, mad, normalize-dates.
#include "commands.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/postprocessing.hpp"
#include "tremora/qzdata.hpp"

namespace tremora::cli {
namespace {

struct Files {
  std::string in, out;
};

// The IN table typed as the commands read it, with STARTDATE as a column or
// as the row key, once OUT is known to be another file.
Table read_observations(const Files& files, bool as_key) {
  refuse_same_files({{"IN", files.in}}, {{"OUT", files.out}});
  Table t = read_observation_file(files.in);
  read_observation_types(t);
  if (as_key) t.set_key(qzdata::kStartDate);
  return t;
}

CLI::App* command(CLI::App& app, const char* name, const char* what, Files& files) {
  CLI::App* cmd = app.add_subcommand(name, what);
  cmd->add_option("IN", files.in, "Observation table, .csv or .parquet")->required();
  cmd->add_option("OUT", files.out, "File to write, .csv or .parquet")->required();
  return cmd;
}

}  // namespace

void add_postprocessing(CLI::App& app) {
  struct Args {
    Files resample, diff, mad, normalize, reindex;
    std::string freq, agg = "mean", value_col = qzdata::kObsValue;
    std::vector<std::string> group_cols;
    bool no_groups = false, keep_first = false, no_sort = false;
    int64_t periods = 1, window = 15, reference_year = 2024;
    double threshold = 5.0;
  };
  auto a = std::make_shared<Args>();

  CLI::App* resample = command(app, "resample", "Resample each series into regular bins", a->resample);
  resample->add_option("--freq", a->freq, "Bin width: a count and D, h, min or s (1h, 15min, 1D)")->required();
  resample->add_option("--agg", a->agg, "Aggregate: mean, sum, median, max or min");
  set_examples(resample, {"tremora resample data/water_minutes.parquet out/water_hours.csv --freq 1h"});
  resample->callback([a] {
    write_and_report(postprocessing::resample_timeseries_data(read_observations(a->resample, false), a->freq, a->agg),
                     a->resample.out);
  });

  CLI::App* diff = command(app, "diff", "First difference of each series", a->diff);
  diff->add_option("--value-col", a->value_col, "Column to difference");
  diff->add_option("--group-col", a->group_cols, "Series column (repeatable)")->default_str("STATIONID POINTID ITEMID");
  diff->add_flag("--no-groups", a->no_groups, "Treat the whole table as one series");
  diff->add_option("--periods", a->periods, "Lag in rows");
  diff->add_flag("--keep-first", a->keep_first, "Keep the rows without a difference");
  diff->add_flag("--no-sort", a->no_sort, "Keep the file's row order instead of sorting by STARTDATE");
  set_examples(diff, {"tremora diff data/tancheng_hours.parquet out/tancheng_hours_diff.csv"});
  diff->callback([a] {
    Table t = read_observations(a->diff, true);
    postprocessing::DifferenceOptions o{
        .value_col = a->value_col, .periods = a->periods, .keep_first = a->keep_first, .sort = !a->no_sort};
    if (a->no_groups) o.group_cols = std::vector<std::string>{};
    else if (!a->group_cols.empty()) o.group_cols = a->group_cols;
    write_and_report(postprocessing::first_difference(t, o), a->diff.out);
  });

  CLI::App* mad = command(app, "mad", "Replace spikes by the moving median (MAD rule)", a->mad);
  mad->add_option("--window-size", a->window, "Window in samples");
  mad->add_option("--threshold-factor", a->threshold, "Multiple of the MAD");
  set_examples(mad, {"tremora mad data/water_minutes.parquet out/water_minutes_mad.parquet --window-size 31"});
  mad->callback([a] {
    write_and_report(postprocessing::filter_with_fast_mad(read_observations(a->mad, true), a->window, a->threshold),
                     a->mad.out);
  });

  CLI::App* reindex =
      command(app, "reindex", "Put the table on a regular time grid (gaps become missing rows)", a->reindex);
  set_examples(reindex, {"tremora reindex data/water_days_2022_2024.parquet out/water_days_grid.csv"});
  reindex->callback(
      [a] { write_and_report(plotkit::reindex_df_by_interval(read_observations(a->reindex, true)), a->reindex.out); });

  CLI::App* normalize =
      command(app, "normalize-dates", "Add datetime_norm: each day in one reference year", a->normalize);
  normalize->add_option("--reference-year", a->reference_year, "Year to map the dates into");
  set_examples(normalize, {"tremora normalize-dates data/water_days_2022_2024.parquet out/water_days_norm.csv"});
  normalize->callback([a] {
    Table t = read_observations(a->normalize, true);
    write_and_report(postprocessing::create_normalized_dates(t, a->reference_year), a->normalize.out);
  });
}

}  // namespace tremora::cli
