// The native bitmap buffer: plain memory behind a MemorySurface.
#include <new>

#include "image/DibImage.h"
#include "image/MemorySurface.h"
#include "platform/Memory.h"

namespace image {

DeviceContext DibImage::create(WindowHandle, int32_t w, int32_t h, int32_t orient) {
  if (!prepare(w, h, orient)) return nullptr;
  // Zeroed like a DIB section.
  pixels = static_cast<uint32_t*>(platform::allocateLarge(static_cast<size_t>(byteSize)));
  auto* surface = new (std::nothrow) MemorySurface();
  if (!pixels || !surface) {
    delete surface;
    release();
    return nullptr;
  }
  surface->width = width;
  surface->height = height;
  surface->orientation = orientation;
  surface->pixels = pixels;
  bitmap_ = surface;
  deviceContext = surface;
  return deviceContext;
}

void DibImage::release() {
  delete static_cast<MemorySurface*>(bitmap_);
  platform::releaseLarge(pixels, static_cast<size_t>(byteSize));
  forget();
}

bool drawBmp(DibImage& target, const BmpFile& bmp) {
  if (!target.pixels || target.width != bmp.width || target.height != bmp.height) return false;
  convertBmp(bmp, target.orientation, target.pixels);
  return true;
}

}  // namespace image
