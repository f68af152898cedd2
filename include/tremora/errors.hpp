// Error types of tremora.
//
// Every failure is reported with a standard exception or one of the types
// below; what() carries the full message. Errors of the libraries tremora
// uses are wrapped with context (the file, column or value concerned), and a
// cause is attached with std::throw_with_nested where one exists.
#pragma once

#include <stdexcept>
#include <string>

namespace tremora {

/// A key (column, section, option, dictionary entry) that is not there.
class KeyError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

/// A value of the wrong element type, such as text where timestamps are needed.
class TypeError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

/// A file or folder that does not exist.
class FileNotFoundError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Reading or writing a file failed, or its content is malformed.
class IOError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A client library that is loaded at run time could not be loaded.
class ImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A configuration file that exists but cannot be read as INI, or whose
/// value interpolation fails.
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A failure reported by a database or its driver.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  /// An error the database reported with its own code (Oracle's ORA number).
  DatabaseError(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
  /// The database's error code (1017 for ORA-01017), or 0 when the error
  /// did not come from the database.
  int code() const noexcept { return code_; }

 private:
  int code_ = 0;
};

/// An HTTP reply whose status is 400 or above.
class HttpError : public std::runtime_error {
 public:
  HttpError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  /// The HTTP status code of the reply.
  int status() const noexcept { return status_; }

 private:
  int status_;
};

/// The message of an exception and of every exception nested in it,
/// joined by ": ", for one-line reports.
std::string describe_exception(const std::exception& e);

}  // namespace tremora
