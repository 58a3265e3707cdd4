// The JPEG codec library Imgvane, loaded by name for each call and freed
// afterwards. A missing library or function makes the call fail. Natively the
// same codec is called directly and device contexts are MemorySurfaces.
#pragma once
#include <cstdint>
#include <vector>

#include "image/DibImage.h"

namespace image {
namespace imgvane {

// Writes the width × height picture of `dc` to `path` as a JPEG file.
bool save24(const char* path, DeviceContext dc, int32_t width, int32_t height, int32_t quality);

// A picture decoded by "load32"; the block and the library are released when
// the object goes.
class Load32Block {
 public:
  Load32Block() = default;
  ~Load32Block() { reset(); }
  Load32Block(const Load32Block&) = delete;
  Load32Block& operator=(const Load32Block&) = delete;

  int32_t width() const { return block_ ? static_cast<const int32_t*>(block_)[0] : 0; }
  int32_t height() const { return block_ ? static_cast<const int32_t*>(block_)[1] : 0; }
  const uint32_t* pixels() const {
    return block_ ? reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(block_) + 8) : nullptr;
  }
  void reset();

 private:
  friend bool load32(const char*, int32_t, Load32Block*);
  void* block_ = nullptr;
  void* library_ = nullptr;
};

// Decodes a JPEG file, rows in `orientation` order. False (and an empty
// block) when the library or function is missing or decoding failed.
bool load32(const char* path, int32_t orientation, Load32Block* block);

// Encodes the width × height picture of `dc` into a JPEG stream in memory.
bool getJstream(DeviceContext dc, int32_t width, int32_t height, int32_t quality, std::vector<uint8_t>* stream);

}  // namespace imgvane
}  // namespace image
