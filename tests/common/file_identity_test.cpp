#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.hpp"
#include "tremora/files.hpp"

namespace tremora {
namespace {

TEST(Files, SameFileByIdentityOrResolvedPath) {
  testing::TempDir dir;
  auto a = dir.write("a.csv", "x");
  auto b = dir.write("b.csv", "x");
  std::filesystem::create_directories(dir / "sub");
  EXPECT_TRUE(same_file(a, a));
  EXPECT_FALSE(same_file(a, b));  // equal contents are not one file
  EXPECT_TRUE(same_file(a, dir / "sub/../a.csv"));
  std::filesystem::create_hard_link(a, dir / "hard.csv");
  std::filesystem::create_symlink(a, dir / "soft.csv");
  EXPECT_TRUE(same_file(a, dir / "hard.csv"));
  EXPECT_TRUE(same_file(dir / "soft.csv", a));
  // Files that do not exist yet compare by their resolved paths.
  EXPECT_TRUE(same_file(dir / "new.csv", dir / "sub/./../new.csv"));
  EXPECT_FALSE(same_file(dir / "new.csv", dir / "sub/new.csv"));
  std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
  EXPECT_TRUE(same_file(dir / "link/new.csv", dir / "sub/new.csv"));
  // A relative path is taken from the working folder.
  auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  bool relative_same = same_file("new.csv", dir / "new.csv") && same_file("a.csv", a);
  std::filesystem::current_path(here);
  EXPECT_TRUE(relative_same);
}

}  // namespace
}  // namespace tremora
