// The commands that fetch from the precursor database: fetch, dialog and
// the canned loads.
#include <iostream>

#include "commands.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/qzdata.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

using fetching::kAll;

// What the program's options call the reason a request resolved to
// nothing; `type` and `rate` are the --type and --rate asked for.
std::string reason_in_options(const fetching::Unresolved& why, const std::string& type, const std::string& rate) {
  using R = fetching::Unresolved::Reason;
  auto quoted = [](const std::string& option, const std::string& value) { return option + " '" + value + "'"; };
  switch (why.reason) {
    case R::UnknownRate: return quoted("--rate", why.value) + " is not a sampling rate";
    case R::UnknownType: return quoted("--type", why.value) + " is not a database type";
    case R::NoMethod: return quoted("--method", why.value) + " matches no method or discipline";
    case R::NoTable:
      return quoted("--method", why.value) + " has no table for " + quoted("--type", type) + " and " +
             quoted("--rate", rate);
    case R::NoLogTable: return quoted("--method", why.value) + " has no log table";
    case R::NoStation: return quoted("--station", why.value) + " matches no station";
    case R::NoItem: return quoted("--item", why.value) + " matches no item";
    case R::NoQuery: break;
  }
  return why.text();
}

// The error of a cache file that is missing: why it could not be filled
// travels nested in it.
std::string missing_cache_file(const FileNotFoundError& e) {
  std::string cause;
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& nested) {
    cause = describe_exception(nested);
  }
  return "the metadata cache has no '" + std::string(e.what()) + "' and " +
         (cause.empty() ? "there is no database to fill it from" : "filling it failed: " + cause);
}

// Runs a fetch and gives its table, or fails saying why in the program's
// terms: the option that resolved to nothing (with what the library
// logged about it), or the metadata missing from both the database and
// the cache.
Table fetch_explained(const std::function<fetching::FetchOutcome()>& fetch, const std::string& type = "",
                      const std::string& rate = "") {
  fetching::FetchOutcome outcome;
  try {
    outcome = fetch();
  } catch (const FileNotFoundError& e) {
    throw std::runtime_error(missing_cache_file(e));
  }
  if (outcome.table) return std::move(*outcome.table);
  const fetching::Unresolved& why = *outcome.unresolved;
  throw std::runtime_error("the request could not be resolved: " + reason_in_options(why, type, rate) + " (" +
                           join(why.logged, "; ") + ")");
}

}  // namespace

