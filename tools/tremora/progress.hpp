// A progress line for long commands, on standard error when it is a
// terminal (and nothing at all when it is redirected):
//   "fetch: writing (3/3), 2.4 s"
// redrawn in place a few times a second so that the elapsed time moves, and
// erased when the work ends or fails (before the error is printed).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tremora::cli {

class Progress {
 public:
  /// A line for `task` with `total_steps` steps, shown when `shown` (by
  /// default: when standard error is a terminal).
  Progress(std::string task, std::size_t total_steps, bool shown = stderr_is_terminal());
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  /// Begins the next step, named as the line shows it ("fetching").
  void step(std::string name);
  /// Erases the line; the destructor does it too.
  void finish();

  /// The line as shown: "TASK: STEP (DONE/TOTAL), S.S s".
  static std::string line(const std::string& task, const std::string& step, std::size_t number, std::size_t total,
                          double seconds);
  static bool stderr_is_terminal();

 private:
  void redraw_until_finished();
  void draw();

  std::string task_, step_;
  std::size_t total_, number_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finished_ = false;
  std::thread ticker_;
};

}  // namespace tremora::cli
