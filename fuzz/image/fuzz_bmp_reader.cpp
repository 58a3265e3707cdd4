// The BMP reader's header checks and the conversion of what they accept.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/BmpFile.h"
#include "platform/Hooks.h"

static int quiet(const char*, const char*, unsigned) { return platform::kIdOk; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::setMessageBoxHook(quiet);
  // Run-length files may declare large pictures in a few bytes; keep each run small.
  if (size >= 26) {
    int32_t w, h;
    std::memcpy(&w, data + 18, 4);
    std::memcpy(&h, data + 22, 4);
    if (static_cast<int64_t>(w) * (h < 0 ? -static_cast<int64_t>(h) : h) > (1 << 22)) return 0;
  }
  image::BmpFile bmp;
  if (!image::readBmp(data, size, &bmp)) return 0;
  if (bmp.width <= 0 || bmp.height <= 0 || bmp.pixelData.size() != bmp.stride * bmp.height) std::abort();
  std::vector<uint32_t> pixels(static_cast<size_t>(bmp.width) * bmp.height);
  image::convertBmp(bmp, size % 2 ? 1 : -1, pixels.data());
  return 0;
}
