// File-system helpers: the home folder, "~" expansion, whole-file reads,
// atomic writes and the removal of their temporary files on the signals that
// end a program.
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
/// folder, which is flushed to disk and then renamed over the target.
/// Readers never see a partly written file; when `write` throws or the
/// write fails, the temporary file is removed, the old file is left as it
/// was, and the error reaches the caller (write failures as IOError naming
/// `path`, with the system's text of the cause).
///
/// - When `path` is a symbolic link, the target is the file its links end
///   at (created if missing), so the link stays and its target is written.
/// - Only a regular file is replaced: a folder, device, FIFO or socket at
///   the target is an IOError naming `path`, and so is a file this process
///   may not open for writing (a read-only file stays read-only).
/// - The new file keeps the mode of the file it replaces, and its owner
///   and group where the system permits; a new file gets 0666 less the
///   umask.
/// - The temporary file is "." + the output's name (its first 200 bytes) +
///   ".tmp-" + process id + "-" + counter, so any legal output name works;
///   it is registered (TemporaryFileRegistration) while it exists. Such
///   files left by a process that is gone (killed by SIGKILL) are removed
///   by the next write of the same output.
void write_file_atomically(const std::filesystem::path& path, const std::function<void(std::ostream&)>& write);

/// write_file_atomically for a writer that fills a file by its name (a
/// SQLite database): `make` is given the temporary file, created empty,
/// and writes it in place; the rest is as above.
void write_file_atomically_by_path(const std::filesystem::path& path,
                                   const std::function<void(const std::filesystem::path&)>& make);

/// Keeps a path in the process-wide list of temporary files for as long as
/// it lives, so that the handlers of remove_temporary_files_on_signals can
/// delete the file when the program is interrupted. Create it before
/// creating the file, and let it end once the file is renamed or removed.
/// The list holds 64 paths (of under 4096 bytes); a path beyond that is not
/// listed, and is then left behind by an interrupted program.
class TemporaryFileRegistration {
 public:
  explicit TemporaryFileRegistration(const std::filesystem::path& path);
  ~TemporaryFileRegistration();
  TemporaryFileRegistration(const TemporaryFileRegistration&) = delete;
  TemporaryFileRegistration& operator=(const TemporaryFileRegistration&) = delete;

 private:
  int slot_;  // -1 when not listed
};

/// Installs handlers of SIGINT, SIGTERM, SIGHUP and SIGPIPE that delete the
/// registered temporary files and then end the process by the same signal
/// with its default action, so that the exit status is the usual one (130
/// and 143 in a shell). A signal that is ignored when this is called stays
/// ignored. SIGXFSZ (a file-size limit reached) is ignored from then on, so
/// such a write fails with "File too large" and its error is reported.
/// The library never installs them itself: a program calls this once, at
/// the start of main, when it wants them.
void remove_temporary_files_on_signals();

/// True when two paths name one file: by identity (same device and inode,
/// so hard links and symbolic links count) when both exist, else by their
/// absolute forms with "." and ".." and the links of existing folders
/// resolved ("out/../a.csv" and "a.csv" are one file).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tremora
