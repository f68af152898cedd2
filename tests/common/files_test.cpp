#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    remove_temporary_files_on_signals();  // which lets EFBIG fail the write, not SIGXFSZ end the program
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
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    EXPECT_EXIT(write_registered(signal_number), ::testing::KilledBySignal(signal_number), "");
    EXPECT_FALSE(std::filesystem::exists(held)) << strsignal(signal_number);
    EXPECT_TRUE(std::filesystem::exists(done));  // no longer registered when the signal came
  }
  // A signal the program was started to ignore stays ignored.
  EXPECT_EXIT(
      {
        std::signal(SIGINT, SIG_IGN);
        write_registered(SIGINT);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_TRUE(std::filesystem::exists(held));
}

std::filesystem::perms mode_of(const std::filesystem::path& path) {
  return std::filesystem::status(path).permissions();
}

// A link is written through to its target; only regular files are
// replaced, keeping their mode; a file one may not write stays unwritten.
TEST(FilesDeathTest, AtomicWriteReplacesOnlyWhatItMay) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  auto put = [](const std::string& text) { return [text](std::ostream& out) { out << text; }; };
  auto target = dir.write("results/target.csv", "old");
  fs::create_symlink("results/target.csv", dir / "link.csv");
  write_file_atomically(dir / "link.csv", put("new"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.csv"));
  EXPECT_EQ(read_file(target), "new");
  fs::create_symlink("not-yet.csv", dir / "dangling.csv");
  write_file_atomically(dir / "dangling.csv", put("made"));
  EXPECT_EQ(read_file(dir / "not-yet.csv"), "made");

  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  write_file_atomically(target, put("private"));
  EXPECT_EQ(mode_of(target), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  auto refused_as_read_only = [&] {
    try {
      write_file_atomically(target, put("x"));
    } catch (const IOError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      std::_Exit(read_file(target) == "private" ? 0 : 4);
    }
    std::_Exit(3);
  };
  std::string denied = "cannot write '" + target.string() + "': " + std::strerror(EACCES);
  if (geteuid() == 0) {
    // Root keeps the owner of what it replaces, and may write any file (as
    // a plain open would let it): the refusal is shown as another user.
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
    write_file_atomically(target, put("private"));
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(mode_of(target), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EXIT(
        {
          if (setgid(65534) != 0 || setuid(65534) != 0) std::_Exit(2);
          refused_as_read_only();
        },
        ::testing::ExitedWithCode(0), denied);
  } else {
    EXPECT_EXIT(refused_as_read_only(), ::testing::ExitedWithCode(0), denied);
  }

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const fs::path& special : {dir / "fifo", fs::path("/dev/null")})
    EXPECT_EQ(testing::error_of([&] { write_file_atomically(special, put("x")); }),
              "cannot write '" + special.string() + "': it exists and is not a regular file");
  EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
  EXPECT_EQ(testing::error_of([&] { write_file_atomically(dir / "results", put("x")); }),
            "cannot write '" + (dir / "results").string() + "': it is a folder");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "results")) ++entries;
  EXPECT_EQ(entries, 1u);  // no temporary file left beside the target
}

// Temporary files of a write whose process was killed are removed by the
// next write of that output; those of live processes and of other outputs
// stay.
TEST(Files, AtomicWriteRemovesTemporariesOfGoneProcesses) {
  testing::TempDir dir;
  pid_t gone = fork();
  if (gone == 0) std::_Exit(0);
  waitpid(gone, nullptr, 0);
  std::string dead = std::to_string(gone), live = std::to_string(getppid());
  auto stale = dir.write(".out.csv.tmp-" + dead + "-4", "partial");
  auto running = dir.write(".out.csv.tmp-" + live + "-0", "partial");
  auto other = dir.write(".other.csv.tmp-" + dead + "-0", "partial");
  auto lookalike = dir.write(".out.csv.tmp-" + dead + "-4x", "partial");
  write_file_atomically(dir / "out.csv", [](std::ostream& out) { out << "whole"; });
  EXPECT_FALSE(std::filesystem::exists(stale));
  for (const auto& kept : {running, other, lookalike}) EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
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