void add_request_options(CLI::App* cmd, RequestArgs& args, bool required) {
  cmd->add_option("--db", args.db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--start", args.start, "First day (20240401, 2024-04-01, ...)")->required(required);
  cmd->add_option("--end", args.end, "Last day")->required(required);
  cmd->add_option("--method", args.method, "Method or discipline name (水位, 形变, 全部, ...)")->required(required);
  cmd->add_option("--station", args.station, "Station name, or 全部");
  cmd->add_option("--rate", args.rate, "Sampling rate: 秒钟值, 分钟值, 小时值, 日均值 (or 秒值, 分值, 整点值, 日值)")
      ->required(required);
  cmd->add_option("--type", args.type, "Database type: 原始库, 预处理库, 产品库")->required(required);
  cmd->add_option("--item", args.items, "Item name (repeatable), or 全部")->default_str("全部");
  cmd->add_option("--point", args.point, "Point code");
  cmd->add_flag("--gzip", args.gzip, "Values are gzip-compressed (second and minute data)");
}

void require_options(const CLI::App& cmd, std::initializer_list<const char*> names, const std::string& when) {
  for (const char* name : names)
    if (cmd.count(name) == 0) throw CLI::RequiredError(std::string(name) + " (" + when + ")");
}

std::shared_ptr<db::Connection> connect(const std::string& alias) {
  auto conn = fetching::conn_to_Oracle(alias);
  if (!conn) throw std::runtime_error("cannot connect to the database '" + alias + "' (the log above says why)");
  return conn;
}

void refuse_writing_over_database(const db::Connection& conn, const std::string& out) {
  auto file = conn.info().find("tremora_database_file");
  if (file != conn.info().end()) refuse_same_files({{"the database file of --db", file->second}}, {{"--out", out}});
}

Table fetch_observations(db::Connection* conn, const RequestArgs& args, bool split) {
  fetching::FetchOptions options;
  if (args.items.size() == 1) options.item_name = args.items.front();
  else if (args.items.size() > 1) options.item_name = args.items;
  options.gzip_flag = args.gzip;
  options.my_split_lines = split;
  options.point_id = args.point;
  return fetch_explained(
      [&] {
        return fetching::DataFetcher::fetch_data_outcome(conn, args.start, args.end, args.method, args.station,
                                                         args.rate, args.type, options);
      },
      args.type, args.rate);
}

void add_fetch(CLI::App& app) {
  struct Args {
    RequestArgs request;
    bool no_split = false;
    std::string out;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("fetch", "Fetch observation data into a table file");
  add_request_options(cmd, args->request, true);
  cmd->add_flag("--no-split", args->no_split, "Keep one row per day");
  cmd->add_option("--out", args->out, "Output file, .csv or .parquet")->required();
  set_examples(cmd, {"tremora fetch --db sample --start 20240509 --end 20240511 --method 水位 --station 郯城 "
                     "--rate 分钟值 --type 预处理库 --gzip --out out/tancheng_minutes.parquet"});
  cmd->callback([args] {
    Progress progress("fetch", 3);
    progress.step("connecting to " + args->request.db);
    auto conn = connect(args->request.db);
    refuse_writing_over_database(*conn, args->out);
    progress.step("fetching");
    Table table = fetch_observations(conn.get(), args->request, !args->no_split);
    conn->close();
    write_and_report(table, args->out, &progress);
  });
}

void add_dialog(CLI::App& app) {
  struct Args {
    std::string db, start, end, method = std::string(kAll), station = std::string(kAll), item = std::string(kAll),
                                log_type = qzdata::kDefaultLogType, out;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand("dialog", "Fetch log (dialog) entries into a table file");
  cmd->add_option("--db", args->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--start", args->start, "First day (default: yesterday)");
  cmd->add_option("--end", args->end, "Last day (default: today)");
  cmd->add_option("--method", args->method, "Method or discipline name, or 全部");
  cmd->add_option("--station", args->station, "Station name, or 全部");
  cmd->add_option("--item", args->item, "Item name, or 全部");
  cmd->add_option("--log-type", args->log_type, "Event type code");
  cmd->add_option("--out", args->out, "Output file, .csv or .parquet")->required();
  set_examples(cmd, {"tremora dialog --db sample --start 20240101 --end 20241231 --out out/log_2024.csv"});
  cmd->callback([args] {
    auto conn = connect(args->db);
    refuse_writing_over_database(*conn, args->out);
    fetching::FetchingDialogOptions options{
        .methodname = args->method, .stationname = args->station, .itemname = args->item, .log_type = args->log_type};
    if (!args->start.empty()) options.startdate = args->start;
    if (!args->end.empty()) options.enddate = args->end;
    Table table = fetch_explained([&] { return fetching::fetching_dialog_outcome(conn.get(), options); });
    write_and_report(table, args->out);
    conn->close();
  });
}

namespace {

// The canned loads, by the name the command takes.
struct LoadArgs {
  std::string what, db, date_0 = "20090101", out;
  RequestArgs daily;
  double period = 1;
};

Table load(db::Connection* conn, const LoadArgs& a) {
  if (a.what == "water-year") return fetching::load_Oracle_data_water_year(conn);
  if (a.what == "resistivity-year") return fetching::load_Oracle_data_resistivity_year(conn, a.date_0);
  const RequestArgs& r = a.daily;
  return fetch_explained(
      [&] { return fetching::load_Oracle_data_daily_outcome(conn, a.period, r.type, r.method, r.rate, r.gzip); },
      r.type, r.rate);
}

}  // namespace

void add_load(CLI::App& app) {
  auto a = std::make_shared<LoadArgs>();
  CLI::App* cmd = app.add_subcommand("load",
                                     "Canned loads: the last days of a method at all stations (daily), hourly "
                                     "resistivity since a day,\nor the daily water level of 郯城 on a gap-free "
                                     "grid (both up to today)");
  cmd->add_option("WHAT", a->what, "daily, resistivity-year or water-year")
      ->required()
      ->check(CLI::IsMember({"daily", "resistivity-year", "water-year"}));
  cmd->add_option("--db", a->db, "Database alias (section of default.conf)")->required();
  cmd->add_option("--period", a->period, "daily: days back from now (may be fractional)");
  cmd->add_option("--type", a->daily.type, "daily: database type (原始库, 预处理库, 产品库)");
  cmd->add_option("--method", a->daily.method, "daily: method name (水位, ...)");
  cmd->add_option("--rate", a->daily.rate, "daily: sampling rate (分钟值, ...)");
  cmd->add_flag("--gzip", a->daily.gzip, "daily: values are gzip-compressed");
  cmd->add_option("--date0", a->date_0, "resistivity-year: first day");
  cmd->add_option("--out", a->out, "Output file, .csv or .parquet")->required();
  set_examples(cmd, {"tremora load water-year --db sample --out out/tancheng_water_days.csv"});
  cmd->callback([a, cmd] {
    if (a->what == "daily") require_options(*cmd, {"--period", "--type", "--method", "--rate"}, "for daily");
    Progress progress("load", 3);
    progress.step("connecting to " + a->db);
    auto conn = connect(a->db);
    refuse_writing_over_database(*conn, a->out);
    progress.step("loading " + a->what);
    Table table = load(conn.get(), *a);
    conn->close();
    write_and_report(table, a->out, &progress);
  });
}

}  // namespace tremora::cli
