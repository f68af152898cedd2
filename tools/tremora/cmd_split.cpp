#include "commands.hpp"
#include "tremora/cleaning.hpp"

namespace tremora::cli {

void add_split(CLI::App& app) {
  struct Args {
    double rate = 0;
    std::string in, out;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("split", "Split day rows into one row per sample");
  cmd->add_option("--rate", args->rate, "Seconds between the samples of a row (1, 60, 3600, 86400)")->required();
  cmd->add_option("IN", args->in, "Day rows (STARTDATE, OBSVALUE, other columns), .csv or .parquet")->required();
  cmd->add_option("OUT", args->out, "File to write, .csv or .parquet")->required();
  set_examples(cmd, {"tremora split --rate 60 data/tancheng_minute_day_rows.parquet out/tancheng_minutes.csv"});
  cmd->callback([args] {
    refuse_same_files({{"IN", args->in}}, {{"OUT", args->out}});
    write_and_report(cleaning::split_lines(read_observation_file(args->in), args->rate), args->out);
  });
}

}  // namespace tremora::cli
