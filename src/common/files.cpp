#include "tremora/files.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

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

namespace {

// At most this many bytes of the output's name go into the temporary name,
// so that with its dot, ".tmp-", the process id and the counter it stays
// within the 255 bytes a file name may have.
constexpr std::size_t kNameBytesInTemporary = 200;

// The first bytes of a name, cut before a UTF-8 sequence that would not fit.
std::string name_prefix(const std::string& name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  while (bytes > 0 && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) --bytes;
  return name.substr(0, bytes);
}

fs::path temporary_sibling(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  fs::path folder = path.parent_path();
  std::string name =
      fmt::format(".{}.tmp-{}-{}", name_prefix(path.filename().string(), kNameBytesInTemporary), getpid(), counter++);
  return folder.empty() ? fs::path(name) : folder / name;
}

// The system's text of the error a failed write left in errno, for the
// message (a disk full says "No space left on device").
std::string cause_of_failed_write(int error) { return error ? std::strerror(error) : "the write did not complete"; }

// Flushes the file to disk; a failure there (a full disk may show only
// now) is an IOError naming `output` with its cause.
void flush_to_disk(const fs::path& path, const fs::path& output) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  int rc = ::fsync(fd), error = errno;
  ::close(fd);
  if (rc != 0 && error != EINVAL && error != EROFS)  // files that cannot be synced (pipes, some mounts) are no error
    throw IOError("cannot write '" + output.string() + "': " + std::strerror(error));
}

}  // namespace

void write_file_atomically(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  fs::path tmp = temporary_sibling(path);
  TemporaryFileRegistration registration(tmp);
  try {
    {
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      if (!out) throw IOError("cannot write '" + path.string() + "': " + std::strerror(errno));
      errno = 0;
      write(out);
      out.close();
      if (!out) throw IOError("cannot write '" + path.string() + "': " + cause_of_failed_write(errno));
    }
    flush_to_disk(tmp, path);
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) throw IOError("cannot write '" + path.string() + "': " + ec.message());
  } catch (...) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    throw;
  }
}

}  // namespace tremora
