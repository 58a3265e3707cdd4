// The codec's decoding into a 32-bit block, with its error recovery.
#include <cstdlib>
#include <cstring>

#include "image/JpegCodec.h"

static void* allocate(size_t n) { return std::malloc(n); }
static void release(void* p) { std::free(p); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  void* block = image::jpeg::decodeToBlock(data, size, size % 2 ? 1 : -1, {allocate, release}, 1 << 22);
  if (block) {
    int32_t dims[2];
    std::memcpy(dims, block, sizeof dims);
    if (dims[0] <= 0 || dims[1] <= 0 || static_cast<int64_t>(dims[0]) * dims[1] > (1 << 22)) std::abort();
    std::free(block);
  }
  return 0;
}
