#include <map>
#include <mutex>

#include "tremora/chart.hpp"

namespace tremora::chart {
namespace {

struct Settings {
  std::mutex mutex;
  std::map<std::string, Setting> values;
};

Settings& settings() {
  static Settings s;
  return s;
}

}  // namespace

void set_setting(const std::string& key, Setting value) {
  std::lock_guard lock(settings().mutex);
  settings().values[key] = std::move(value);
}

std::optional<Setting> setting(const std::string& key) {
  std::lock_guard lock(settings().mutex);
  auto it = settings().values.find(key);
  if (it == settings().values.end()) return std::nullopt;
  return it->second;
}

}  // namespace tremora::chart
