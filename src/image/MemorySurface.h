// What a DibImage's device context points at in the native build: the
// buffer's size, row order and pixels, read by the native codec functions.
#pragma once
#include <cstdint>

namespace image {

struct MemorySurface {
  static constexpr uint32_t kMagic = 0x53424944;  // "DIBS"
  uint32_t magic = kMagic;
  int32_t width = 0;
  int32_t height = 0;
  int32_t orientation = 1;
  uint32_t* pixels = nullptr;
};

}  // namespace image
