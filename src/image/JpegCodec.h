// The JPEG codec over libjpeg-turbo: 32-bit pixels (blue, green, red, fourth
// byte) to a JPEG stream and back. Used by Imgvane.dll and by the native
// stand-in of its functions.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace image {
namespace jpeg {

// Encodes width × height pixels. `topRow` points at the picture's top row and
// rows follow each other `rowStep` pixels apart (negative for a picture stored
// bottom row first). Quality is clamped to 1…100; from 90 on the colour is not
// subsampled. Returns false on bad sizes or a codec error.
//
// A picture of kBandedPixels or more is encoded as two bands on two
// processors (when there are two and `maxBands` allows) and the bands joined
// at a restart marker: the stream decodes to exactly the pixels of a stream
// encoded in one piece.
constexpr int64_t kBandedPixels = 1 << 18;
bool encode(const uint32_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height, int quality,
            std::vector<uint8_t>* stream, int maxBands = 2);

// The memory of a decoded picture: 8 bytes (width, height as i32) followed by
// width × height pixels, obtained from `allocate` and released with `release`
// when decoding fails.
struct BlockMemory {
  void* (*allocate)(size_t bytes);
  void (*release)(void* block);
};

// Largest picture decoded, in pixels (its block must fit a signed 32-bit size).
constexpr int64_t kMaxDecodedPixels = (0x7FFFFFFF - 8) / 4;

// Decodes a JPEG stream into a block as above, rows top first (orientation -1)
// or bottom first (1). Grey, YCbCr, RGB, CMYK and YCCK streams are read.
// Returns nullptr for a stream the codec cannot read or a picture larger than
// `maxPixels`. A large picture in one scan is decoded in two bands side by
// side when there are two processors and `maxBands` allows.
void* decodeToBlock(const uint8_t* data, size_t size, int32_t orientation, const BlockMemory& memory,
                    int64_t maxPixels = kMaxDecodedPixels, int maxBands = 2);

// The same for a file named by a Shift_JIS path.
void* decodeFileToBlock(const char* path, int32_t orientation, const BlockMemory& memory);

// Writes a stream to a file through a temporary file beside it, which
// `replace` then moves over the file (an atomic rename, without flushing to
// disk): an existing file is either replaced whole or left as it was.
using ReplaceFile = bool (*)(const char* from, const char* to);
bool writeStream(const char* path, const std::vector<uint8_t>& stream, ReplaceFile replace);

}  // namespace jpeg
}  // namespace image
