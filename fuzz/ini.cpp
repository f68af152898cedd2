// The INI reader on arbitrary text, then every value read back, so that the
// "%(key)s" substitution runs on whatever the text defines.
#include "tremora/ini.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tremora;
  IniConfig config;
  fuzz::expect_clean_errors([&] { config.read_string(fuzz::as_text(data, size), fuzz::kSource); });
  std::vector<std::string> sections = config.sections();
  sections.push_back("DEFAULT");
  for (const std::string& section : sections)
    for (const std::string& key : config.options(section)) fuzz::expect_clean_errors([&] { config.get(section, key); });
  return 0;
}
