// Natively the codec is linked in: the three functions of Imgvane run the
// same code as the library, with MemorySurfaces for device contexts.
#include <cstdio>
#include <cstdlib>

#include "image/Imgvane.h"
#include "image/JpegCodec.h"
#include "image/MemorySurface.h"
#include "platform/File.h"
#include "platform/Memory.h"

namespace image {
namespace imgvane {
namespace {

bool encodeSurface(DeviceContext dc, int32_t width, int32_t height, int32_t quality, std::vector<uint8_t>* stream) {
  auto* s = static_cast<const MemorySurface*>(dc);
  if (!s || s->magic != MemorySurface::kMagic || width <= 0 || height <= 0 || width > s->width ||
      height > s->height)
    return false;
  // The picture's top row, and the step from one row to the next below it.
  const ptrdiff_t step = s->orientation == -1 ? s->width : -static_cast<ptrdiff_t>(s->width);
  const uint32_t* top = s->orientation == -1 ? s->pixels : s->pixels + static_cast<ptrdiff_t>(s->height - 1) * s->width;
  return jpeg::encode(top, step, width, height, quality, stream);
}

bool renameOver(const char* from, const char* to) {
  return std::rename(platform::nativePath(from).c_str(), platform::nativePath(to).c_str()) == 0;
}

// A decoded block is large: it comes from platform::allocateLarge, its size
// kept just before it.
constexpr size_t kBlockPrefix = 16;

void* allocateBlock(size_t bytes) {
  auto* base = static_cast<uint8_t*>(platform::allocateLarge(bytes + kBlockPrefix));
  if (!base) return nullptr;
  *reinterpret_cast<size_t*>(base) = bytes + kBlockPrefix;
  return base + kBlockPrefix;
}

void releaseBlock(void* block) {
  if (!block) return;
  auto* base = static_cast<uint8_t*>(block) - kBlockPrefix;
  platform::releaseLarge(base, *reinterpret_cast<size_t*>(base));
}

}  // namespace

bool save24(const char* path, DeviceContext dc, int32_t width, int32_t height, int32_t quality) {
  std::vector<uint8_t> stream;
  return encodeSurface(dc, width, height, quality, &stream) && jpeg::writeStream(path, stream, renameOver);
}

void Load32Block::reset() {
  releaseBlock(block_);
  block_ = nullptr;
}

bool load32(const char* path, int32_t orientation, Load32Block* block) {
  block->reset();
  block->block_ = jpeg::decodeFileToBlock(path, orientation, jpeg::BlockMemory{allocateBlock, releaseBlock});
  return block->block_ && block->width() > 0 && block->height() > 0;
}

bool getJstream(DeviceContext dc, int32_t width, int32_t height, int32_t quality, std::vector<uint8_t>* stream) {
  stream->clear();
  return encodeSurface(dc, width, height, quality, stream) && !stream->empty();
}

}  // namespace imgvane
}  // namespace image
