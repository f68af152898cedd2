// export: an observation table, fetched or read from a file, written as a
// VUZO file with the records of its stations and items.
#include <iostream>

#include "commands.hpp"
#include "tremora/export.hpp"
#include "tremora/parquet.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

struct ExportArgs {
  RequestArgs request;
  std::string from, out;
};

// The seconds between samples of --rate: a rate name (分钟值, 分值, ...) or,
// for a table file, a whole number of seconds.
int64_t rate_seconds(const std::string& rate, bool numbers_too) {
  if (auto config = fetching::SampleRateType::get_config(rate)) return config->rate;
  if (numbers_too)
    if (auto seconds = parse_integer(rate); seconds && *seconds > 0) return *seconds;
  throw CLI::ValidationError(
      "--rate", "'" + rate + "' is not a sampling rate" + (numbers_too ? " name nor a whole number of seconds" : ""));
}

void export_and_report(db::Connection* conn, const Table& table, const std::string& out, int64_t seconds,
                       Progress& progress) {
  if (table.num_rows() == 0) throw std::runtime_error("nothing to export: the table has no rows");
  progress.step("writing " + out);
  create_parent_folder(out);
  fetching::DataFetcher::export_vuzo(conn, table, out, seconds);
  progress.finish();
  Table entries;  // the file's metadata only: the rows are not read again
  entries.attributes() = parquet::read_metadata(out);
  exchange::VuzoContext context = exchange::context_of(entries, out);
  std::cout << "wrote " << out << ": " << counted(table.num_rows(), "row") << ", "
            << counted(context.station_info.num_rows(), "station record") << ", "
            << counted(context.item_info.num_rows(), "item record") << "\n";
}

void export_fetched(const CLI::App& cmd, const ExportArgs& args) {
  require_options(cmd, {"--start", "--end", "--method", "--rate", "--type"}, "or --from TABLE");
  int64_t seconds = rate_seconds(args.request.rate, false);
  Progress progress("export", 3);
  progress.step("connecting to " + args.request.db);
  auto conn = connect(args.request.db);
  refuse_writing_over_database(*conn, args.out);
  progress.step("fetching");
  Table table = fetch_observations(conn.get(), args.request);
  export_and_report(conn.get(), table, args.out, seconds, progress);
  conn->close();
}

void export_file(const ExportArgs& args) {
  refuse_same_files({{"--from", args.from}}, {{"--out", args.out}});
  if (args.request.rate.empty()) throw CLI::RequiredError("--rate");
  int64_t seconds = rate_seconds(args.request.rate, true);
  Progress progress("export", 3);
  progress.step("reading " + args.from);
  Table table = read_observation_file(args.from);
  read_observation_types(table);
  progress.step("connecting to " + args.request.db);
  auto conn = connect(args.request.db);
  refuse_writing_over_database(*conn, args.out);
  export_and_report(conn.get(), table, args.out, seconds, progress);
  conn->close();
}

}  // namespace

void add_export(CLI::App& app) {
  auto args = std::make_shared<ExportArgs>();
  CLI::App* cmd = app.add_subcommand(
      "export",
      "Write observation data as a VUZO file (Parquet with the station and item records of the data,\n"
      "its sampling rate and the export time): fetched as fetch does, or read --from a table file");
  add_request_options(cmd, args->request, false);
  CLI::Option* from = cmd->add_option("--from", args->from,
                                      "Table file (.csv, .parquet, .vuzo) to export instead "
                                      "of fetching; --rate may then be seconds (60)");
  for (const char* fetch_only : {"--start", "--end", "--method", "--station", "--type", "--item", "--point", "--gzip"})
    from->excludes(cmd->get_option(fetch_only));
  cmd->add_option("--out", args->out, "Output VUZO file (replaced when it exists)")->required();
  set_examples(cmd, {"tremora export --db sample --start 20240509 --end 20240511 --method 水位 --station 郯城 "
                     "--rate 分钟值 --type 预处理库 --gzip --out out/tancheng_minutes.vuzo",
                     "tremora export --from data/water_minutes.parquet --db sample --rate 60 --out out/water.vuzo"});
  cmd->callback([args, cmd] {
    if (args->from.empty()) export_fetched(*cmd, *args);
    else export_file(*args);
  });
}

}  // namespace tremora::cli
