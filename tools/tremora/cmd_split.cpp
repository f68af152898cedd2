#include "tremora/cleaning.hpp"
#include "tremora/errors.hpp"
#include "commands.hpp"

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
  cmd->callback([args] {
    Table days = read_table_file(args->in);
    if (!days.has_column("STARTDATE")) throw KeyError("'" + args->in + "' has no column 'STARTDATE'");
    if (days.column("STARTDATE").type() == DataType::String)
      days.set_column(parse_timestamps(days.column("STARTDATE")));
    Table samples = cleaning::split_lines(std::move(days), args->rate);
    write_table_file(samples, args->out);
  });
}

}  // namespace tremora::cli
