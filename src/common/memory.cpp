#include "tremora/memory.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tremora {

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// What the system allocator puts before the memory it hands out, and the
// most it adds after, in a mapping of its own: 16 and 16 bytes (glibc).
constexpr std::size_t kAllocatorHeader = 16;
constexpr std::size_t kAllocatorOverhead = 32;

}  // namespace

std::size_t capacity_for_huge_pages(std::size_t n, std::size_t bytes_each) noexcept {
  if (bytes_each == 0 || n > (std::size_t(-1) - kHugePageBytes) / bytes_each) return n;
  std::size_t bytes = n * bytes_each;
  if (bytes < 2 * kHugePageBytes) return n;
  std::size_t spanned = (bytes + kAllocatorOverhead + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  return (spanned - kAllocatorOverhead) / bytes_each;  // at least n: spanned >= bytes + overhead
}

void advise_huge_pages(const void* data, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = kHugePageBytes;  // as an address step
  if (!data || bytes < 2 * kHugePage) return;
  std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
  // A buffer just past a 2 MiB boundary starts after the allocator's
  // header of this same allocation: its first huge page is its own.
  std::uintptr_t first =
      begin % kHugePage <= kAllocatorHeader ? begin & ~(kHugePage - 1) : (begin + kHugePage - 1) & ~(kHugePage - 1);
  std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  // Advice only: where it is refused the buffer keeps ordinary pages.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

void keep_freed_memory() noexcept {
#if defined(__GLIBC__)
  // 32 MiB is the largest threshold glibc accepts for serving a buffer
  // from its heaps rather than from a mapping of its own. Setting it also
  // ends glibc's own raising of the threshold as buffers are freed, which
  // would otherwise start again from 128 KiB.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
}

}  // namespace tremora
