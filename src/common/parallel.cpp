#include "tremora/parallel.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "tremora/text.hpp"

namespace tremora {
namespace {

thread_local bool in_task = false;

// One call's tasks: the next index to take and the first failure.
struct Job {
  Job(const std::function<void(std::size_t)>& t, std::size_t count) : task(&t), n(count) {}
  const std::function<void(std::size_t)>* task;
  std::size_t n;
  std::atomic<std::size_t> next{0};
  std::mutex failure_mutex;
  std::size_t failed_at = std::numeric_limits<std::size_t>::max();
  std::exception_ptr failure;

  void work() {
    bool outer = in_task;
    in_task = true;
    for (std::size_t i; (i = next.fetch_add(1)) < n;) {
      try {
        (*task)(i);
      } catch (...) {
        std::lock_guard lock(failure_mutex);
        if (i < failed_at) failed_at = i, failure = std::current_exception();
      }
    }
    in_task = outer;
  }
};

// Worker threads made as calls first need them and kept for later calls;
// one call at a time uses them.
class Pool {
 public:
  static Pool& shared() {
    static Pool pool;
    return pool;
  }

  // False (and nothing run) when another call holds the pool.
  bool run(Job& job, std::size_t helpers) {
    std::unique_lock busy(busy_, std::try_to_lock);
    if (!busy.owns_lock()) return false;
    {
      std::lock_guard lock(mutex_);
      while (threads_.size() < helpers) threads_.emplace_back([this] { serve(); });
      job_ = &job, wanted_ = helpers, joined_ = 0, ++generation_;
    }
    wake_.notify_all();
    job.work();
    std::unique_lock lock(mutex_);
    job_ = nullptr;  // no helper joins from now on
    done_.wait(lock, [&] { return active_ == 0; });
    return true;
  }

  ~Pool() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

 private:
  void serve() {
    std::size_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || (job_ && generation_ != seen && joined_ < wanted_); });
      if (stop_) return;
      seen = generation_;
      Job* job = job_;
      ++joined_, ++active_;
      lock.unlock();
      job->work();
      lock.lock();
      if (--active_ == 0) done_.notify_all();
    }
  }

  std::mutex busy_, mutex_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  Job* job_ = nullptr;
  std::size_t wanted_ = 0, joined_ = 0, active_ = 0, generation_ = 0;
  bool stop_ = false;
};

}  // namespace

std::size_t thread_count() {
  if (const char* text = std::getenv("TREMORA_THREADS")) {
    auto n = parse_integer(text);
    if (n && *n >= 1) return std::size_t(*n);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return std::size_t(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

void parallel_for(std::size_t n, const std::function<void(std::size_t)>& task, std::size_t most_threads) {
  Job job(task, n);
  std::size_t threads = std::min({thread_count(), n, most_threads});
  if (threads <= 1 || in_task || !Pool::shared().run(job, threads - 1)) job.work();
  if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace tremora
