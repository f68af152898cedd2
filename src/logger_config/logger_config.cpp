#include "tremora/logger_config.hpp"

#include <spdlog/details/null_mutex.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/dist_sink.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <utility>

#include "tremora/text.hpp"

namespace tremora::logger_config {
namespace {

spdlog::level::level_enum to_spdlog(Level level) {
  switch (level) {
    case Level::debug: return spdlog::level::debug;
    case Level::info: return spdlog::level::info;
    case Level::warning: return spdlog::level::warn;
    case Level::error: return spdlog::level::err;
  }
  return spdlog::level::warn;
}

Level from_spdlog(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug: return Level::debug;
    case spdlog::level::info: return Level::info;
    case spdlog::level::warn: return Level::warning;
    default: return Level::error;
  }
}

// The level TREMORA_LOG_LEVEL names (warning when it is unset); a text that
// names no level gives warning and the message that says so in `problem`.
Level level_from_environment(std::string& problem) {
  const char* text = std::getenv("TREMORA_LOG_LEVEL");
  if (!text || !*text) return Level::warning;
  try {
    return parse_level(text);
  } catch (const std::invalid_argument& e) {
    problem = std::string("TREMORA_LOG_LEVEL: ") + e.what() + "; showing warning and above";
    return Level::warning;
  }
}

// Standard error, with the control characters of each message escaped, so
// that data a message quotes (a place name, a value) cannot drive the
// terminal; line breaks and tabs stay.
struct ConsoleSink : spdlog::sinks::base_sink<std::mutex> {
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::string escaped = escape_controls(std::string_view(msg.payload.data(), msg.payload.size()), true);
    spdlog::details::log_msg shown = msg;
    shown.payload = spdlog::string_view_t(escaped.data(), escaped.size());
    spdlog::memory_buf_t line;
    formatter_->format(shown, line);
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  void flush_() override { std::fflush(stderr); }
};

// The sinks and loggers of the process: every logger writes to one
// distributing sink, which holds the standard-error sink and any captures.
struct Registry {
  std::shared_ptr<spdlog::sinks::dist_sink_mt> dist = std::make_shared<spdlog::sinks::dist_sink_mt>();
  std::shared_ptr<ConsoleSink> console = std::make_shared<ConsoleSink>();
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<spdlog::logger>> loggers;
  int captures = 0;
  // The program's own handler, which takes the place of standard error.
  std::shared_ptr<spdlog::sinks::sink> handler;

  Registry() {
    console->set_pattern("%Y-%m-%d %H:%M:%S.%e [%n] [%l] %v");
    std::string problem;
    console->set_level(to_spdlog(level_from_environment(problem)));
    dist->add_sink(console);
    if (!problem.empty()) get("logger_config")->warn(problem);
  }

  // The level loggers pass on: everything while a capture listens.
  spdlog::level::level_enum logger_level() const {
    return captures > 0 || handler ? spdlog::level::debug : console->level();
  }

  std::shared_ptr<spdlog::logger> get(const std::string& name) {
    std::lock_guard lock(mutex);
    auto& logger = loggers[name];
    if (!logger) {
      logger = std::make_shared<spdlog::logger>(name, dist);
      logger->set_level(logger_level());
      logger->flush_on(spdlog::level::warn);
    }
    return logger;
  }

