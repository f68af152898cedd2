// Helpers shared by the test suites: temporary folders, environment and
// working-directory overrides that undo themselves.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>

namespace tremora::testing {

/// The message of the error `f` throws, or "no error".
inline std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

/// A fresh folder below the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("tremora-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  /// Writes a file below the folder (creating its parent folders).
  std::filesystem::path write(const std::string& name, const std::string& content) const {
    auto p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

 private:
  std::filesystem::path path_;
};

/// Sets (or unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name.c_str())) old_ = old;
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
  }
  ~ScopedEnv() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// A fresh folder as HOME (so also the default metadata cache) for the
/// lifetime of the object.
struct TempHome {
  TempDir home_dir;
  ScopedEnv home{"HOME", home_dir.path().string()};
};

/// Changes the working directory for the lifetime of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

/// A working directory (root/work, made current) and a home folder
/// (root/home, as HOME) of the test's own, for the configuration files
/// looked up in both.
struct ConfigPlaces {
  TempDir root;
  ScopedEnv home{"HOME", (root / "home").string()};
  ScopedCwd cwd{(std::filesystem::create_directories(root / "work"), root / "work")};
  void work_conf(const std::string& text) { root.write("work/default.conf", text); }
  void home_conf(const std::string& text) { root.write("home/.tremo/default.conf", text); }
};

inline std::string read_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace tremora::testing
