#include "Memory.h"

#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace kestrove::platform {

namespace {

#ifndef _WIN32
constexpr std::size_t kLarge = 2u << 20;

bool IsLarge(std::size_t size) { return size >= kLarge; }

void* MapLarge(std::size_t size) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;  // every page at once, not one fault per page
#endif
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}
#endif

}  // namespace

#ifdef _WIN32

void* AllocateBlock(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void* ResizeBlock(void* block, std::size_t, std::size_t newSize) {
  return std::realloc(block, newSize == 0 ? 1 : newSize);
}

void FreeBlock(void* block, std::size_t) { std::free(block); }

#else

void* AllocateBlock(std::size_t size) {
  if (IsLarge(size)) return MapLarge(size);
  return std::malloc(size == 0 ? 1 : size);
}

void* ResizeBlock(void* block, std::size_t oldSize, std::size_t newSize) {
  if (block == nullptr) return AllocateBlock(newSize);
  if (!IsLarge(oldSize) && !IsLarge(newSize))
    return std::realloc(block, newSize == 0 ? 1 : newSize);
#ifdef MREMAP_MAYMOVE
  if (IsLarge(oldSize) && IsLarge(newSize)) {
    void* p = ::mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_POPULATE_WRITE
    if (newSize > oldSize) {
      // The new tail at once too; page-aligned from where the old part ends.
      const std::size_t from = (oldSize + 4095) & ~std::size_t{4095};
      if (from < newSize)
        ::madvise(static_cast<char*>(p) + from, newSize - from, MADV_POPULATE_WRITE);
    }
#endif
    return p;
  }
#endif
  void* p = AllocateBlock(newSize);
  if (p == nullptr) return nullptr;
  std::memcpy(p, block, oldSize < newSize ? oldSize : newSize);
  FreeBlock(block, oldSize);
  return p;
}

void FreeBlock(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (IsLarge(size)) {
    ::munmap(block, size);
  } else {
    std::free(block);
  }
}

#endif

}  // namespace kestrove::platform
