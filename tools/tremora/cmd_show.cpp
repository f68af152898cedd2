#include <iostream>

#include "commands.hpp"
#include "tremora/export.hpp"

namespace tremora::cli {
namespace {

void print_records(std::ostream& out, const std::string& name, const Table& records) {
  std::size_t n = records.num_rows();
  out << name << ": " << counted(n, "record") << "\n";
  if (n) print_table(out, records);
}

// The description a VUZO file carries, above its rows.
void print_context(std::ostream& out, const exchange::VuzoContext& context) {
  out << "export_time: " << context.export_time << "\n";
  out << "sampling_rate: " << context.sampling_rate << " s\n";
  print_records(out, "station_info", context.station_info);
  print_records(out, "item_info", context.item_info);
}

}  // namespace

void add_show(CLI::App& app) {
  struct Args {
    std::string file;
    std::optional<std::size_t> head;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("show", "Print a table file readably, typed as the commands read it");
  cmd->add_option("FILE", args->file, "Table file (.csv, .parquet, or .vuzo: its context above its rows)")->required();
  cmd->add_option("--head", args->head, "Show only the first N rows (default: the first and last five)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return text.starts_with('-') ? "a number of rows is 0 or more, not " + text : std::string();
          },
          "N"));
  set_examples(cmd, {"tremora show data/water_minutes.vuzo --head 3"});
  cmd->callback([args] {
    if (is_vuzo_file(args->file)) {
      exchange::VuzoFile vuzo = exchange::read_vuzo(args->file);
      print_context(std::cout, vuzo.context);
      std::cout << "rows:\n";
      print_table(std::cout, vuzo.table, PrintOptions{.head = args->head});
      return;
    }
    Table table = read_table_file(args->file);
    read_observation_types(table);
    print_table(std::cout, table, PrintOptions{.head = args->head});
  });
}

}  // namespace tremora::cli
