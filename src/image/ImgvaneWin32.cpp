// Imgvane.dll, loaded by name for each call with LoadLibraryA and freed after it.
#include <windows.h>

#include <cstring>

#include "image/Imgvane.h"

namespace image {
namespace imgvane {
namespace {

using Save24 = int(WINAPI*)(const char*, HDC, int, int, int);
using Load32 = HGLOBAL(WINAPI*)(const char*, int);
using GetJstream = HGLOBAL(WINAPI*)(HDC, int, int, int, int*);

class Library {
 public:
  Library() : module_(LoadLibraryA("Imgvane")) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <typename F>
  F function(const char* name) const {
    return module_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
  }
  HMODULE release() {
    HMODULE m = module_;
    module_ = nullptr;
    return m;
  }

 private:
  HMODULE module_;
};

}  // namespace

bool save24(const char* path, DeviceContext dc, int32_t width, int32_t height, int32_t quality) {
  Library library;
  auto fn = library.function<Save24>("save24");
  return fn && fn(path, static_cast<HDC>(dc), width, height, quality) != 0;
}

void Load32Block::reset() {
  if (block_) GlobalFree(static_cast<HGLOBAL>(block_));
  if (library_) FreeLibrary(static_cast<HMODULE>(library_));
  block_ = library_ = nullptr;
}

bool load32(const char* path, int32_t orientation, Load32Block* block) {
  block->reset();
  Library library;
  auto fn = library.function<Load32>("load32");
  if (!fn) return false;
  HGLOBAL result = fn(path, orientation);
  if (!result) return false;
  // The block is freed before the library that made it.
  block->block_ = result;
  block->library_ = library.release();
  if (block->width() > 0 && block->height() > 0) return true;
  block->reset();
  return false;
}

bool getJstream(DeviceContext dc, int32_t width, int32_t height, int32_t quality, std::vector<uint8_t>* stream) {
  stream->clear();
  Library library;
  auto fn = library.function<GetJstream>("GetJstream");
  if (!fn) return false;
  int count = 0;
  HGLOBAL result = fn(static_cast<HDC>(dc), width, height, quality, &count);
  if (!result) return false;
  bool ok = count > 0 && static_cast<SIZE_T>(count) <= GlobalSize(result);
  if (ok) {
    const uint8_t* data = static_cast<const uint8_t*>(result);
    stream->assign(data, data + count);
  }
  GlobalFree(result);
  return ok;
}

}  // namespace imgvane
}  // namespace image
