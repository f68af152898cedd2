// The progress line: a ticker thread redraws it until the work ends.
#include "progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
// Carriage return, then erase to the end of the line.
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

Progress::Progress(std::string task, std::size_t total_steps, bool shown)
    : task_(std::move(task)), total_(total_steps), finished_(!shown) {
  if (shown) ticker_ = std::thread([this] { redraw_until_finished(); });
}

Progress::~Progress() { finish(); }

void Progress::step(std::string name) {
  std::lock_guard lock(mutex_);
  step_ = std::move(name);
  ++number_;
  if (!finished_) draw();
}

void Progress::finish() {
  {
    std::lock_guard lock(mutex_);
    if (finished_ && !ticker_.joinable()) return;
    finished_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) {
    ticker_.join();
    std::fputs(kEraseLine, stderr);
    std::fflush(stderr);
  }
}

std::string Progress::line(const std::string& task, const std::string& step, std::size_t number, std::size_t total,
                           double seconds) {
  std::ostringstream out;
  out << task << ": " << escape_controls(step) << " (" << number << "/" << total << "), " << std::fixed
      << std::setprecision(1) << seconds << " s";
  return out.str();
}

bool Progress::stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

void Progress::redraw_until_finished() {
  std::unique_lock lock(mutex_);
  while (!finished_) {
    draw();
    wake_.wait_for(lock, kRedrawEvery);
  }
}

// Called with the mutex held.
void Progress::draw() {
  if (number_ == 0) return;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::fputs((kEraseLine + line(task_, step_, number_, total_, seconds)).c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace tremora::cli
