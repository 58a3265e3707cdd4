// Pixel work over plain arrays of 32-bit pixels (blue, green, red, fourth byte).
#pragma once
#include <cstdint>

namespace image {

// Turns a picture by 90 degrees: the source pixel in row i, column j goes to
// row width-1-j, column i of the target, which is height pixels wide and
// width rows high. With rows stored top first this is counter-clockwise.
void rotate90(uint32_t* target, const uint32_t* source, int32_t width, int32_t height);

// Bilinear scaling, rows top first; the corner pixels of source and target
// coincide. The fourth byte of each target pixel ends as 255 (>= 128) or 0.
// `cancel`, when given, is examined before every target pixel. Returns false
// when cancelled or when a size is below 1 (source) or 2 (target), where the
// step between target pixels is undefined.
bool scaleBilinear(uint32_t* target, int32_t targetWidth, int32_t targetHeight,
                   const uint32_t* source, int32_t sourceWidth, int32_t sourceHeight,
                   const volatile bool* cancel = nullptr);

}  // namespace image
