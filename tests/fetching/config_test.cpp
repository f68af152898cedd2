#include <gtest/gtest.h>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/fetching.hpp"

namespace tremora::fetching {
namespace {

using Places = testing::ConfigPlaces;

TEST(DefaultConfig, HomeFolderEntriesWinAndOthersStay) {
  Places p;
  p.root.write("work/default.conf", "[db1]\nHOST = 10.1.1.1\nPORT = 1521\nUSERNAME = qz\n");
  p.root.write("home/.tremo/default.conf", "[db1]\nport = 1600\n[db2]\nHOST = h2\n");
  IniConfig c = read_default_config();
  EXPECT_EQ(c.get("db1", "PORT"), "1600");
  EXPECT_EQ(c.get("db1", "HOST"), "10.1.1.1");
  EXPECT_EQ(c.get("db1", "USERNAME"), "qz");
  EXPECT_EQ(c.get("db2", "HOST"), "h2");
  EXPECT_EQ(home_config_path(), p.root / "home/.tremo/default.conf");
}

TEST(DefaultConfig, MissingFilesAreSkippedAndBrokenOnesNamed) {
  Places p;
  EXPECT_TRUE(read_default_config().sections().empty());
  p.root.write("home/.tremo/default.conf", "[db1]\nHOST = x\n");
  EXPECT_EQ(read_default_config().sections(), (std::vector<std::string>{"db1"}));
  p.root.write("work/default.conf", "[db1]\nthis line is wrong\n");
  try {
    read_default_config();
    FAIL();
  } catch (const ConfigError& e) {
    EXPECT_EQ(std::string(e.what()), "default.conf:2: expected 'key = value' or a section header");
  }
}

}  // namespace
}  // namespace tremora::fetching
