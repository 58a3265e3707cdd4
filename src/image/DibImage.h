// The 32-bit bitmap buffer. On Windows it is a DIB section selected into a
// memory device context, so that GDI and DrawDib can draw into it and the
// codec library can read it back; natively the "device context" is a
// MemorySurface over the same pixel memory.
#pragma once
#include <cstdint>

#include "image/BmpFile.h"

namespace image {

using DeviceContext = void*;  // HDC on Windows
using WindowHandle = void*;   // HWND on Windows

class DibImage {
 public:
  DibImage() = default;
  ~DibImage() { release(); }
  DibImage(const DibImage&) = delete;
  DibImage& operator=(const DibImage&) = delete;

  // Makes a width × height buffer; orientation 1 stores the bottom row first,
  // -1 the top row first. Releases what was there. Returns the device
  // context, or nullptr (the failure noted when it cannot be reserved).
  DeviceContext create(WindowHandle window, int32_t width, int32_t height, int32_t orientation);
  void release();

  // The pixel in picture row `row` (0 = top), whatever the orientation.
  uint32_t* rowPointer(int32_t row) const {
    return pixels + static_cast<int64_t>(orientation == -1 ? row : height - 1 - row) * width;
  }

  DeviceContext deviceContext = nullptr;
  BitmapInfoHeader* header = nullptr;
  uint32_t* pixels = nullptr;
  int32_t byteSize = 0;
  int32_t pixelCount = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t orientation = 1;

 private:
  // The portable part of create: releases, checks the size, fills the header.
  bool prepare(int32_t width, int32_t height, int32_t orientation);
  // The portable part of release: frees the header and clears every field,
  // once the platform's part has freed the pixels and the bitmap.
  void forget();

  void* bitmap_ = nullptr;     // HBITMAP, or the MemorySurface natively
  void* oldBitmap_ = nullptr;  // what the memory device context held before
};

// A DibImage filled from a ".bmp" or ".jpg" file.
class DibPicture : public DibImage {
 public:
  // Loads the file by its extension (compared in lower case); false when it
  // cannot be read, is rejected, or has another extension.
  bool load(WindowHandle window, const char* path, int32_t orientation);
  // Releases the picture if one is loaded.
  void release();

  DeviceContext loaded = nullptr;
  int32_t pictureWidth = 0;
  int32_t pictureHeight = 0;
  int32_t requestedOrientation = -1;

 private:
  bool loadBmp(WindowHandle window, const char* path);
  bool loadJpeg(WindowHandle window, const char* path);
  bool makeBuffer(WindowHandle window, int32_t width, int32_t height);
};

// Draws a checked BMP at full size into the buffer (StretchDIBits on Windows,
// convertBmp natively). The buffer has the BMP's size.
bool drawBmp(DibImage& target, const BmpFile& bmp);

}  // namespace image
