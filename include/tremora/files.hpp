// File-system helpers: the home folder, "~" expansion, whole-file reads and
// atomic writes.
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>

namespace tremora {

/// The user's home folder: $HOME, else the password database entry.
/// std::runtime_error when neither gives one.
std::filesystem::path home_directory();

/// Replaces a leading "~" (alone or before "/") by the home folder.
std::filesystem::path expand_user(const std::string& path);

/// The whole content of a file. FileNotFoundError when it does not exist,
/// IOError when it cannot be read or is a folder; both name the path.
std::string read_file(const std::filesystem::path& path);

/// Writes a file atomically: `write` fills a temporary file in the target's
/// folder, which is flushed to disk and then renamed over `path`. Readers
/// never see a partly written file; when `write` throws or the write fails,
/// the temporary file is removed, the old file is left as it was, and the
/// error reaches the caller (write failures as IOError naming the path).
void write_file_atomically(const std::filesystem::path& path,
                           const std::function<void(std::ostream&)>& write);

/// True when two paths name one file: by identity (same device and inode,
/// so hard links and symbolic links count) when both exist, else by their
/// absolute forms with "." and ".." and the links of existing folders
/// resolved ("out/../a.csv" and "a.csv" are one file).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tremora
