// The portable parts of the bitmap buffer and the loading of its pictures.
#include <cstring>
#include <new>
#include <string>

#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "image/JpegAnalyzer.h"
#include "image/ImageFailure.h"

namespace image {
namespace {
const char kNoBuffer[] = "32Bitバッファ確保ができません。";
}  // namespace

bool DibImage::prepare(int32_t w, int32_t h, int32_t orient) {
  release();
  orientation = orient == -1 ? -1 : 1;
  if (w <= 0 || h <= 0) return false;
  if (static_cast<int64_t>(w) * h * 4 > kMaxBmpBufferBytes) {
    noteFailure(kNoBuffer);
    return false;
  }
  width = w;
  height = h;
  pixelCount = w * h;
  byteSize = pixelCount * 4;
  header = new (std::nothrow) BitmapInfoHeader();
  if (!header) {
    noteFailure(kNoBuffer);
    release();
    return false;
  }
  header->size = sizeof(BitmapInfoHeader);
  header->width = w;
  header->height = h * orientation;
  header->planes = 1;
  header->bitCount = 32;
  header->compression = kBiRgb;
  return true;
}

void DibImage::forget() {
  delete header;
  bitmap_ = oldBitmap_ = nullptr;
  deviceContext = nullptr;
  header = nullptr;
  pixels = nullptr;
  byteSize = pixelCount = width = height = 0;
}

void DibPicture::release() {
  DibImage::release();
  loaded = nullptr;
  pictureWidth = pictureHeight = 0;
}

bool DibPicture::load(WindowHandle window, const char* path, int32_t orientation) {
  requestedOrientation = orientation == -1 ? -1 : 1;
  if (!path) return false;
  const char* dot = std::strrchr(path, '.');
  if (!dot) return false;
  std::string extension(dot + 1);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (extension == "bmp") return loadBmp(window, path);
  if (extension == "jpg") return loadJpeg(window, path);
  return false;
}

// Keeps a buffer of the same size and row order; makes a new one otherwise.
bool DibPicture::makeBuffer(WindowHandle window, int32_t w, int32_t h) {
  if (deviceContext && width == w && height == h && orientation == requestedOrientation) return true;
  loaded = nullptr;
  return create(window, w, h, requestedOrientation) != nullptr;
}

bool DibPicture::loadBmp(WindowHandle window, const char* path) {
  BmpFile bmp;
  if (!readBmpFile(path, &bmp)) return false;
  if (!makeBuffer(window, bmp.width, bmp.height)) return false;
  if (!drawBmp(*this, bmp)) return false;
  loaded = deviceContext;
  pictureWidth = bmp.width;
  pictureHeight = bmp.height;
  return true;
}

bool DibPicture::loadJpeg(WindowHandle window, const char* path) {
  if (validateJpegFile(path) == 0) return false;
  imgvane::Load32Block block;
  if (!imgvane::load32(path, requestedOrientation, &block)) return false;
  const int32_t w = block.width(), h = block.height();
  if (w <= 0 || h <= 0) return false;
  if (!makeBuffer(window, w, h)) return false;
  std::memcpy(pixels, block.pixels(), static_cast<size_t>(byteSize));
  loaded = deviceContext;
  pictureWidth = w;
  pictureHeight = h;
  return true;
}

}  // namespace image
