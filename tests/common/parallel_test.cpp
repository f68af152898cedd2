// The shared pool: every task once, on several threads, the first failure
// by index, nesting, and the thread count from TREMORA_THREADS.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "test_support.hpp"
#include "tremora/parallel.hpp"

namespace tremora {
namespace {

TEST(Parallel, EveryTaskOnceTheLowestFailureAndNestedCalls) {
  testing::ScopedEnv four("TREMORA_THREADS", std::string("4"));
  EXPECT_EQ(thread_count(), 4u);
  std::vector<std::atomic<int>> runs(1000);
  std::mutex m;
  std::set<std::thread::id> threads;
  parallel_for(runs.size(), [&](std::size_t i) {
    ++runs[i];
    std::lock_guard lock(m);
    threads.insert(std::this_thread::get_id());
  });
  for (const auto& r : runs) ASSERT_EQ(r.load(), 1);
  EXPECT_GE(threads.size(), 1u);
  EXPECT_LE(threads.size(), 4u);
  // At most two threads when told so; no bound of 0 stops the work.
  threads.clear();
  parallel_for(
      200,
      [&](std::size_t) {
        std::lock_guard lock(m);
        threads.insert(std::this_thread::get_id());
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      },
      2);
  EXPECT_LE(threads.size(), 2u);
  std::atomic<int> bounded{0};
  parallel_for(
      5, [&](std::size_t) { ++bounded; }, 0);
  EXPECT_EQ(bounded.load(), 5);

  // Every task runs although some throw; the lowest index's error comes back.
  std::atomic<int> ran{0};
  try {
    parallel_for(50, [&](std::size_t i) {
      ++ran;
      if (i == 7 || i == 31) throw std::runtime_error("task " + std::to_string(i));
    });
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "task 7");
  }
  EXPECT_EQ(ran.load(), 50);

  // A call inside a task runs its tasks on that task's thread.
  std::atomic<int> inner{0};
  parallel_for(4, [&](std::size_t) {
    auto self = std::this_thread::get_id();
    parallel_for(10, [&](std::size_t) { inner += std::this_thread::get_id() == self; });
  });
  EXPECT_EQ(inner.load(), 40);

  // One thread: the calling one; a value that is no count: the processors.
  testing::ScopedEnv one("TREMORA_THREADS", std::string("1"));
  auto caller = std::this_thread::get_id();
  int on_caller = 0;
  parallel_for(20, [&](std::size_t) { on_caller += std::this_thread::get_id() == caller; });
  EXPECT_EQ(on_caller, 20);
  testing::ScopedEnv bad("TREMORA_THREADS", std::string("many"));
  EXPECT_GE(thread_count(), 1u);
}

}  // namespace
}  // namespace tremora
