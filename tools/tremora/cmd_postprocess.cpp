// The post-processing commands: resample, diff, mad, normalize-dates.
#include <iostream>

#include "commands.hpp"
#include "tremora/errors.hpp"
#include "tremora/plotkit.hpp"
#include "tremora/postprocessing.hpp"

namespace tremora::cli {
namespace {

// A table file with STARTDATE read as timestamps, as a column or as the row key.
Table read_observations(const std::string& path, bool as_key) {
  Table t = read_table_file(path);
  if (!t.has_column("STARTDATE")) throw KeyError("'" + path + "' has no column 'STARTDATE'");
  if (t.column("STARTDATE").type() == DataType::String) t.set_column(parse_timestamps(t.column("STARTDATE")));
  if (as_key) t.set_key("STARTDATE");
  return t;
}

void done(const Table& t, const std::string& out) {
  write_table_file(t, out);
  std::cout << "wrote " << out << ": " << t.num_rows() << " rows\n";
}

struct Files {
  std::string in, out;
};

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
    std::string freq, agg = "mean", value_col = "OBSVALUE";
    std::vector<std::string> group_cols;
    bool no_groups = false, keep_first = false, no_sort = false;
    int64_t periods = 1, window = 15, reference_year = 2024;
    double threshold = 5.0;
  };
  auto a = std::make_shared<Args>();

  CLI::App* resample = command(app, "resample", "Resample each series into regular bins", a->resample);
  resample->add_option("--freq", a->freq, "Bin width: a count and D, h, min or s (1h, 15min, 1D)")->required();
  resample->add_option("--agg", a->agg, "mean, sum, median, max or min");
  resample->callback([a] {
    done(postprocessing::resample_timeseries_data(read_observations(a->resample.in, false), a->freq, a->agg),
         a->resample.out);
  });

  CLI::App* diff = command(app, "diff", "First difference of each series", a->diff);
  diff->add_option("--value-col", a->value_col, "Column to difference (OBSVALUE)");
  diff->add_option("--group-col", a->group_cols, "Series column (repeatable; default STATIONID, POINTID, ITEMID)");
  diff->add_flag("--no-groups", a->no_groups, "Treat the whole table as one series");
  diff->add_option("--periods", a->periods, "Lag in rows (1)");
  diff->add_flag("--keep-first", a->keep_first, "Keep the rows without a difference");
  diff->add_flag("--no-sort", a->no_sort, "Keep the file's row order instead of sorting by STARTDATE");
  diff->callback([a] {
    Table t = read_observations(a->diff.in, true);
    postprocessing::DifferenceOptions o{.value_col = a->value_col, .periods = a->periods, .keep_first = a->keep_first,
                                        .sort = !a->no_sort};
    if (a->no_groups) o.group_cols = std::vector<std::string>{};
    else if (!a->group_cols.empty()) o.group_cols = a->group_cols;
    done(postprocessing::first_difference(t, o), a->diff.out);
  });

  CLI::App* mad = command(app, "mad", "Replace spikes by the moving median (MAD rule)", a->mad);
  mad->add_option("--window-size", a->window, "Window in samples (15)");
  mad->add_option("--threshold-factor", a->threshold, "Multiple of the MAD (5.0)");
  mad->callback([a] {
    done(postprocessing::filter_with_fast_mad(read_observations(a->mad.in, true), a->window, a->threshold),
         a->mad.out);
  });

  CLI::App* reindex = command(app, "reindex", "Put the table on a regular time grid (gaps become missing rows)",
                              a->reindex);
  reindex->callback([a] { done(plotkit::reindex_df_by_interval(read_observations(a->reindex.in, true)), a->reindex.out); });

  CLI::App* normalize = command(app, "normalize-dates", "Add datetime_norm: each day in one reference year", a->normalize);
  normalize->add_option("--reference-year", a->reference_year, "Year to map the dates into (2024)");
  normalize->callback([a] {
    Table t = read_observations(a->normalize.in, true);
    done(postprocessing::create_normalized_dates(t, a->reference_year), a->normalize.out);
  });
}

}  // namespace tremora::cli
