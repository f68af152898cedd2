#include <atomic>
#include <mutex>

#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"
#include "tremora/text.hpp"

namespace tremora::fetching {
namespace {

using logger_config::fetching_logger;

std::atomic<bool> g_thick_mode_ready{false};
std::mutex g_thick_mode_mutex;

std::string trimmed(const IniConfig& config, const std::string& db, const char* key) {
  return std::string(strip_whitespace(config.get(db, key, "")));
}

// The DATABASE file of a sqlite section, relative to its configuration file.
std::filesystem::path database_file(const IniConfig& config, const std::string& db) {
  std::filesystem::path file = config.get(db, "DATABASE");
  if (file.is_relative()) {
    std::filesystem::path source = config.source_of(db, "DATABASE");
    file = source.parent_path() / file;
  }
  return file;
}

db::ConnectionSettings read_settings(const IniConfig& config, const std::string& db, const std::string& driver) {
  db::ConnectionSettings s;
  s.host = config.get(db, "HOST");
  if (driver == "sqlite") {
    s.database = database_file(config, db);
    return s;
  }
  s.port = config.get(db, "PORT");
  s.username = config.get(db, "USERNAME");
  s.password = config.get(db, "PASSWORD");
  s.tnsname = config.get(db, "TNSNAME");
  return s;
}

}  // namespace

bool oracle_thick_mode_ready() { return g_thick_mode_ready; }

void DatabaseConnector::_init_oracle_thick_mode(const IniConfig& config, const std::string& db) {
  if (g_thick_mode_ready) return;
  std::lock_guard lock(g_thick_mode_mutex);
  if (g_thick_mode_ready) return;
  std::string lib_dir = trimmed(config, db, "ORACLE_CLIENT_LIB_DIR");
  std::string config_dir = trimmed(config, db, "ORACLE_CONFIG_DIR");
  db::oracle::init_client(lib_dir, config_dir);
  g_thick_mode_ready = true;
  fetching_logger.debug("python-oracledb Thick mode initialized.");
}

std::shared_ptr<db::Connection> DatabaseConnector::connect_to_oracle(const std::string& db) {
  IniConfig config = read_default_config();
  if (config.sections().empty() || !config.has_section(db)) {
    fetching_logger.error("数据库配置文件缺失或不完整，请检查default.conf");
    std::vector<std::string> sections = config.sections();
    fetching_logger.warning("no section [" + db + "] in default.conf" +
                            (sections.empty() ? std::string(" (no sections were found)")
                                              : " (its sections: " + join(sections, ", ") + ")"));
    return nullptr;
  }
  try {
    std::string driver = to_lower_ascii(strip_whitespace(config.get(db, "DRIVER", "oracle")));
    if (driver != "oracle" && driver != "sqlite")
      throw DatabaseError("unknown database driver '" + driver + "' in section '" + db + "' (use oracle or sqlite)");
    db::ConnectionSettings settings = read_settings(config, db, driver);
    if (driver == "oracle") _init_oracle_thick_mode(config, db);
    std::shared_ptr<db::Connection> conn = db::connect(driver, settings);
    conn->info()["tremora_cache_namespace"] = settings.host;
    conn->info()["tremora_db_alias"] = db;
    if (!settings.database.empty()) conn->info()["tremora_database_file"] = settings.database.string();
    fetching_logger.debug(settings.host + " 已连接...");
    if (auto form = conn->info().find("tremora_connect_form"); form != conn->info().end() && form->second == "SID")
      fetching_logger.info(settings.host + ": TNSNAME '" + settings.tnsname +
                           "' connected as a SID (the listener knows no service of that name)");
    return conn;
  } catch (const std::exception& e) {
    fetching_logger.error("数据库连接错误: " + describe_exception(e));
    return nullptr;
  }
}

std::shared_ptr<db::Connection> conn_to_Oracle(const std::string& db) {
  return DatabaseConnector::connect_to_oracle(db);
}

}  // namespace tremora::fetching
