#include <mutex>

#include "tremora/db.hpp"
#include "tremora/errors.hpp"

namespace tremora::db {
namespace {

std::shared_ptr<Connection> connect_sqlite(const ConnectionSettings& s) {
  if (s.database.empty()) throw DatabaseError("the sqlite driver needs a DATABASE file");
  return open_sqlite(s.database);
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, Driver> drivers{{"oracle", open_oracle}, {"sqlite", connect_sqlite}};
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

void register_driver(const std::string& name, Driver driver) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.drivers[name] = std::move(driver);
}

std::shared_ptr<Connection> connect(const std::string& driver, const ConnectionSettings& settings) {
  Driver d;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.drivers.find(driver);
    if (it == r.drivers.end()) throw DatabaseError("unknown database driver '" + driver + "' (use oracle or sqlite)");
    d = it->second;
  }
  return d(settings);
}

}  // namespace tremora::db
