// The loggers of tremora.
//
// Messages go to standard error as "time [logger] [level] message". The
// level shown is read from the environment variable TREMORA_LOG_LEVEL
// (debug, info, warning or error; default warning) when the library is
// loaded, and can be changed with set_level. Every logger may be used from
// any thread.
#pragma once

#include <functional>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tremora::logger_config {

enum class Level { debug, info, warning, error };

/// "debug", "info", "warning", "error".
std::string_view level_name(Level level);

/// A named logger. Copies share one underlying logger.
class Logger {
 public:
  /// The logger of that name (one per name in the process).
  explicit Logger(const std::string& name);

  void debug(std::string_view message) const;
  void info(std::string_view message) const;
  void warning(std::string_view message) const;
  void error(std::string_view message) const;
  void log(Level level, std::string_view message) const;

  const std::string& name() const;
  /// True when messages of this level are passed on.
  bool enabled(Level level) const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

/// The logger of data access ("fetching").
extern const Logger fetching_logger;
/// The logger of raw value cleaning ("cleaning").
extern const Logger cleaning_logger;
/// The logger of the charts ("plotting").
extern const Logger plotting_logger;

/// A logger of the general facility by name (for example "metastash").
Logger get_logger(const std::string& name);

/// The level shown on standard error.
Level level();
/// Changes the level shown on standard error for every logger.
void set_level(Level level);
/// Reads a level name (debug, info, warning/warn, error; any case);
/// std::invalid_argument for another text.
Level parse_level(std::string_view name);

/// One message as recorded by LogCapture.
struct Record {
  std::string logger;
  Level level;
  std::string message;
};

/// Holds back what this thread logs while it exists (the messages of the
/// levels the loggers pass on), for work done on a worker thread: the
/// caller takes the messages and passes them on, on its own thread, where
/// they belong in the order of the work. An inner hold on the same thread
/// holds until it ends.
class HeldLog {
 public:
  HeldLog();
  ~HeldLog();
  HeldLog(const HeldLog&) = delete;
  HeldLog& operator=(const HeldLog&) = delete;

  /// The messages held so far, taken out.
  std::vector<Record> take();

 private:
  std::vector<Record> records_;
  std::vector<Record>* outer_;
};

/// Logs held messages on this thread, each by the logger of its name.
void pass_on(const std::vector<Record>& records);

/// Hands every message of every logger, of every level, to `handler`
/// instead of writing it to standard error, for programs that show messages
/// their own way (the Python bindings pass them to Python's logging). The
/// handler is called while the logging lock is held and must not throw. An
/// empty handler restores standard error.
void set_handler(std::function<void(const Record&)> handler);

/// Records every message of every logger (all levels) while it exists, in
/// addition to what standard error shows. For tests and for programs that
/// show messages in their own way.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  /// The messages recorded so far, in order.
  std::vector<Record> records() const;
  /// True when a message with that logger, level and text was recorded.
  bool contains(std::string_view logger, Level level, std::string_view message) const;
  void clear();

  struct Sink;

 private:
  std::shared_ptr<Sink> sink_;
};

}  // namespace tremora::logger_config
