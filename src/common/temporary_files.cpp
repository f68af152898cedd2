// The process-wide list of temporary files being written, and the handlers
// of the signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGPIPE) that
// remove them before the process ends.
//
// A signal handler may only use async-signal-safe calls, so the list is a
// fixed array of path buffers whose states are lock-free atomics: the
// handler claims each held slot by compare-and-swap and calls unlink() on
// its path, nothing else.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "tremora/files.hpp"

namespace tremora {
namespace {

constexpr std::size_t kSlots = 64;
constexpr std::size_t kPathBytes = 4096;

// The signals whose default action ends the program while a write may be
// under way: an interrupt, a kill, a closed terminal, a closed pipe.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

enum SlotState : int { kFree, kFilling, kHeld, kRemoving };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathBytes];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slot states");

Slot slots[kSlots];

int hold(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kHeld, std::memory_order_release);
    return int(i);
  }
  return -1;
}

void let_go(int slot) {
  int expected = kHeld;
  slots[slot].state.compare_exchange_strong(expected, kFree);
}

// Async-signal-safe: atomics and unlink() only.
void remove_held_files() {
  for (Slot& slot : slots) {
    int expected = kHeld;
    if (slot.state.compare_exchange_strong(expected, kRemoving)) ::unlink(slot.path);
  }
}

void remove_files_and_end(int signal_number) {
  int saved_errno = errno;
  remove_held_files();
  // The handler was installed with SA_RESETHAND, so the signal's default
  // action is back: raised again, it ends the process as soon as this
  // handler returns, with the status that signal gives.
  ::raise(signal_number);
  errno = saved_errno;
}

void install_removal(int signal_number) {
  struct sigaction current {};
  if (::sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = remove_files_and_end;
  sigemptyset(&action.sa_mask);
  for (int other : kEndingSignals) sigaddset(&action.sa_mask, other);
  action.sa_flags = SA_RESETHAND;
  ::sigaction(signal_number, &action, nullptr);
}

}  // namespace

TemporaryFileRegistration::TemporaryFileRegistration(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  slot_ = hold(ec ? path.string() : absolute.string());
}

TemporaryFileRegistration::~TemporaryFileRegistration() {
  if (slot_ >= 0) let_go(slot_);
}

void remove_temporary_files_on_signals() {
  for (int signal_number : kEndingSignals) install_removal(signal_number);
  // Past a file-size limit a write then fails with EFBIG, which the writer
  // reports ("File too large") after removing its temporary file, instead
  // of the signal ending the program silently.
  struct sigaction current {};
  if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace tremora
