#include <iostream>

#include "commands.hpp"

namespace tremora::cli {

void add_show(CLI::App& app) {
  struct Args {
    std::string file;
    std::optional<std::size_t> head;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("show", "Print a table file readably");
  cmd->add_option("FILE", args->file, "Table file (.csv or .parquet)")->required();
  cmd->add_option("--head", args->head, "Show only the first N rows");
  cmd->callback([args] {
    Table table = read_table_file(args->file);
    print_table(std::cout, table, PrintOptions{.head = args->head});
  });
}

}  // namespace tremora::cli
