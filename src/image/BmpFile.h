// Reading ".bmp" files: the headers are checked so that nothing a file says
// about sizes, offsets, bit count or colours can make a read or a later
// conversion go outside its buffers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace image {

#pragma pack(push, 1)
struct BmpFileHeader {
  char type[2];
  uint32_t fileSize;
  uint16_t reserved1;
  uint16_t reserved2;
  uint32_t pixelOffset;
};
struct BitmapInfoHeader {
  uint32_t size;
  int32_t width;
  int32_t height;
  uint16_t planes;
  uint16_t bitCount;
  uint32_t compression;
  uint32_t sizeImage;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t clrUsed;
  uint32_t clrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BmpFileHeader) == 14, "BmpFileHeader");
static_assert(offsetof(BmpFileHeader, fileSize) == 2 && offsetof(BmpFileHeader, reserved1) == 6 &&
                  offsetof(BmpFileHeader, reserved2) == 8 && offsetof(BmpFileHeader, pixelOffset) == 10,
              "BmpFileHeader offsets");
static_assert(sizeof(BitmapInfoHeader) == 40, "BitmapInfoHeader");
static_assert(offsetof(BitmapInfoHeader, width) == 4 && offsetof(BitmapInfoHeader, height) == 8 &&
                  offsetof(BitmapInfoHeader, planes) == 12 && offsetof(BitmapInfoHeader, bitCount) == 14 &&
                  offsetof(BitmapInfoHeader, compression) == 16 && offsetof(BitmapInfoHeader, sizeImage) == 20 &&
                  offsetof(BitmapInfoHeader, xPelsPerMeter) == 24 &&
                  offsetof(BitmapInfoHeader, yPelsPerMeter) == 28 && offsetof(BitmapInfoHeader, clrUsed) == 32 &&
                  offsetof(BitmapInfoHeader, clrImportant) == 36,
              "BitmapInfoHeader offsets");

enum : uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3 };

struct PaletteEntry {
  uint8_t red, green, blue, flags;
};

// A ".bmp" held in memory while it is drawn into a 32-bit buffer.
struct BmpFile {
  std::vector<uint8_t> info;       // information header and colour table as stored
  std::vector<uint8_t> pixelData;  // the rows, exactly height × stride bytes (run-length data expanded)
  BitmapInfoHeader header{};
  int32_t width = 0;
  int32_t height = 0;  // absolute value of the stored height
  bool topDown = false;
  size_t stride = 0;              // bytes per stored row
  size_t colourTableOffset = 0;   // into `info`
  uint32_t paletteColours = 0;
  std::vector<PaletteEntry> palette;
  uint32_t masks[3] = {};         // red, green, blue for 16 and 32 bits
};

// Largest picture accepted: its 32-bit buffer must fit a signed 32-bit size.
constexpr int64_t kMaxBmpBufferBytes = 0x7FFFFFFF;

// Reads and checks a BMP; a lack of memory and an unusable bit count are
// noted as failures (image::noteFailure). Other faults fail silently.
bool readBmpFile(const char* path, BmpFile* bmp);
bool readBmp(const uint8_t* data, size_t size, BmpFile* bmp);

// Converts a checked BMP into width × height 32-bit pixels, rows bottom first
// (orientation 1) or top first (-1), as the platform's DIB drawing does.
void convertBmp(const BmpFile& bmp, int32_t orientation, uint32_t* target);

}  // namespace image
