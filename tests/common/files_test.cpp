#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// An output name of the longest legal length still gets a temporary
// sibling whose name fits (and none is left behind).
TEST(Files, LongestOutputNamesWriteAtomically) {
  testing::TempDir dir;
  std::string ascii(250, 'a'), chinese;
  while (chinese.size() + 3 <= 255 - 4) chinese += "水";  // three bytes a character
  for (const std::string& name : {ascii + ".csv", chinese + ".csv"}) {
    auto path = dir / name;
    write_file_atomically(path, [](std::ostream& out) { out << "x,y\n"; });
    EXPECT_EQ(read_file(path), "x,y\n");
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 2u);
}

// A write that fails part way says why, in the system's words, and leaves
// the previous file as it was. (A file-size limit stands in for a full
// disk: both fail the write with the cause in errno.)
TEST(FilesDeathTest, FailedWritesSayTheCause) {
  testing::TempDir dir;
  auto path = dir.write("big.csv", "old");
  auto write_beyond_the_limit = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      write_file_atomically(path, [](std::ostream& out) { out << std::string(1 << 20, 'x'); });
    } catch (const IOError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      std::_Exit(read_file(path) == "old" ? 7 : 8);
    }
    std::_Exit(9);
  };
  EXPECT_EXIT(write_beyond_the_limit(), ::testing::ExitedWithCode(7),
              "cannot write '.*big.csv': " + std::string(std::strerror(EFBIG)));
}

TEST(FilesDeathTest, SignalsRemoveTheRegisteredTemporaryFiles) {
  testing::TempDir dir;
  auto held = dir / ".out.csv.tmp-1-0", done = dir / "done.csv";
  auto write_registered = [&](int signal_number) {
    remove_temporary_files_on_signals();
    TemporaryFileRegistration registration(held);
    std::ofstream(held) << "partial";
    {
      TemporaryFileRegistration finished(done);
      std::ofstream(done) << "whole";
    }
    std::raise(signal_number);
    std::_Exit(3);
  };
  EXPECT_EXIT(write_registered(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(std::filesystem::exists(held));
  EXPECT_TRUE(std::filesystem::exists(done));  // no longer registered when the signal came
  EXPECT_EXIT(write_registered(SIGINT), ::testing::KilledBySignal(SIGINT), "");
  EXPECT_FALSE(std::filesystem::exists(held));
  // A signal the program was started to ignore stays ignored.
  EXPECT_EXIT(
      {
        std::signal(SIGINT, SIG_IGN);
        write_registered(SIGINT);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_TRUE(std::filesystem::exists(held));
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
