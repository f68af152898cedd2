// check: is a workstation set up to reach a database? One line for each
// link of the chain (configuration, section, client library, connection,
// metadata cache), and for a link that fails, the fix.
#include <chrono>
#include <functional>
#include <iostream>
#include <optional>
#include <regex>

#include "commands.hpp"
#include "tremora/db.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/metastash.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

namespace fs = std::filesystem;

class Report {
 public:
  void ok(const std::string& link, const std::string& what) { std::cout << link << ": " << what << "\n"; }
  void failed(const std::string& link, const std::string& what, const std::string& fix) {
    std::cout << link << ": " << what << "; fix: " << fix << "\n";
    failed_ = true;
  }
  bool any_failed() const { return failed_; }

 private:
  bool failed_ = false;
};

std::vector<std::string> config_files() {
  std::vector<std::string> read;
  for (const fs::path& p : {fetching::working_config_path(), fetching::home_config_path()}) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) read.push_back(fs::absolute(p).string());
  }
  return read;
}

// The fix for a failed log-on: for a SQLite section its file, for an
// Oracle one by the ORA code.
std::string connection_fix(const std::string& error, const std::string& alias, const std::string& driver) {
  if (driver == "sqlite") return "check DATABASE in [" + alias + "]: it names the SQLite file of the QZDATA tables";
  std::smatch m;
  int code = std::regex_search(error, m, std::regex("ORA-(\\d+)")) ? std::stoi(m[1]) : 0;
  switch (code) {
    case 1017: return "check USERNAME and PASSWORD in [" + alias + "]";
    case 12154:
    case 12514: return "check TNSNAME in [" + alias + "]: the listener does not know that service";
    case 12541:
    case 12543:
    case 12170: return "check HOST and PORT in [" + alias + "] and that the server is reachable from here";
    default: return "see the error above; HOST, PORT, TNSNAME, USERNAME and PASSWORD are read from [" + alias + "]";
  }
}

// How long ago a time was, roughly: "3 min", "5 h", "2 days".
std::string age_of(fs::file_time_type when) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::now() - when).count();
  if (seconds < 3600) return std::to_string(seconds / 60) + " min";
  if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + " h";
  return std::to_string(seconds / 86400) + " days";
}

// The first folder on the way to `dir` that exists as something else (a
// file named ~/.tremo), if any.
std::optional<fs::path> blocking_file(const fs::path& dir) {
  for (fs::path p = dir; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    std::error_code ec;
    auto status = fs::status(p, ec);
    if (fs::exists(status)) return fs::is_directory(status) ? std::nullopt : std::optional(p);
  }
  return std::nullopt;
}

void check_cache(Report& r, const std::string& alias, const std::string& host, bool connected) {
  std::string dir = metastash::MetadataCache::resolve_cache_dir("", host);
  std::string refresh = "tremora refresh-cache --db " + alias;
  if (auto file = blocking_file(dir))
    return r.failed("metadata cache", file->string() + " is a file, not a folder", "move it away, then " + refresh);
  std::size_t found = 0, all = metastash::MetadataCache::TABLE_SPECS().size();
  std::optional<fs::file_time_type> oldest;
  for (const auto& [name, table] : metastash::MetadataCache::TABLE_SPECS()) {
    std::error_code ec;
    auto when = fs::last_write_time(fs::path(dir) / table.filename, ec);
    if (ec) continue;
    ++found;
    if (!oldest || when < *oldest) oldest = when;
  }
  if (found == all)
    return r.ok("metadata cache", dir + ", " + std::to_string(all) + " tables, refreshed " + age_of(*oldest) + " ago");
  r.failed("metadata cache", dir + " holds " + std::to_string(found) + " of " + std::to_string(all) + " tables",
           connected ? refresh : "fix the connection, then " + refresh);
}

bool check_client(Report& r, const IniConfig& config, const std::string& alias) {
  try {
    fetching::DatabaseConnector::_init_oracle_thick_mode(config, alias);
  } catch (const std::exception& e) {
    std::string why = describe_exception(e);
    why = why.substr(0, why.find("; install "));  // the fix follows on the line
    r.failed("client library", "not loaded: " + why,
             "install Oracle Instant Client and set ORACLE_CLIENT_LIB_DIR in [" + alias + "]");
    return false;
  }
  db::oracle::ClientInfo client = db::oracle::client_info();
  r.ok("client library", client.library + ", version " + client.version);
  return true;
}

