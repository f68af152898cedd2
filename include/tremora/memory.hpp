// Large buffers that are written once, such as the columns of a table of
// millions of rows.
//
// Fresh memory costs a page fault per 4 KiB page on its first write, and on
// virtual machines such a fault costs several microseconds: copying a
// 12 MB column into a fresh vector can take longer in faults than in
// copying. Where the system offers transparent huge pages on request
// (Linux, "madvise" mode), a large buffer asked to be backed by 2 MiB pages
// takes one fault per 2 MiB instead.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace tremora {

/// Asks for huge pages behind the whole 2 MiB pages of a buffer that has
/// not been written yet. Only buffers of several MiB are worth it; smaller
/// ones, and systems without the facility, are left as they are.
void advise_huge_pages(const void* data, std::size_t bytes) noexcept;

/// The values to reserve for `n` values of `bytes_each`: for a buffer of
/// several MiB, a little more, so that the allocation (with the allocator's
/// own header) spans whole 2 MiB pages. The system then places it on a
/// 2 MiB boundary, and huge pages cover all of it, where otherwise up to
/// 2 MiB at each end would be faulted in 4 KiB at a time.
std::size_t capacity_for_huge_pages(std::size_t n, std::size_t bytes_each) noexcept;

/// Makes the system allocator keep freed buffers of up to 32 MiB for reuse
/// (and up to 512 MiB of freed memory in all) instead of handing each back
/// to the system when it is freed. Work that allocates and frees buffers
/// of several MiB, as a fetch or a chart does, then writes into memory it
/// has used before instead of taking a page fault per page again; on a
/// virtual machine, returning memory while other threads of the process
/// run also stops them all, which is what makes such work scale badly with
/// threads. It holds for the whole process, so the library never calls
/// it: programs do (the tremora program and the benchmarks call it first
/// thing; Python programs call tremora.keep_freed_memory()). Elsewhere,
/// glibc's GLIBC_TUNABLES does the same:
/// glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=536870912.
/// Does nothing with other allocators.
void keep_freed_memory() noexcept;

/// An empty vector with room for `n` values, advised for huge pages.
template <typename T>
std::vector<T> large_buffer(std::size_t n) {
  std::vector<T> v;
  v.reserve(capacity_for_huge_pages(n, sizeof(T)));
  advise_huge_pages(v.data(), v.capacity() * sizeof(T));
  return v;
}

/// Room for `n` values of a trivial type, not written (so not zeroed by one
/// thread first, as a vector's values are), advised for huge pages: for
/// work buffers whose every value is written, in parallel, before it is read.
template <typename T>
std::unique_ptr<T[]> large_unwritten(std::size_t n) {
  static_assert(std::is_trivial_v<T>);
  std::unique_ptr<T[]> p(new T[capacity_for_huge_pages(n, sizeof(T))]);
  advise_huge_pages(p.get(), n * sizeof(T));
  return p;
}

/// A vector of `n` copies of `value`, advised for huge pages before it is filled.
template <typename T>
std::vector<T> large_vector(std::size_t n, const T& value = T()) {
  std::vector<T> v = large_buffer<T>(n);
  v.resize(n, value);
  return v;
}

}  // namespace tremora
