// Imgvane.dll: the JPEG codec library of the program and of Postrix. Three
// stdcall functions, found by name; memory blocks come from GlobalAlloc and
// are freed by the caller with GlobalFree.
#include <windows.h>

#include <cstring>
#include <vector>

#include "image/JpegCodec.h"
#include "platform/Text.h"

namespace {

// Copies the width × height picture of `dc` into a top-down 32-bit DIB
// section (whatever the device context holds) and encodes it.
bool encodePicture(HDC dc, int width, int height, int quality, std::vector<uint8_t>* stream) {
  if (!dc || width <= 0 || height <= 0 || width > 65500 || height > 65500) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return false;
  bool ok = false;
  if (HDC memoryDc = CreateCompatibleDC(dc)) {
    HGDIOBJ old = SelectObject(memoryDc, bitmap);
    if (BitBlt(memoryDc, 0, 0, width, height, dc, 0, 0, SRCCOPY)) {
      GdiFlush();
      ok = image::jpeg::encode(static_cast<const uint32_t*>(bits), width, width, height, quality, stream);
    }
    SelectObject(memoryDc, old);
    DeleteDC(memoryDc);
  }
  DeleteObject(bitmap);
  return ok;
}

bool renameOver(const char* from, const char* to) {
  return MoveFileExW(platform::toWide(from).c_str(), platform::toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void* allocateBlock(size_t bytes) { return GlobalAlloc(GMEM_FIXED, bytes); }
void releaseBlock(void* block) { GlobalFree(static_cast<HGLOBAL>(block)); }

}  // namespace

extern "C" {

// Writes the picture of `dc` to `path` as a JPEG file; non-zero on success.
// An existing file is replaced only by a complete new one.
int WINAPI save24(const char* path, HDC dc, int width, int height, int quality) {
  try {
    std::vector<uint8_t> stream;
    return encodePicture(dc, width, height, quality, &stream) && image::jpeg::writeStream(path, stream, renameOver) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// Decodes a JPEG file: width, height (i32 each), then width × height 32-bit
// pixels, bottom row first (orientation 1) or top row first (-1). NULL when
// the file cannot be read or decoded.
HGLOBAL WINAPI load32(const char* path, int orientation) {
  if (!path) return nullptr;
  try {
    return static_cast<HGLOBAL>(
        image::jpeg::decodeFileToBlock(path, orientation, image::jpeg::BlockMemory{allocateBlock, releaseBlock}));
  } catch (...) {
    return nullptr;
  }
}

// Encodes the picture of `dc` into a JPEG stream of *byteCount bytes; NULL
// and a count of 0 on failure.
HGLOBAL WINAPI GetJstream(HDC dc, int width, int height, int quality, int* byteCount) {
  if (byteCount) *byteCount = 0;
  try {
    std::vector<uint8_t> stream;
    if (!byteCount || !encodePicture(dc, width, height, quality, &stream) || stream.empty()) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, stream.size());
    if (!block) return nullptr;
    std::memcpy(block, stream.data(), stream.size());
    *byteCount = static_cast<int>(stream.size());
    return block;
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
