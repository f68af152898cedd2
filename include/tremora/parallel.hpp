// Work spread over the processors the process may use, by one small pool of
// threads that every part of the library shares.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

namespace tremora {

/// The threads parallel work may use: TREMORA_THREADS when it holds a whole
/// number from 1 up (1 runs everything on the calling thread, as the
/// library did before it used threads), else the processors the process
/// may run on (sched_getaffinity). Read at every call.
std::size_t thread_count();

/// Runs task(0), ..., task(n - 1) on up to thread_count() threads (and at
/// most `most_threads`; 0 as 1), the calling thread among them, and returns when
/// all have ended: nothing of it runs after the call returns. The tasks must
/// not depend on one another nor log or call back into Python (collect what
/// they find, or hold their messages with logger_config::HeldLog; the caller
/// reports it). When tasks throw, every task still runs and the exception of
/// the lowest index is rethrown. Called from inside a task, or while another
/// thread's call runs, the tasks run one after another on the calling thread.
void parallel_for(std::size_t n, const std::function<void(std::size_t)>& task, std::size_t most_threads = SIZE_MAX);

/// Runs f(begin, end) on the pieces [0, piece), [piece, 2 piece), ... of
/// [0, n), as the tasks of one parallel_for.
template <typename F>
void parallel_pieces(std::size_t n, std::size_t piece, F&& f) {
  parallel_for((n + piece - 1) / piece,
               [&](std::size_t k) { f(k * piece, k * piece + piece < n ? k * piece + piece : n); });
}

}  // namespace tremora
