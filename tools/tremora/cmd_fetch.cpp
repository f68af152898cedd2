// The commands that read the precursor database: refresh-cache, fetch, dialog.
#include <iostream>

#include "commands.hpp"
#include "tremora/fetching.hpp"

namespace tremora::cli {
namespace {

std::shared_ptr<db::Connection> connect(const std::string& alias) {
  auto conn = fetching::conn_to_Oracle(alias);
  if (!conn) throw std::runtime_error("cannot connect to the database '" + alias + "' (the log above says why)");
  return conn;
}

void write_result(const std::optional<Table>& table, const std::string& out) {
  if (!table) throw std::runtime_error("the request could not be resolved (the log above says why)");
  write_table_file(*table, out);
  std::cout << "wrote " << out << ": " << table->num_rows() << " rows\n";
}

}  // namespace

void add_refresh_cache(CLI::App& app) {
  struct Args {
    std::string db, cache_dir;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("refresh-cache", "Copy the dictionary tables into the local metadata cache");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--cache-dir", args->cache_dir, "Cache folder (default ~/.tremo/metastash)");
  cmd->callback([args] {
    auto conn = connect(args->db);
    auto tables = fetching::refresh_metastash(*conn, args->cache_dir);
    std::string dir = metastash::MetadataCache::resolve_cache_dir(args->cache_dir,
                                                                  metastash::MetadataCache::infer_namespace(conn.get()));
    for (const auto& [key, table] : tables) std::cout << key << ": " << table.num_rows() << " rows\n";
    std::cout << "cache: " << dir << "\n";
    conn->close();
  });
}

void add_fetch(CLI::App& app) {
  struct Args {
    std::string db, start, end, method, station = "全部", rate, type, point, out;
    std::vector<std::string> items;
    bool gzip = false, no_split = false;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("fetch", "Fetch observation data into a table file");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--start", args->start, "First day (20240401, 2024-04-01, ...)")->required();
  cmd->add_option("--end", args->end, "Last day")->required();
  cmd->add_option("--method", args->method, "Method or discipline name (水位, 形变, 全部, ...)")->required();
  cmd->add_option("--station", args->station, "Station name, or 全部");
  cmd->add_option("--rate", args->rate, "Sampling rate: 秒钟值, 分钟值, 小时值, 日均值 (or 秒值, 分值, 整点值, 日值)")->required();
  cmd->add_option("--type", args->type, "Database type: 原始库, 预处理库, 产品库")->required();
  cmd->add_option("--item", args->items, "Item name (repeatable; default 全部)");
  cmd->add_option("--point", args->point, "Point code");
  cmd->add_flag("--gzip", args->gzip, "Values are gzip-compressed (second and minute data)");
  cmd->add_flag("--no-split", args->no_split, "Keep one row per day");
  cmd->add_option("--out", args->out, "Output file, .csv or .parquet")->required();
  cmd->callback([args] {
    auto conn = connect(args->db);
    fetching::FetchOptions options;
    if (args->items.size() == 1) options.item_name = args->items.front();
    else if (args->items.size() > 1) options.item_name = args->items;
    options.gzip_flag = args->gzip;
    options.my_split_lines = !args->no_split;
    options.point_id = args->point;
    auto table = fetching::fetching_data(conn.get(), args->start, args->end, args->method, args->station, args->rate,
                                         args->type, options);
    write_result(table, args->out);
    conn->close();
  });
}

void add_dialog(CLI::App& app) {
  struct Args {
    std::string db, start, end, method = "全部", station = "全部", item = "全部", log_type = "313", out;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("dialog", "Fetch log (dialog) entries into a table file");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--start", args->start, "First day (default: yesterday)");
  cmd->add_option("--end", args->end, "Last day (default: today)");
  cmd->add_option("--method", args->method, "Method or discipline name, or 全部");
  cmd->add_option("--station", args->station, "Station name, or 全部");
  cmd->add_option("--item", args->item, "Item name, or 全部");
  cmd->add_option("--log-type", args->log_type, "Event type code (default 313)");
  cmd->add_option("--out", args->out, "Output file, .csv or .parquet")->required();
  cmd->callback([args] {
    auto conn = connect(args->db);
    fetching::FetchingDialogOptions options{.methodname = args->method, .stationname = args->station,
                                            .itemname = args->item, .log_type = args->log_type};
    if (!args->start.empty()) options.startdate = args->start;
    if (!args->end.empty()) options.enddate = args->end;
    write_result(fetching::fetching_dialog(conn.get(), options), args->out);
    conn->close();
  });
}

}  // namespace tremora::cli
