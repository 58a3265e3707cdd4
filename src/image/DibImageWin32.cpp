// The Windows bitmap buffer: a DIB section in a memory device context.
#include <windows.h>

#include <cstring>
#include <vector>

#include "image/DibImage.h"

namespace image {

DeviceContext DibImage::create(WindowHandle window, int32_t w, int32_t h, int32_t orient) {
  if (!prepare(w, h, orient)) return nullptr;
  HWND hwnd = static_cast<HWND>(window);
  HDC windowDc = GetDC(hwnd);
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(windowDc, reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memoryDc = bitmap ? CreateCompatibleDC(windowDc) : nullptr;
  if (windowDc) ReleaseDC(hwnd, windowDc);
  if (!bitmap || !memoryDc || !bits) {
    if (memoryDc) DeleteDC(memoryDc);
    if (bitmap) DeleteObject(bitmap);
    release();
    return nullptr;
  }
  oldBitmap_ = SelectObject(memoryDc, bitmap);
  bitmap_ = bitmap;
  pixels = static_cast<uint32_t*>(bits);
  deviceContext = memoryDc;
  return deviceContext;
}

void DibImage::release() {
  if (deviceContext) {
    HDC dc = static_cast<HDC>(deviceContext);
    if (oldBitmap_) SelectObject(dc, static_cast<HGDIOBJ>(oldBitmap_));
    DeleteDC(dc);
  }
  if (bitmap_) DeleteObject(static_cast<HGDIOBJ>(bitmap_));
  forget();
}

bool drawBmp(DibImage& target, const BmpFile& bmp) {
  if (!target.deviceContext || target.width != bmp.width || target.height != bmp.height) return false;
  // GDI reads the colour table by the header's colour count: give it the
  // count the reader checked against the stored table.
  std::vector<uint8_t> info(bmp.info);
  if (bmp.header.bitCount <= 8) {
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), sizeof h);
    h.clrUsed = bmp.paletteColours;
    std::memcpy(info.data(), &h, sizeof h);
  }
  int lines = StretchDIBits(static_cast<HDC>(target.deviceContext), 0, 0, bmp.width, bmp.height, 0, 0, bmp.width,
                            bmp.height, bmp.pixelData.data(), reinterpret_cast<const BITMAPINFO*>(info.data()),
                            DIB_RGB_COLORS, SRCCOPY);
  GdiFlush();
  return lines != 0 && lines != static_cast<int>(GDI_ERROR);
}

}  // namespace image
