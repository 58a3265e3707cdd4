#include "image/Pixels.h"

#include <algorithm>
#include <cstddef>

namespace image {

void rotate90(uint32_t* target, const uint32_t* source, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  // Tile by tile, so that the source columns a tile reads stay in the cache.
  constexpr size_t kTile = 64;
  for (size_t i0 = 0; i0 < h; i0 += kTile) {
    const size_t i1 = std::min(i0 + kTile, h);
    for (size_t j0 = 0; j0 < w; j0 += kTile) {
      const size_t j1 = std::min(j0 + kTile, w);
      for (size_t j = j0; j < j1; ++j) {
        uint32_t* out = target + (w - 1 - j) * h;
        for (size_t i = i0; i < i1; ++i) out[i] = source[i * w + j];
      }
    }
  }
}

namespace {
// Truncates toward zero; the small bias keeps a weighted sum of equal bytes
// (which may come out as 254.9999…) at its exact value.
inline uint8_t toByte(double v) {
  v += 1e-6;
  return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
}
}  // namespace

bool scaleBilinear(uint32_t* target, int32_t targetWidth, int32_t targetHeight,
                   const uint32_t* source, int32_t sourceWidth, int32_t sourceHeight,
                   const volatile bool* cancel) {
  if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 2 || targetHeight < 2) return false;
  const int32_t W = sourceWidth, H = sourceHeight;
  const double sx = static_cast<double>(W - 1) / (targetWidth - 1);
  const double sy = static_cast<double>(H - 1) / (targetHeight - 1);
  const uint8_t* src = reinterpret_cast<const uint8_t*>(source);
  uint8_t* out = reinterpret_cast<uint8_t*>(target);
  const size_t rowBytes = static_cast<size_t>(W) * 4;

  for (int32_t i = 0; i < targetHeight; ++i) {
    const double y = i * sy;
    int32_t y0 = static_cast<int32_t>(y);
    if (y0 > H - 1) y0 = H - 1;
    const double fy = y - y0;
    const bool lastRow = y0 + 1 >= H;
    const uint8_t* r0 = src + static_cast<size_t>(y0) * rowBytes;
    const uint8_t* r1 = lastRow ? r0 : r0 + rowBytes;
    for (int32_t j = 0; j < targetWidth; ++j) {
      if (cancel && *cancel) return false;
      const double x = j * sx;
      int32_t x0 = static_cast<int32_t>(x);
      if (x0 > W - 1) x0 = W - 1;
      const double fx = x - x0;
      const bool lastColumn = x0 + 1 >= W;
      const uint8_t* a = r0 + static_cast<size_t>(x0) * 4;  // S[y0][x0]
      const uint8_t* c = r1 + static_cast<size_t>(x0) * 4;  // S[y0+1][x0]
      for (int k = 0; k < 4; ++k) {
        double v;
        if (!lastColumn && !lastRow)
          v = (1 - fy) * ((1 - fx) * a[k] + fx * a[4 + k]) + fy * ((1 - fx) * c[k] + fx * c[4 + k]);
        else if (lastColumn && !lastRow)
          v = (1 - fy) * a[k] + fy * c[k];
        else if (lastColumn)
          v = a[k];
        else
          v = (1 - fx) * a[k] + fx * a[4 + k];
        *out++ = toByte(v);
      }
      out[-1] = out[-1] >= 128 ? 255 : 0;
    }
  }
  return true;
}

}  // namespace image
