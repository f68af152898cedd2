#include <iostream>

#include "commands.hpp"

namespace tremora::cli {

void add_show(CLI::App& app) {
  struct Args {
    std::string file;
    std::optional<std::size_t> head;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("show", "Print a table file readably, typed as the commands read it");
  cmd->add_option("FILE", args->file, "Table file (.csv or .parquet)")->required();
  cmd->add_option("--head", args->head, "Show only the first N rows (default: the first and last five)")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return text.starts_with('-') ? "a number of rows is 0 or more, not " + text : std::string();
          },
          "N"));
  cmd->callback([args] {
    Table table = read_table_file(args->file);
    read_observation_types(table);
    print_table(std::cout, table, PrintOptions{.head = args->head});
  });
}

}  // namespace tremora::cli
