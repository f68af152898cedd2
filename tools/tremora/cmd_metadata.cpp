// The commands of the local metadata cache: refresh-cache fills it from the
// database, info reads the stations, points and items from it.
#include <iostream>

#include "commands.hpp"
#include "tremora/fetching.hpp"
#include "tremora/metastash.hpp"

namespace tremora::cli {

std::string offline_cache_dir(const std::string& alias, const std::string& cache_dir) {
  IniConfig config = fetching::read_default_config();
  return metastash::MetadataCache::resolve_cache_dir(cache_dir, config.get(alias, "HOST"));
}

void add_refresh_cache(CLI::App& app) {
  struct Args {
    std::string db, cache_dir;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("refresh-cache", "Copy the dictionary tables into the local metadata cache");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--cache-dir", args->cache_dir, "Cache folder")->default_str("~/.tremo/metastash");
  set_examples(cmd, {"tremora refresh-cache --db sample"});
  cmd->callback([args] {
    auto conn = connect(args->db);
    auto tables = fetching::refresh_metastash(*conn, args->cache_dir);
    std::string dir = metastash::MetadataCache::resolve_cache_dir(
        args->cache_dir, metastash::MetadataCache::infer_namespace(conn.get()));
    for (const auto& [key, table] : tables) std::cout << key << ": " << table.num_rows() << " rows\n";
    std::cout << "cache: " << dir << "\n";
    conn->close();
  });
}

void add_info(CLI::App& app) {
  struct Args {
    std::string db, cache_dir, out_dir;
    bool refresh = false;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("info", "The stations, points and items of a database, from its metadata cache");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--cache-dir", args->cache_dir, "Cache folder")->default_str("~/.tremo/metastash");
  cmd->add_flag("--refresh", args->refresh, "Fill the cache from the database first (else no connection is made)");
  cmd->add_option("--out-dir", args->out_dir, "Also write stations.csv, points.csv and items.csv into this folder");
  set_examples(cmd, {"tremora info --db sample --out-dir out/dictionary"});
  cmd->callback([args] {
    metastash::TimeseriesInfo info;
    if (args->refresh) {
      auto conn = connect(args->db);
      info = fetching::timeseries_info(conn.get(), args->cache_dir, true);
      conn->close();
    } else {
      info = fetching::timeseries_info(nullptr, offline_cache_dir(args->db, args->cache_dir));
    }
    for (const auto& [name, table] :
         {std::pair{"stations", &info.stations}, std::pair{"points", &info.points}, std::pair{"items", &info.items}}) {
      if (args->out_dir.empty()) std::cout << name << ": " << counted(table->num_rows(), "row") << "\n";
      else write_and_report(*table, (std::filesystem::path(args->out_dir) / (std::string(name) + ".csv")).string());
    }
  });
}

}  // namespace tremora::cli
