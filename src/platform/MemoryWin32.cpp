#include "platform/Memory.h"

#include <windows.h>

namespace platform {

void* allocateLarge(size_t bytes) {
  return bytes ? VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
}

void releaseLarge(void* block, size_t) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace platform
