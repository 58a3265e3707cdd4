#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {
namespace {
constexpr size_t kPage = 4096;
constexpr size_t kHugePage = size_t{2} << 20;

// A block of a huge page or more is made of whole huge pages; a smaller one
// of ordinary pages.
size_t roundToPages(size_t bytes) {
  const size_t page = bytes >= kHugePage ? kHugePage : kPage;
  return (bytes + page - 1) & ~(page - 1);
}
}  // namespace

void* allocateLarge(size_t bytes) {
  if (bytes == 0 || bytes > (SIZE_MAX >> 1)) return nullptr;
  const size_t size = roundToPages(bytes);
  if (bytes < kHugePage) {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
  }
  // Map one huge page more than needed and trim both ends, so that the block
  // starts on a huge-page boundary.
  void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  if (aligned + size < start + size + kHugePage)
    munmap(reinterpret_cast<void*>(aligned + size), start + size + kHugePage - (aligned + size));
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(block, size, MADV_HUGEPAGE);
#endif
  return block;
}

void releaseLarge(void* block, size_t bytes) {
  if (block) munmap(block, roundToPages(bytes));
}

}  // namespace platform
