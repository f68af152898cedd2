#include <gtest/gtest.h>

#include <ostream>

#include "test_support.hpp"
#include "tremora/errors.hpp"
#include "tremora/files.hpp"

namespace tremora {
namespace {

TEST(Files, AtomicWriteReplacesWholeOrKeepsTheOldFile) {
  testing::TempDir dir;
  auto target = dir / "data.txt";
  write_file_atomically(target, [](std::ostream& out) { out << "old"; });
  EXPECT_EQ(read_file(target), "old");
  EXPECT_THROW(write_file_atomically(target,
                                     [](std::ostream& out) {
                                       out << "half";
                                       throw std::runtime_error("interrupted");
                                     }),
               std::runtime_error);
  EXPECT_EQ(read_file(target), "old");
  // No temporary file is left behind.
  std::size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
  write_file_atomically(target, [](std::ostream& out) { out << "new"; });
  EXPECT_EQ(read_file(target), "new");
  EXPECT_THROW(write_file_atomically(dir / "no/such/folder/x.txt", [](std::ostream& out) { out << "x"; }), IOError);
}

TEST(Files, HomeFolderAndTilde) {
  testing::TempDir dir;
  testing::ScopedEnv home("HOME", dir.path().string());
  EXPECT_EQ(home_directory(), dir.path());
  EXPECT_EQ(expand_user("~"), dir.path());
  EXPECT_EQ(expand_user("~/.tremo/default.conf"), dir.path() / ".tremo/default.conf");
  EXPECT_EQ(expand_user("a/~b"), std::filesystem::path("a/~b"));
  EXPECT_THROW(read_file(dir / "missing"), FileNotFoundError);
}

}  // namespace
}  // namespace tremora
