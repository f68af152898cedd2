#include "tremora/files.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tremora/errors.hpp"

namespace tremora {
namespace fs = std::filesystem;

fs::path home_directory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  throw std::runtime_error("cannot find the home folder: HOME is not set");
}

fs::path expand_user(const std::string& path) {
  if (path == "~") return home_directory();
  if (path.rfind("~/", 0) == 0) return home_directory() / path.substr(2);
  return path;
}

std::string read_file(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw FileNotFoundError("no such file: '" + path.string() + "'");
  // A folder opens like a file on POSIX systems but reads as nothing.
  if (fs::is_directory(path, ec)) throw IOError("cannot read '" + path.string() + "': it is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IOError("cannot open '" + path.string() + "': " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw IOError("cannot read '" + path.string() + "'");
  return std::move(content).str();
}

}  // namespace tremora
