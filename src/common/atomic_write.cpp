// write_file_atomically: a temporary sibling of the file being replaced is
// filled, flushed to disk and renamed over it.
//
// What is replaced is the file the output path names after its symbolic
// links, so a link keeps pointing at its (new) target. Only a regular file
// is ever replaced, and the new file keeps the old one's mode and, where
// the system permits, its owner and group.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <optional>

#include <fmt/format.h>

#include "tremora/errors.hpp"
#include "tremora/files.hpp"

namespace tremora {
namespace fs = std::filesystem;
namespace {

// At most this many bytes of the output's name go into the temporary name,
// so that with its dot, ".tmp-", the process id and the counter it stays
// within the 255 bytes a file name may have.
constexpr std::size_t kNameBytesInTemporary = 200;

// As many links as the system follows in one path before ELOOP.
constexpr int kMostLinks = 40;

[[noreturn]] void fail(const fs::path& output, const std::string& cause) {
  throw IOError(fmt::format("cannot write '{}': {}", output.string(), cause));
}

// The first bytes of a name, cut before a UTF-8 sequence that would not fit.
std::string name_prefix(const std::string& name, std::size_t bytes) {
  if (name.size() <= bytes) return name;
  while (bytes > 0 && (static_cast<unsigned char>(name[bytes]) & 0xC0) == 0x80) --bytes;
  return name.substr(0, bytes);
}

// What the temporary files of `target` are named before their
// "PID-COUNTER".
std::string temporary_stem(const fs::path& target) {
  return fmt::format(".{}.tmp-", name_prefix(target.filename().string(), kNameBytesInTemporary));
}

fs::path temporary_path(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  std::string name = fmt::format("{}{}-{}", temporary_stem(target), getpid(), counter++);
  return target.has_parent_path() ? target.parent_path() / name : fs::path(name);
}

// The file a write to `output` replaces or creates: the end of its chain of
// symbolic links (a dangling link's target is created).
fs::path link_target(const fs::path& output) {
  fs::path target = output;
  for (int links = 0; links <= kMostLinks; ++links) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) return target;
    fs::path next = fs::read_symlink(target, ec);
    if (ec) fail(output, ec.message());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  fail(output, std::strerror(ELOOP));
}

// The state of the file being replaced, or nothing when there is none yet.
// Refuses what is not a regular file and a file this process could not
// open for writing, with the error such an open gives.
std::optional<struct stat> replaced_file(const fs::path& target, const fs::path& output) {
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    fail(output, std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) fail(output, "it is a folder");
  if (!S_ISREG(st.st_mode)) fail(output, "it exists and is not a regular file");
  int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) fail(output, std::strerror(errno));
  ::close(fd);
  return st;
}

// Owner and group as the old file's where permitted, else its group alone;
// false when neither is (the new file is then this process's own).
bool take_owner(int fd, const struct stat& old) {
  return ::fchown(fd, old.st_uid, old.st_gid) == 0 || ::fchown(fd, uid_t(-1), old.st_gid) == 0;
}

// Creates the temporary file beside `target` under a name no one else
// uses, private until it has the old file's mode (set after the owner,
// since a change of owner clears set-id bits).
int create_temporary(const fs::path& tmp, const std::optional<struct stat>& old) {
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, old ? 0600 : 0666);
  if (fd < 0) return errno;
  if (old) {
    [[maybe_unused]] bool owned = take_owner(fd, *old);
    ::fchmod(fd, old->st_mode & 07777);
  }
  ::close(fd);
  return 0;
}

// True for a temporary file of `target` left by a process that is gone.
bool is_stale_temporary(const std::string& name, const std::string& stem) {
  if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0) return false;
  const char* p = name.data() + stem.size();
  const char* end = name.data() + name.size();
  long pid = 0;
  unsigned long counter = 0;
  auto [after_pid, pid_error] = std::from_chars(p, end, pid);
  if (pid_error != std::errc() || pid <= 0 || after_pid == end || *after_pid != '-') return false;
  auto [after_counter, counter_error] = std::from_chars(after_pid + 1, end, counter);
  if (counter_error != std::errc() || after_counter != end) return false;
  return pid != getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Removes the temporary files an earlier write of `target` left behind
// when its process was killed without a chance to remove them.
void remove_stale_temporaries(const fs::path& target) {
  std::error_code ec;
  fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string stem = temporary_stem(target);
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (is_stale_temporary(it->path().filename().string(), stem)) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
}

// The system's text of the error a failed write left in errno, for the
// message (a disk full says "No space left on device").
std::string cause_of_failed_write(int error) { return error ? std::strerror(error) : "the write did not complete"; }

// Flushes the file to disk; a failure there (a full disk may show only
// now) is an IOError naming `output` with its cause.
void flush_to_disk(const fs::path& path, const fs::path& output) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  int rc = ::fsync(fd), error = errno;
  ::close(fd);
  if (rc != 0 && error != EINVAL && error != EROFS)  // files that cannot be synced (pipes, some mounts) are no error
    fail(output, std::strerror(error));
}

void fill(const fs::path& tmp, const std::function<void(std::ostream&)>& write, const fs::path& output) {
  std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
  if (!out) fail(output, std::strerror(errno));
  errno = 0;
  write(out);
  out.close();
  if (!out) fail(output, cause_of_failed_write(errno));
}

}  // namespace

void write_file_atomically_by_path(const fs::path& path, const std::function<void(const fs::path&)>& make) {
  fs::path target = link_target(path);
  std::optional<struct stat> old = replaced_file(target, path);
  remove_stale_temporaries(target);
  // A name with this process's id is taken only if an earlier process had
  // the same id; the next counter then gives a free one.
  fs::path tmp;
  std::optional<TemporaryFileRegistration> registration;
  for (int tries = 1;; ++tries) {
    tmp = temporary_path(target);
    registration.emplace(tmp);
    int error = create_temporary(tmp, old);
    if (error == 0) break;
    if (error != EEXIST || tries == 100) fail(path, std::strerror(error));
  }
  try {
    make(tmp);
    flush_to_disk(tmp, path);
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) fail(path, ec.message());
  } catch (...) {
    std::error_code ignored;
    fs::remove(tmp, ignored);
    throw;
  }
}

void write_file_atomically(const fs::path& path, const std::function<void(std::ostream&)>& write) {
  write_file_atomically_by_path(path, [&](const fs::path& tmp) { fill(tmp, write, path); });
}

}  // namespace tremora
