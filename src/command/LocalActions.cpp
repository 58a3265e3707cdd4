#include "command/LocalActions.h"

#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "image/Pixels.h"
#include "platform/File.h"

namespace command {

int32_t scaledHeight(int32_t targetWidth, int32_t width, int32_t height) {
  if (width <= 0) return 0;
  return static_cast<int32_t>(static_cast<double>(targetWidth) / width * height);
}

bool rotatePictureFile(const char* path) {
  if (!platform::fileExists(path)) return false;
  image::DibPicture source;
  if (!source.load(nullptr, path, -1)) return false;
  const int32_t w = source.pictureWidth, h = source.pictureHeight;
  image::DibImage target;
  if (!target.create(nullptr, h, w, -1)) return false;
  image::rotate90(target.pixels, source.pixels, w, h);
  return image::imgvane::save24(path, target.deviceContext, h, w, 100);
}

}  // namespace command
