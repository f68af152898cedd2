// Counts the heap bytes a benchmark program holds, by replacing the global
// allocation functions, so that benchmarks can report memory per sample and
// the peak reached while an operation runs.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace tremora::bench {

inline std::atomic<std::size_t> g_live_bytes{0};
inline std::atomic<std::size_t> g_peak_bytes{0};

inline void note_alloc(void* p) {
  if (!p) return;
  std::size_t now = g_live_bytes += malloc_usable_size(p);
  std::size_t peak = g_peak_bytes.load();
  while (now > peak && !g_peak_bytes.compare_exchange_weak(peak, now)) {
  }
}

/// Bytes held now.
inline std::size_t live_bytes() { return g_live_bytes.load(); }
/// Starts a new peak measurement from the bytes held now.
inline void reset_peak() { g_peak_bytes = g_live_bytes.load(); }
/// The most bytes held since reset_peak.
inline std::size_t peak_bytes() { return g_peak_bytes.load(); }

}  // namespace tremora::bench

// The replacement allocation functions (one definition in the program: this
// header is included by exactly one file of each benchmark program).
void* operator new(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  tremora::bench::note_alloc(p);
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
namespace tremora::bench {
// Out of line, so that the compiler does not take the free() of memory that
// operator new took with malloc() for a mismatched pair.
[[gnu::noinline]] inline void release(void* p) noexcept {
  g_live_bytes -= malloc_usable_size(p);
  std::free(p);
}
}  // namespace tremora::bench

void operator delete(void* p) noexcept {
  if (p) tremora::bench::release(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
