// The picture conversion of the image-attaching edition: a ".bmp" or ".jpg"
// file is loaded into a 32-bit top-down bitmap, scaled bilinearly to the
// requested width and encoded as a JPEG stream by Imgvane.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/DibImage.h"

namespace sendlib {

// Loads the picture by the lower-cased extension of `path`: ".bmp" through
// the bitmap buffer's BMP reader, ".jpg" through Imgvane "load32". The
// buffer is made anew, rows top first. False for any other extension and
// for a picture that cannot be read.
bool loadPicture(const std::string& path, image::DibImage* picture);

// The target's height for `width`: width × source height ÷ source width,
// truncated; 0 when the width is not positive or the result does not fit a
// buffer.
int32_t targetHeight(int32_t width, int32_t sourceWidth, int32_t sourceHeight);

// Scales `source` into a new buffer `width` pixels wide. Both sizes of the
// target must be at least 2 (the scaling divides by size − 1).
bool scalePicture(const image::DibImage& source, int32_t width, image::DibImage* target);

// The whole conversion; `jpeg` receives the stream. False for a quality
// outside 0 to 100 and on every failure of the steps above or the encoder.
bool convertPicture(const std::string& path, int32_t width, int32_t quality, std::vector<uint8_t>* jpeg);

}  // namespace sendlib