  void update_levels() {
    for (auto& [name, logger] : loggers) logger->set_level(logger_level());
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::string_view level_name(Level level) {
  switch (level) {
    case Level::debug: return "debug";
    case Level::info: return "info";
    case Level::warning: return "warning";
    case Level::error: return "error";
  }
  return "warning";
}

Level parse_level(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  if (s == "debug") return Level::debug;
  if (s == "info") return Level::info;
  if (s == "warning" || s == "warn") return Level::warning;
  if (s == "error") return Level::error;
  throw std::invalid_argument("unknown log level '" + std::string(name) + "' (use debug, info, warning or error)");
}

namespace {
// Where this thread's messages go while a HeldLog holds them.
thread_local std::vector<Record>* held_records = nullptr;
}  // namespace

struct Logger::Impl {
  std::string name;
  std::shared_ptr<spdlog::logger> logger;
};

Logger::Logger(const std::string& name) : impl_(std::make_shared<Impl>(Impl{name, registry().get(name)})) {}

void Logger::log(Level level, std::string_view message) const {
  if (held_records) {
    if (enabled(level)) held_records->push_back({impl_->name, level, std::string(message)});
    return;
  }
  impl_->logger->log(to_spdlog(level), spdlog::string_view_t(message.data(), message.size()));
}

void Logger::debug(std::string_view message) const { log(Level::debug, message); }
void Logger::info(std::string_view message) const { log(Level::info, message); }
void Logger::warning(std::string_view message) const { log(Level::warning, message); }
void Logger::error(std::string_view message) const { log(Level::error, message); }

const std::string& Logger::name() const { return impl_->name; }

bool Logger::enabled(Level level) const { return impl_->logger->should_log(to_spdlog(level)); }

const Logger fetching_logger("fetching");
const Logger cleaning_logger("cleaning");
const Logger plotting_logger("plotting");

Logger get_logger(const std::string& name) { return Logger(name); }

Level level() { return from_spdlog(registry().console->level()); }

void set_level(Level level) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.console->set_level(to_spdlog(level));
  r.update_levels();
}

// A sink that hands every message to the program's handler.
struct HandlerSink : spdlog::sinks::base_sink<spdlog::details::null_mutex> {
  explicit HandlerSink(std::function<void(const Record&)> f) : handler(std::move(f)) {}
  std::function<void(const Record&)> handler;

  void sink_it_(const spdlog::details::log_msg& msg) override {
    handler(Record{std::string(msg.logger_name.data(), msg.logger_name.size()), from_spdlog(msg.level),
                   std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}
};

void set_handler(std::function<void(const Record&)> handler) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.handler) r.dist->remove_sink(r.handler);
  else r.dist->remove_sink(r.console);
  r.handler.reset();
  if (handler) {
    r.handler = std::make_shared<HandlerSink>(std::move(handler));
    r.dist->add_sink(r.handler);
  } else {
    r.dist->add_sink(r.console);
  }
  r.update_levels();
}

// A sink that keeps every message it is given.
struct LogCapture::Sink : spdlog::sinks::base_sink<std::mutex> {
  std::vector<Record> records;

  void sink_it_(const spdlog::details::log_msg& msg) override {
    records.push_back(Record{std::string(msg.logger_name.data(), msg.logger_name.size()), from_spdlog(msg.level),
                             std::string(msg.payload.data(), msg.payload.size())});
  }
  void flush_() override {}

  std::vector<Record> copy() {
    std::lock_guard lock(mutex_);
    return records;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    records.clear();
  }
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  sink_->set_level(spdlog::level::debug);
  r.dist->add_sink(sink_);
  ++r.captures;
  r.update_levels();
}

LogCapture::~LogCapture() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.dist->remove_sink(sink_);
  --r.captures;
  r.update_levels();
}

std::vector<Record> LogCapture::records() const { return sink_->copy(); }

bool LogCapture::contains(std::string_view logger, Level level, std::string_view message) const {
  for (const auto& r : sink_->copy())
    if (r.logger == logger && r.level == level && r.message == message) return true;
  return false;
}

void LogCapture::clear() { sink_->clear(); }

HeldLog::HeldLog() : outer_(held_records) { held_records = &records_; }
HeldLog::~HeldLog() { held_records = outer_; }

std::vector<Record> HeldLog::take() { return std::exchange(records_, {}); }

void pass_on(const std::vector<Record>& records) {
  for (const Record& r : records) Logger(r.logger).log(r.level, r.message);
}

}  // namespace tremora::logger_config
