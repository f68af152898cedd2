#include <iostream>

#include "commands.hpp"
#include "tremora/sampledb.hpp"

namespace tremora::cli {

void add_sample_db(CLI::App& app) {
  struct Args {
    std::string path;
    std::string catalogue;
    std::vector<std::string> stations;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("sample-db", "Write the sample precursor database (SQLite) and catalogue");
  cmd->add_option("PATH", args->path, "Database file to write")->required();
  cmd->add_option("--catalogue", args->catalogue,
                  "Earthquake catalogue file to write (default: sample-catalogue.txt beside PATH)");
  cmd->add_option("--station", args->stations, "Only these station codes (repeatable)")->default_str("all");
  set_examples(cmd, {"tremora sample-db --station 37001 out/tancheng.db"});
  cmd->callback([args] {
    sampledb::Options options;
    options.stations = args->stations;
    std::filesystem::path db = args->path;
    std::filesystem::path catalogue =
        args->catalogue.empty() ? db.parent_path() / "sample-catalogue.txt" : std::filesystem::path(args->catalogue);
    refuse_same_files({},
                      {{"PATH", db.string()},
                       {args->catalogue.empty() ? "the catalogue beside PATH" : "--catalogue", catalogue.string()}});
    create_parent_folder(db);
    sampledb::Summary s = sampledb::write_database(db, options);
    create_parent_folder(catalogue);
    sampledb::write_catalogue(catalogue, options);
    std::cout << "wrote " << db.string() << ": " << s.tables << " tables, " << s.day_rows << " day rows, "
              << s.bytes / 1000000.0 << " MB; catalogue " << catalogue.string() << "\n";
  });
}

}  // namespace tremora::cli
