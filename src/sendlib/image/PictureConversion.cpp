#include "sendlib/image/PictureConversion.h"

#include <cstring>

#include "image/BmpFile.h"
#include "image/Imgvane.h"
#include "image/Pixels.h"
#include "sendlib/Attachment.h"

namespace sendlib {
namespace {

constexpr int32_t kTopDown = -1;

bool loadBmp(const std::string& path, image::DibImage* picture) {
  image::BmpFile bmp;
  return image::readBmpFile(path.c_str(), &bmp) &&
         picture->create(nullptr, bmp.width, bmp.height, kTopDown) && image::drawBmp(*picture, bmp);
}

bool loadJpeg(const std::string& path, image::DibImage* picture) {
  image::imgvane::Load32Block block;  // releases the block and the library
  if (!image::imgvane::load32(path.c_str(), kTopDown, &block)) return false;
  if (!picture->create(nullptr, block.width(), block.height(), kTopDown)) return false;
  std::memcpy(picture->pixels, block.pixels(), static_cast<size_t>(picture->byteSize));
  return true;
}

}  // namespace

bool loadPicture(const std::string& path, image::DibImage* picture) {
  picture->release();
  const std::string extension = lowerExtension(path);
  if (extension == ".bmp") return loadBmp(path, picture);
  if (extension == ".jpg") return loadJpeg(path, picture);
  return false;
}

int32_t targetHeight(int32_t width, int32_t sourceWidth, int32_t sourceHeight) {
  if (width <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return 0;
  const double height = static_cast<double>(width) * sourceHeight / sourceWidth;
  // A buffer too large for the bitmap buffer's signed size is refused here,
  // before the buffer would warn about it.
  if (static_cast<double>(width) * static_cast<int64_t>(height) * 4 > image::kMaxBmpBufferBytes) return 0;
  return static_cast<int32_t>(height);
}

bool scalePicture(const image::DibImage& source, int32_t width, image::DibImage* target) {
  const int32_t height = targetHeight(width, source.width, source.height);
  if (width < 2 || height < 2 || !source.pixels) return false;
  if (!target->create(nullptr, width, height, kTopDown)) return false;
  const volatile bool cancel = false;  // nothing cancels a send
  return image::scaleBilinear(target->pixels, width, height, source.pixels, source.width, source.height,
                              &cancel);
}

bool convertPicture(const std::string& path, int32_t width, int32_t quality, std::vector<uint8_t>* jpeg) {
  jpeg->clear();
  if (quality < 0 || quality > 100) return false;
  image::DibImage target;
  {
    image::DibImage source;
    if (!loadPicture(path, &source) || !scalePicture(source, width, &target)) return false;
  }
  return image::imgvane::getJstream(target.deviceContext, target.width, target.height, quality, jpeg);
}

}  // namespace sendlib
