// The connector's failure table and its edge cases. Each test gets its own
// working directory and home folder; the Oracle client is either missing or
// the stand-in library built with the tests.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "small_sample_db.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"
#include "tremora/logger_config.hpp"

namespace tremora::fetching {
namespace {

using logger_config::Level;
using logger_config::LogCapture;

constexpr const char* kSecret = "Pa55-w0rd-secret";
const std::string kMissingConfig = "数据库配置文件缺失或不完整，请检查default.conf";

using Places = testing::ConfigPlaces;

std::string oracle_section(const std::string& extra = "") {
  return std::string("[db1]\nHOST = 10.5.1.2\nPORT = 1521\nUSERNAME = qz\nPASSWORD = ") + kSecret +
         "\nTNSNAME = QZDB\n" + extra;
}

// The one error message logged, with the password check every test makes.
std::string logged_error(const LogCapture& capture) {
  std::string error;
  for (const auto& r : capture.records()) {
    EXPECT_EQ(r.message.find(kSecret), std::string::npos) << r.message;
    if (r.level == Level::error) error = r.message;
  }
  return error;
}

TEST(Connector, MissingConfigurationOrAlias) {
  Places p;
  LogCapture capture;
  EXPECT_EQ(DatabaseConnector::connect_to_oracle("db1"), nullptr);
  EXPECT_EQ(logged_error(capture), kMissingConfig);
  p.work_conf("[other]\nHOST = x\n");
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_EQ(logged_error(capture), kMissingConfig);
  // ...and which sections there are, for a misspelt alias.
  EXPECT_TRUE(capture.contains("fetching", Level::warning, "no section [db1] in default.conf (its sections: other)"));
  p.work_conf("[db1]\nnot an entry\n");
  EXPECT_THROW(DatabaseConnector::connect_to_oracle("db1"), ConfigError);
}

TEST(Connector, MissingKeyAndUnknownDriver) {
  Places p;
  LogCapture capture;
  p.work_conf("[db1]\nHOST = h\nUSERNAME = u\nPASSWORD = " + std::string(kSecret) + "\nTNSNAME = t\n");
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_EQ(logged_error(capture), "数据库连接错误: No option 'port' in section: 'db1'");
  p.work_conf(oracle_section("DRIVER = mysql\n"));
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_EQ(logged_error(capture),
            "数据库连接错误: unknown database driver 'mysql' in section 'db1' (use oracle or sqlite)");
  EXPECT_FALSE(oracle_thick_mode_ready());
}

TEST(Connector, ConfigurationErrorsKeepThePasswordOut) {
  Places p;
  p.work_conf("[db1]\nHOST = h\nPORT = 1521\nUSERNAME = u\nPASSWORD " + std::string(kSecret) + "\nTNSNAME = t\n");
  try {
    DatabaseConnector::connect_to_oracle("db1");
    FAIL();
  } catch (const ConfigError& e) {
    EXPECT_STREQ(e.what(), "default.conf:5: expected 'key = value' or a section header");
  }
  // A password that looks like a reference: the logged error names the key, not a piece of the value.
  p.work_conf("[db1]\nHOST = h\nPORT = 1521\nUSERNAME = u\nPASSWORD = Pa55-%(w0rd)s-secret\nTNSNAME = t\n");
  LogCapture capture;
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_EQ(logged_error(capture),
            "数据库连接错误: default.conf:5: bad value substitution: option 'password' in section 'db1' refers to a "
            "key that neither the section nor DEFAULT has");
}

TEST(Connector, SqliteSectionsConnectWithLabels) {
  Places p;
  std::filesystem::copy_file(
      testing::small_sample_db(), p.root / "home/.tremo/qz.db",
      (std::filesystem::create_directories(p.root / "home/.tremo"), std::filesystem::copy_options::overwrite_existing));
  // The alias exists only in the home folder's file; DATABASE is relative to that file.
  p.work_conf("[db2]\nHOST = other\n");
  p.home_conf("[local]\nDRIVER = sqlite\nHOST = sample.qz\nDATABASE = qz.db\n");
  LogCapture capture;
  auto conn = DatabaseConnector::connect_to_oracle("local");
  ASSERT_NE(conn, nullptr) << logged_error(capture);
  EXPECT_EQ(conn->info().at("tremora_cache_namespace"), "sample.qz");
  EXPECT_EQ(conn->info().at("tremora_db_alias"), "local");
  EXPECT_TRUE(capture.contains("fetching", Level::debug, "sample.qz 已连接..."));
  EXPECT_GT(conn->query("SELECT * FROM QZDATA.QZ_DICT_STATIONS").num_rows(), 0u);
  conn->close();
  EXPECT_FALSE(oracle_thick_mode_ready());  // no Oracle client is involved
  // A missing or broken file is a connection error naming it; nothing is created.
  p.home_conf("[local]\nDRIVER = SQLite\nHOST = h\nDATABASE = missing.db\n");
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("local"), nullptr);
  std::string error = logged_error(capture);
  EXPECT_EQ(error.rfind("数据库连接错误: ", 0), 0u) << error;
  EXPECT_NE(error.find((p.root / "home/.tremo/missing.db").string()), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(p.root / "home/.tremo/missing.db"));
  p.home_conf("[local]\nDRIVER = sqlite\nHOST = h\n");
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("local"), nullptr);
  EXPECT_EQ(logged_error(capture), "数据库连接错误: No option 'database' in section: 'local'");
}

