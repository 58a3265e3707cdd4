// Large zeroed blocks (pixel buffers), taken from the system in whole pages
// rather than from the heap. On Linux they are backed by huge pages where the
// kernel allows it, which spares most of the page faults of a first touch.
#pragma once
#include <cstddef>

namespace platform {

// nullptr when the memory is not there. Release with the same size.
void* allocateLarge(size_t bytes);
void releaseLarge(void* block, size_t bytes);

}  // namespace platform
