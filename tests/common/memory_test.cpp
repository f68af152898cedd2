#include "tremora/memory.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tremora {
namespace {

// A large buffer's capacity makes its allocation, with the allocator's 32
// bytes, span whole 2 MiB pages, wasting less than a value of the last
// one; small buffers, and counts that would overflow, are left as asked.
TEST(Memory, LargeBuffersSpanWholeHugePages) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  for (std::size_t each : {1, 4, 8, 24}) {
    for (std::size_t bytes : {std::size_t{0}, std::size_t{4096}, 2 * kHuge - 1, 2 * kHuge, 2 * kHuge + 1,
                              5 * kHuge - 32, 5 * kHuge - 31, 12'345'678 * each}) {
      std::size_t n = bytes / each;
      std::size_t capacity = capacity_for_huge_pages(n, each);
      ASSERT_GE(capacity, n);
      if (n * each < 2 * kHuge) {
        EXPECT_EQ(capacity, n) << each << " " << bytes;
        continue;
      }
      std::size_t allocated = capacity * each + 32;
      std::size_t spanned = (allocated + kHuge - 1) / kHuge * kHuge;
      EXPECT_LT(spanned - allocated, each) << each << " " << bytes;
      EXPECT_LT(spanned, n * each + 32 + kHuge) << each << " " << bytes;
    }
  }
  EXPECT_EQ(capacity_for_huge_pages(SIZE_MAX / 8, 8), SIZE_MAX / 8);
  std::vector<int64_t> v = large_vector<int64_t>(3'000'000, 7);
  EXPECT_EQ(v.size(), 3'000'000u);
  EXPECT_EQ(v.capacity(), capacity_for_huge_pages(3'000'000, 8));
  EXPECT_EQ(v.back(), 7);
}

// (AddressSanitizer's allocator takes the place of glibc's, and ignores its settings.)
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
// Once freed memory is kept, a buffer of 24 MiB comes from the allocator's
// heap (not a mapping of its own that freeing it would hand back to the
// system), and a buffer of that size asked for again after it is freed
// takes the same memory.
TEST(Memory, KeptFreedMemoryServesLargeBuffersAgain) {
  constexpr std::size_t kBytes = std::size_t{24} << 20;
  keep_freed_memory();
  std::size_t mapped = mallinfo2().hblkhd;
  char* first = static_cast<char*>(std::malloc(kBytes));
  ASSERT_NE(first, nullptr);
  std::memset(first, 1, kBytes);
  EXPECT_EQ(mallinfo2().hblkhd, mapped);
  auto first_at = reinterpret_cast<std::uintptr_t>(first);
  std::free(first);
  char* again = static_cast<char*>(std::malloc(kBytes));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(again), first_at);
  std::free(again);
}
#endif

}  // namespace
}  // namespace tremora
