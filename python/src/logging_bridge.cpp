// The library's loggers, forwarded to Python's logging under their names.
// A message logged by a thread that holds the GIL goes to Python at once;
// one logged while the GIL is released (long work) waits in a queue until
// the call ends (FlushLogs), so that no C++ thread ever waits for the GIL
// while holding the logger's lock.
#include <mutex>
#include <vector>

#include "module.hpp"
#include "tremora/logger_config.hpp"

namespace tremora::python {
namespace {

using logger_config::Level;
using logger_config::Record;

std::mutex g_pending_mutex;
std::vector<Record> g_pending;

int python_level(Level level) {
  switch (level) {
    case Level::debug: return 10;
    case Level::info: return 20;
    case Level::warning: return 30;
    case Level::error: return 40;
  }
  return 30;
}

// Hands one message to logging.getLogger(name).log(level, message); must
// not throw (it runs inside the library's logging).
void emit(const Record& r) {
  try {
    py::object logger = py::module_::import("logging").attr("getLogger")(r.logger);
    int level = python_level(r.level);
    if (logger.attr("isEnabledFor")(level).cast<bool>()) logger.attr("log")(level, "%s", r.message);
  } catch (py::error_already_set& e) {
    e.discard_as_unraisable("tremora logging bridge");
  } catch (...) {
  }
}

void flush_pending() {
  std::vector<Record> records;
  {
    std::lock_guard lock(g_pending_mutex);
    records.swap(g_pending);
  }
  for (const auto& r : records) emit(r);
}

}  // namespace

FlushLogs::~FlushLogs() {
  if (PyGILState_Check()) flush_pending();
}

void install_logging_bridge() {
  logger_config::set_handler([](const Record& r) {
    if (Py_IsInitialized() && PyGILState_Check()) {
      flush_pending();
      emit(r);
      return;
    }
    std::lock_guard lock(g_pending_mutex);
    g_pending.push_back(r);
  });
}

}  // namespace tremora::python