TEST(Connector, MissingOracleClientIsAConnectionError) {
  Places p;
  testing::TempDir empty;
  p.work_conf(oracle_section("ORACLE_CLIENT_LIB_DIR =  " + empty.path().string() + "  \n"));
  LogCapture capture;
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  std::string error = logged_error(capture);
  EXPECT_EQ(error.rfind("数据库连接错误: cannot load the Oracle client library libclntsh.so (searched '" +
                            empty.path().string() + "')",
                        0),
            0u)
      << error;
  EXPECT_FALSE(oracle_thick_mode_ready());
  // Blanks only: no folder is passed, the system path is searched.
  p.work_conf(oracle_section("ORACLE_CLIENT_LIB_DIR =   \nORACLE_CONFIG_DIR = \n"));
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_NE(logged_error(capture).find("(searched the system library path)"), std::string::npos);
  EXPECT_FALSE(oracle_thick_mode_ready());
}

// Runs last in this file: once the client is initialised it stays so.
TEST(Connector, ThickModeIsInitialisedOnce) {
  Places p;
  p.work_conf(oracle_section("ORACLE_CLIENT_LIB_DIR = " + std::string(TREMORA_OCI_STANDIN_DIR) + "\n"));
  LogCapture capture;
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);  // the client loads; the stand-in serves no such host
  EXPECT_TRUE(capture.contains("fetching", Level::debug, "python-oracledb Thick mode initialized."));
  EXPECT_NE(logged_error(capture).find("ORA-12541"), std::string::npos) << logged_error(capture);
  EXPECT_TRUE(oracle_thick_mode_ready());
  void* lib = dlopen((std::string(TREMORA_OCI_STANDIN_DIR) + "/libclntsh.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(lib, nullptr);
  auto environments = reinterpret_cast<long (*)()>(dlsym(lib, "tremora_standin_environments_created"));
  ASSERT_NE(environments, nullptr);
  EXPECT_EQ(environments(), 1);
  // A second connection, even naming other client folders, does not initialise again.
  p.work_conf(oracle_section("ORACLE_CLIENT_LIB_DIR = /nowhere\n"));
  capture.clear();
  EXPECT_EQ(conn_to_Oracle("db1"), nullptr);
  EXPECT_FALSE(capture.contains("fetching", Level::debug, "python-oracledb Thick mode initialized."));
  EXPECT_EQ(environments(), 1);
  EXPECT_NE(logged_error(capture).find("ORA-12541"), std::string::npos);
  dlclose(lib);
}

}  // namespace
}  // namespace tremora::fetching
