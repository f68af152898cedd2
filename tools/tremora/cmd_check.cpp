// check: is a workstation set up to reach a database? One line for each
// link of the chain (configuration, section, client library, connection,
// metadata cache), and for a link that fails, the fix.
#include <chrono>
#include <iostream>
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

// The fix for a failed log-on, by its ORA code.
std::string connection_fix(const std::string& error, const std::string& alias) {
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

void check_cache(Report& r, const std::string& alias, const std::string& host) {
  std::string dir = metastash::MetadataCache::resolve_cache_dir("", host);
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
           "tremora refresh-cache --db " + alias);
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

void check_connection(Report& r, const std::string& alias) {
  logger_config::LogCapture capture;
  auto conn = fetching::conn_to_Oracle(alias);
  if (!conn) {
    std::string error;
    for (const auto& rec : capture.records())
      if (rec.level >= logger_config::Level::error) error = rec.message;
    r.failed("connection", "failed: " + error, connection_fix(error, alias));
    return;
  }
  auto version = conn->info().find("tremora_server_version");
  auto file = conn->info().find("tremora_database_file");
  std::string what = "opened";
  if (file != conn->info().end()) what += ", database file " + fs::absolute(file->second).string();
  if (version != conn->info().end() && !version->second.empty()) what += ", server " + version->second;
  r.ok("connection", what);
  conn->close();
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
  if (driver == "oracle" && !check_client(r, config, alias))
    r.failed("connection", "not tried", "load the client first");
  else check_connection(r, alias);
  check_cache(r, alias, host);
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
