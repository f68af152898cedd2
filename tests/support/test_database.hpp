// The database connections of the fetch-road tests. The same tests run on
// the sqlite driver and, when TREMORA_TEST_DRIVER=oracle, on the oracle
// driver over the stand-in client library of the tests (a libclntsh.so
// built from tests/oci_standin that serves SQLite files as Oracle services).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "tremora/db.hpp"

namespace tremora::testing {

/// The folder of the stand-in client library.
inline std::string standin_client_dir() { return TREMORA_OCI_STANDIN_DIR; }

/// Serves `file` as a service of the stand-in and returns its settings:
/// HOST standin, PORT 1521, a service name of its own, user qz.
inline db::ConnectionSettings standin_service(const std::filesystem::path& file) {
  static std::mutex mutex;
  static std::map<std::string, std::string> services;  // file → service
  std::lock_guard lock(mutex);
  std::string key = std::filesystem::absolute(file).string();
  auto [it, added] = services.try_emplace(key, "QZ" + std::to_string(services.size() + 1));
  if (added) {
    std::string map;
    for (const auto& [path, service] : services) {
      if (!map.empty()) map += ';';
      map.append("standin:1521/").append(service).append("=").append(path);
    }
    setenv("TREMORA_OCI_STANDIN_DATABASES", map.c_str(), 1);
  }
  return {.host = "standin", .port = "1521", .username = "qz", .password = "pw", .tnsname = it->second};
}

/// A connection to `file` through the oracle driver and the stand-in.
inline std::shared_ptr<db::Connection> open_through_standin(const std::filesystem::path& file) {
  db::oracle::init_client(standin_client_dir(), "");
  return db::open_oracle(standin_service(file));
}

/// True when the tests run on the oracle driver.
inline bool on_oracle_driver() {
  const char* driver = std::getenv("TREMORA_TEST_DRIVER");
  return driver && std::string(driver) == "oracle";
}

/// A connection to a SQLite file by the driver the tests run on.
inline std::shared_ptr<db::Connection> open_test_db(const std::filesystem::path& file) {
  return on_oracle_driver() ? open_through_standin(file) : db::open_sqlite(file);
}

}  // namespace tremora::testing
