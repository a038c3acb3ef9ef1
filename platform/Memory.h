// Memory for big arrays. Blocks of a few megabytes and more come straight
// from the system in whole pages, with huge pages asked for where the system
// has them, so that filling a list of a million names takes a few dozen
// page faults instead of thousands. Smaller blocks come from malloc.
#pragma once

#include <cstddef>
#include <new>

namespace kestrove::platform {

// nullptr when there is no memory.
void* AllocateBlock(std::size_t size);
// Like realloc: keeps the first min(oldSize, newSize) bytes; on failure
// returns nullptr and leaves the block as it was.
void* ResizeBlock(void* block, std::size_t oldSize, std::size_t newSize);
void FreeBlock(void* block, std::size_t size);

// A standard allocator over the blocks above.
template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) {}  // NOLINT(google-explicit-constructor)

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* p = AllocateBlock(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) { FreeBlock(p, n * sizeof(T)); }

  template <class U>
  bool operator==(const BlockAllocator<U>&) const {
    return true;
  }
};

}  // namespace kestrove::platform
