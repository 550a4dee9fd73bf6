#pragma once
// An allocator that maps large blocks from the system itself and gives them back on release.
//
// A stream's receive buffer grows to tens of MiB when a camera sends an endless part, and
// shrinks again. Through malloc, glibc takes the first such block with mmap, but freeing it
// raises malloc's own mmap threshold to that size; the next large blocks then come from the
// heap, which keeps their pages after they are freed (the process's memory stays at the peak
// for good). Mapping them here keeps that threshold where the host process had it and returns
// every large block's pages at once. Small blocks go through operator new as usual.
// Stateless: any instance frees what any other allocated. Thread-safe like operator new.

#include <sys/mman.h>

#include <cstddef>
#include <new>

namespace Vantrel {

// Blocks of at least this size are mapped.
constexpr std::size_t kMappedBlockThreshold = 256 * 1024;

template <class T>
class MappedBlockAllocator {
 public:
  using value_type = T;

  MappedBlockAllocator() noexcept = default;
  template <class U>
  MappedBlockAllocator(const MappedBlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kMappedBlockThreshold) return static_cast<T*>(::operator new(bytes));
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  // `count` is the one allocate was given, as the allocator rules require.
  void deallocate(T* block, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kMappedBlockThreshold) {
      ::operator delete(block);
      return;
    }
    ::munmap(block, bytes);
  }

  template <class U>
  bool operator==(const MappedBlockAllocator<U>&) const noexcept { return true; }
  template <class U>
  bool operator!=(const MappedBlockAllocator<U>&) const noexcept { return false; }
};

}  // namespace Vantrel
