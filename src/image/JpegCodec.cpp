#include "image/JpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/File.h"

namespace image {
namespace jpeg {
namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to the setjmp of the function that drives the codec. Those
// functions hold no C++ objects that need destroying.
struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
};

void onError(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void onOutput(j_common_ptr) {}

void installErrors(ErrorManager* err, jpeg_error_mgr** slot) {
  *slot = jpeg_std_error(&err->base);
  err->base.error_exit = onError;
  err->base.output_message = onOutput;
}

// A destination that grows a malloc'ed buffer it owns, so that nothing is
// lost when the codec gives up half way.
struct GrowingDestination {
  jpeg_destination_mgr base;
  unsigned char* data = nullptr;
  size_t capacity = 0;
  size_t used = 0;
};

void initDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDestination*>(cinfo->dest);
  d->base.next_output_byte = d->data;
  d->base.free_in_buffer = d->capacity;
}

boolean emptyDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDestination*>(cinfo->dest);
  size_t bigger = d->capacity * 2;
  auto* p = static_cast<unsigned char*>(std::realloc(d->data, bigger));
  if (!p) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  d->used = d->capacity;
  d->data = p;
  d->capacity = bigger;
  d->base.next_output_byte = p + d->used;
  d->base.free_in_buffer = bigger - d->used;
  return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<GrowingDestination*>(cinfo->dest);
  d->used = d->capacity - d->base.free_in_buffer;
}

bool encodeRaw(const uint32_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height, int quality,
               GrowingDestination* dest) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  installErrors(&err, &cinfo.err);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  dest->base.init_destination = initDestination;
  dest->base.empty_output_buffer = emptyDestination;
  dest->base.term_destination = termDestination;
  cinfo.dest = &dest->base;

  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (quality >= 90) {
    for (int c = 0; c < cinfo.num_components; ++c) {
      cinfo.comp_info[c].h_samp_factor = 1;
      cinfo.comp_info[c].v_samp_factor = 1;
    }
  }
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPROW rows[16];
  while (cinfo.next_scanline < cinfo.image_height) {
    JDIMENSION n = cinfo.image_height - cinfo.next_scanline;
    if (n > 16) n = 16;
    for (JDIMENSION k = 0; k < n; ++k) {
      const uint32_t* row = topRow + static_cast<ptrdiff_t>(cinfo.next_scanline + k) * rowStep;
      rows[k] = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(row));
    }
    jpeg_write_scanlines(&cinfo, rows, n);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

inline uint32_t cmykToBgrx(const uint8_t* p, bool inverted) {
  unsigned c = p[0], m = p[1], y = p[2], k = p[3];
  if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
  // Adobe's files store the inks inverted: 255 is no ink.
  uint32_t r = c * k / 255, g = m * k / 255, b = y * k / 255;
  return b | (g << 8) | (r << 16) | 0xFF000000u;
}

void* decodeRaw(const uint8_t* data, size_t size, int32_t orientation, const BlockMemory& memory,
                int64_t maxPixels) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  void* volatile block = nullptr;
  installErrors(&err, &cinfo.err);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    if (block) memory.release(block);
    return nullptr;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
  const int64_t w = cinfo.image_width, h = cinfo.image_height;
  if (w <= 0 || h <= 0 || w * h > maxPixels) {
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  block = memory.allocate(8 + static_cast<size_t>(w * h * 4));
  if (!block) {
    jpeg_destroy_decompress(&cinfo);
    return nullptr;
  }
  int32_t* dims = static_cast<int32_t*>(block);
  dims[0] = static_cast<int32_t>(w);
  dims[1] = static_cast<int32_t>(h);
  uint32_t* pixels = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(block) + 8);

  jpeg_start_decompress(&cinfo);
  JSAMPARRAY cmykRow = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                        static_cast<JDIMENSION>(w * 4), 1)
                            : nullptr;
  const bool inverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    const int64_t r = cinfo.output_scanline;
    uint32_t* out = pixels + (orientation == 1 ? h - 1 - r : r) * w;
    if (cmyk) {
      jpeg_read_scanlines(&cinfo, cmykRow, 1);
      for (int64_t x = 0; x < w; ++x) out[x] = cmykToBgrx(cmykRow[0] + x * 4, inverted);
    } else {
      JSAMPROW row = reinterpret_cast<JSAMPROW>(out);
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return block;
}

}  // namespace

bool encode(const uint32_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height, int quality,
            std::vector<uint8_t>* stream) {
  if (!topRow || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    return false;
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  GrowingDestination dest;
  dest.capacity = static_cast<size_t>(width) * static_cast<size_t>(height) + 65536;
  dest.data = static_cast<unsigned char*>(std::malloc(dest.capacity));
  if (!dest.data) return false;
  bool ok = encodeRaw(topRow, rowStep, width, height, quality, &dest);
  if (ok) {
    try {
      stream->assign(dest.data, dest.data + dest.used);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  std::free(dest.data);
  return ok;
}

void* decodeToBlock(const uint8_t* data, size_t size, int32_t orientation, const BlockMemory& memory,
                    int64_t maxPixels) {
  if (!data || size == 0 || size > 0x7FFFFFFF) return nullptr;
  if (maxPixels > kMaxDecodedPixels) maxPixels = kMaxDecodedPixels;
  return decodeRaw(data, size, orientation, memory, maxPixels);
}

void* decodeFileToBlock(const char* path, int32_t orientation, const BlockMemory& memory) {
  int64_t size = platform::fileSize(path);
  if (size <= 0 || size > 0x7FFFFFFF) return nullptr;
  uint8_t* data = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  if (!data) return nullptr;
  FILE* f = platform::openFile(path, "rb");
  bool read = f && std::fread(data, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
  if (f) std::fclose(f);
  void* block = read ? decodeToBlock(data, static_cast<size_t>(size), orientation, memory) : nullptr;
  std::free(data);
  return block;
}

bool writeStream(const char* path, const std::vector<uint8_t>& stream, ReplaceFile replace) {
  if (!path || !*path) return false;
  const std::string temporary = std::string(path) + ".part";
  FILE* f = platform::openFile(temporary.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(stream.data(), 1, stream.size(), f) == stream.size();
  if (std::fclose(f) != 0) ok = false;
  if (ok) ok = replace(temporary.c_str(), path);
  if (!ok) platform::removeFile(temporary.c_str());
  return ok;
}

}  // namespace jpeg
}  // namespace image
