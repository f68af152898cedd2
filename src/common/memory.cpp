#include "tremora/memory.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tremora {

void advise_huge_pages(const void* data, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  if (!data || bytes < 2 * kHugePage) return;
  std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
  // Advice only: where it is refused the buffer keeps ordinary pages.
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace tremora
