// Prints what IniConfig reads from each INI file named on the command line,
// one JSON line a file, for the comparison with Python's configparser
// (tests/common/ini_vs_configparser.py):
//   {"error": kind, "message": text}  when the file is refused, else
//   {"sections": {name: {key: value or {"error": kind, "message": text}}}}
// with the keys of a section in the order configparser's items(section)
// gives them: DEFAULT's first, then the section's own.
#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tremora/errors.hpp"
#include "tremora/ini.hpp"

namespace {

using nlohmann::ordered_json;

ordered_json error_json(const char* kind, const std::exception& e) { return {{"error", kind}, {"message", e.what()}}; }

ordered_json value_json(const tremora::IniConfig& config, const std::string& section, const std::string& key) {
  try {
    return config.get(section, key);
  } catch (const tremora::ConfigError& e) {
    return error_json("ConfigError", e);
  } catch (const tremora::KeyError& e) {
    return error_json("KeyError", e);
  }
}

std::vector<std::string> keys_in_items_order(const tremora::IniConfig& config, const std::string& section) {
  std::vector<std::string> keys = config.options("DEFAULT");
  const std::size_t defaults = keys.size();
  for (const std::string& key : config.options(section))
    if (std::find(keys.begin(), keys.begin() + defaults, key) == keys.begin() + defaults) keys.push_back(key);
  return keys;
}

ordered_json dump(const std::string& path) {
  tremora::IniConfig config;
  try {
    config.read_file(path);
  } catch (const tremora::ConfigError& e) {
    return error_json("ConfigError", e);
  }
  ordered_json sections = ordered_json::object();
  for (const std::string& section : config.sections()) {
    ordered_json& entries = sections[section] = ordered_json::object();
    for (const std::string& key : keys_in_items_order(config, section)) entries[key] = value_json(config, section, key);
  }
  return {{"sections", sections}};
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    std::cout << dump(argv[i]).dump(-1, ' ', false, ordered_json::error_handler_t::replace) << '\n';
  return 0;
}
