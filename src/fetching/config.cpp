#include "tremora/fetching.hpp"
#include "tremora/files.hpp"

namespace tremora::fetching {

std::filesystem::path working_config_path() { return std::filesystem::path(std::string(kConfigFileName)); }

std::filesystem::path home_config_path() { return home_directory() / ".tremo" / std::string(kConfigFileName); }

IniConfig read_default_config() {
  IniConfig config;
  config.read_if_exists(working_config_path());
  config.read_if_exists(home_config_path());
  return config;
}

}  // namespace tremora::fetching