// The messages of `work`, kept from standard error; the caller shows them.
std::vector<logger_config::Record> messages_of(const std::function<void()>& work) {
  std::vector<logger_config::Record> kept;
  logger_config::set_handler([&](const logger_config::Record& rec) { kept.push_back(rec); });
  try {
    work();
  } catch (...) {
    logger_config::set_handler({});
    throw;
  }
  logger_config::set_handler({});
  return kept;
}

// How many tables of the QZDATA kind (named QZ...) the database lists.
std::size_t qzdata_tables(db::Connection& conn) {
  return conn.query("SELECT TABLE_NAME FROM ALL_TABLES WHERE TABLE_NAME LIKE 'QZ%'").num_rows();
}

// Opens the connection and says what it reached; true when it holds the
// QZDATA tables. The connection's error goes into its line, not also onto
// standard error; its other messages are logged as usual.
bool check_connection(Report& r, const std::string& alias, const std::string& driver) {
  std::shared_ptr<db::Connection> conn;
  std::string error;
  for (const auto& rec : messages_of([&] { conn = fetching::conn_to_Oracle(alias); })) {
    if (rec.level >= logger_config::Level::error && !conn) error = rec.message;
    else logger_config::get_logger(rec.logger).log(rec.level, rec.message);
  }
  if (!conn) {
    r.failed("connection", "failed: " + error, connection_fix(error, alias, driver));
    return false;
  }
  auto version = conn->info().find("tremora_server_version");
  auto file = conn->info().find("tremora_database_file");
  std::string what = "opened";
  if (file != conn->info().end()) what += ", database file " + fs::absolute(file->second).string();
  if (version != conn->info().end() && !version->second.empty()) what += ", server " + version->second;
  if (conn->info()["tremora_connect_form"] == "SID") what += ", TNSNAME connected as a SID";
  bool usable = false;
  try {
    usable = qzdata_tables(*conn) > 0;
    if (!usable) r.failed("connection", what + ", but holds no QZDATA tables", connection_fix("", alias, driver));
  } catch (const std::exception& e) {
    r.failed("connection", what + ", but its tables cannot be listed: " + describe_exception(e),
             connection_fix(e.what(), alias, driver));
  }
  if (usable) r.ok("connection", what);
  conn->close();
  return usable;
}

void run_check(const std::string& alias) {
  Report r;
  std::vector<std::string> files = config_files();
  if (files.empty()) {
    r.failed("configuration", "no default.conf in the working folder nor in ~/.tremo",
             "write one with a section [" + alias + "] (see the README)");
    throw std::runtime_error("the check failed");
  }
  r.ok("configuration", "read " + join(files, " and "));
  IniConfig config = fetching::read_default_config();
  if (!config.has_section(alias)) {
    r.failed("section", "no section [" + alias + "]", "add one: DRIVER, HOST, PORT, USERNAME, PASSWORD, TNSNAME");
    throw std::runtime_error("the check failed");
  }
  std::string driver = to_lower_ascii(strip_whitespace(config.get(alias, "DRIVER", "oracle")));
  std::string host = std::string(strip_whitespace(config.get(alias, "HOST", "")));
  r.ok("section", "[" + alias + "], driver " + driver + ", HOST " + host);
  bool connected = false;
  if (driver == "oracle" && !check_client(r, config, alias))
    r.failed("connection", "not tried", "load the client first");
  else connected = check_connection(r, alias, driver);
  check_cache(r, alias, host, connected);
  if (r.any_failed()) throw std::runtime_error("the check failed (see the fixes above)");
}

}  // namespace

void add_check(CLI::App& app) {
  auto alias = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand("check",
                                     "Check that a database alias can be reached: configuration, client "
                                     "library, connection, metadata cache");
  cmd->add_option("--db", *alias, "Database alias (section of default.conf)")->required();
  set_examples(cmd, {"tremora check --db sample"});
  cmd->callback([alias] { run_check(*alias); });
}

}  // namespace tremora::cli
