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
#include "platform/Parallel.h"

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
  GrowingDestination() = default;
  GrowingDestination(const GrowingDestination&) = delete;
  GrowingDestination& operator=(const GrowingDestination&) = delete;
  ~GrowingDestination() { std::free(data); }

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

// A band of whole rows of the picture, encoded as a stream of its own.
struct Band {
  Band(const uint32_t* top, int32_t count, unsigned interval) : topRow(top), rows(count), restartInterval(interval) {}

  const uint32_t* topRow;
  int32_t rows;
  unsigned restartInterval;  // MCUs; 0 for none
  GrowingDestination dest;
  bool ok = false;
};

// From quality 90 on the colour is not subsampled and an MCU is 8 × 8 pixels;
// below, the chroma is halved both ways and an MCU is 16 × 16.
int mcuSize(int quality) { return quality >= 90 ? 8 : 16; }

bool encodeBand(ptrdiff_t rowStep, int32_t width, int quality, Band* band) {
  GrowingDestination* dest = &band->dest;
  dest->capacity = static_cast<size_t>(width) * static_cast<size_t>(band->rows) + 65536;
  dest->data = static_cast<unsigned char*>(std::malloc(dest->capacity));
  if (!dest->data) return false;

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
  cinfo.image_height = static_cast<JDIMENSION>(band->rows);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  const int luma = mcuSize(quality) / 8;
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = c == 0 ? luma : 1;
    cinfo.comp_info[c].v_samp_factor = c == 0 ? luma : 1;
  }
  cinfo.restart_interval = band->restartInterval;
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPROW rows[16];
  while (cinfo.next_scanline < cinfo.image_height) {
    JDIMENSION n = cinfo.image_height - cinfo.next_scanline;
    if (n > 16) n = 16;
    for (JDIMENSION k = 0; k < n; ++k) {
      const uint32_t* row = band->topRow + static_cast<ptrdiff_t>(cinfo.next_scanline + k) * rowStep;
      rows[k] = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(row));
    }
    jpeg_write_scanlines(&cinfo, rows, n);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

// The offset of the marker segment `marker` (its 0xFF byte) among the header
// segments of a stream we made, or 0.
size_t findSegment(const GrowingDestination& d, uint8_t marker) {
  size_t at = 2;  // after SOI
  while (at + 4 <= d.used && d.data[at] == 0xFF) {
    if (d.data[at + 1] == marker) return at;
    if (d.data[at + 1] == 0xDA) return 0;  // SOS: the headers end
    at += 2 + (static_cast<size_t>(d.data[at + 2]) << 8 | d.data[at + 3]);
  }
  return 0;
}

// Joins two bands into one stream: the top band's headers (its frame height
// set to the whole picture's) and entropy-coded data, the restart marker RST0,
// then the bottom band's entropy-coded data and EOI. The top band restarts
// exactly once, after its last MCU, and the bottom band has no more MCUs than
// that, so the joined stream is what one encoder with that restart interval
// writes.
bool joinBands(const Band& top, const Band& bottom, int32_t height, std::vector<uint8_t>* stream) {
  const GrowingDestination &a = top.dest, &b = bottom.dest;
  const size_t frame = findSegment(a, 0xC0), scan = findSegment(b, 0xDA);
  if (!frame || frame + 9 > a.used || !scan || scan + 4 > b.used) return false;
  if (a.used < 4 || a.data[a.used - 2] != 0xFF || a.data[a.used - 1] != 0xD9) return false;
  const size_t entropy = scan + 2 + (static_cast<size_t>(b.data[scan + 2]) << 8 | b.data[scan + 3]);
  if (entropy > b.used) return false;
  try {
    stream->clear();
    stream->reserve(a.used + b.used - entropy);
    stream->insert(stream->end(), a.data, a.data + a.used - 2);
    stream->push_back(0xFF);
    stream->push_back(0xD0);
    stream->insert(stream->end(), b.data + entropy, b.data + b.used);
  } catch (const std::bad_alloc&) {
    return false;
  }
  (*stream)[frame + 5] = static_cast<uint8_t>(height >> 8);
  (*stream)[frame + 6] = static_cast<uint8_t>(height);
  return true;
}

bool copyStream(const GrowingDestination& d, std::vector<uint8_t>* stream) {
  try {
    stream->assign(d.data, d.data + d.used);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

inline uint32_t cmykToBgrx(const uint8_t* p, bool inverted) {
  unsigned c = p[0], m = p[1], y = p[2], k = p[3];
  if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
  // Adobe's files store the inks inverted: 255 is no ink.
  uint32_t r = c * k / 255, g = m * k / 255, b = y * k / 255;
  return b | (g << 8) | (r << 16) | 0xFF000000u;
}

// What the headers of a stream say.
struct StreamInfo {
  int64_t width = 0;
  int64_t height = 0;
  bool cmyk = false;
  bool multipleScans = false;
};

// Reads the headers of `data` with a decompressor of its own and runs
// `work` on it. False when the headers cannot be read, the codec gives up
// (its error jumps back here; `work` keeps only plain values), or `work` says
// so.
template <typename Work>
bool withDecompressor(const uint8_t* data, size_t size, Work work) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  installErrors(&err, &cinfo.err);
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  const bool ok = jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK && work(cinfo);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

bool readInfo(const uint8_t* data, size_t size, StreamInfo* info) {
  return withDecompressor(data, size, [info](jpeg_decompress_struct& cinfo) {
    info->width = cinfo.image_width;
    info->height = cinfo.image_height;
    info->cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    info->multipleScans = jpeg_has_multiple_scans(&cinfo);
    return true;
  });
}

// Decodes picture rows firstRow … firstRow + rows - 1 (0 = top) into
// `pixels`, which holds the whole picture in `orientation` row order. The rows
// above the band are entropy-decoded only, which is the cheaper part of the
// work.
bool decodeBand(const uint8_t* data, size_t size, const StreamInfo& info, int32_t orientation,
                uint32_t* pixels, int64_t firstRow, int64_t rows) {
  return withDecompressor(data, size, [&](jpeg_decompress_struct& cinfo) {
    if (cinfo.image_width != info.width || cinfo.image_height != info.height) return false;
    cinfo.out_color_space = info.cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    if (firstRow > 0 && jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(firstRow)) != firstRow) return false;
    const int64_t w = info.width, h = info.height, end = firstRow + rows;
    JSAMPARRAY cmykRow = info.cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                               JPOOL_IMAGE, static_cast<JDIMENSION>(w * 4), 1)
                                   : nullptr;
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < end) {
      const int64_t r = cinfo.output_scanline;
      uint32_t* out = pixels + (orientation == 1 ? h - 1 - r : r) * w;
      if (info.cmyk) {
        jpeg_read_scanlines(&cinfo, cmykRow, 1);
        for (int64_t x = 0; x < w; ++x) out[x] = cmykToBgrx(cmykRow[0] + x * 4, inverted);
      } else {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(out);
        jpeg_read_scanlines(&cinfo, &row, 1);
      }
    }
    // The upper band stops where the lower one begins.
    if (end == h) jpeg_finish_decompress(&cinfo);
    return true;
  });
}

// The share of a picture's rows the upper band takes when two decoders work
// side by side: the lower band's decoder first entropy-decodes the upper rows.
constexpr double kUpperBandShare = 0.7;

void* decodeRaw(const uint8_t* data, size_t size, int32_t orientation, const BlockMemory& memory,
                int64_t maxPixels, int maxBands) {
  StreamInfo info;
  if (!readInfo(data, size, &info)) return nullptr;
  const int64_t w = info.width, h = info.height;
  if (w <= 0 || h <= 0 || w * h > maxPixels) return nullptr;
  void* block = memory.allocate(8 + static_cast<size_t>(w * h * 4));
  if (!block) return nullptr;
  int32_t* dims = static_cast<int32_t*>(block);
  dims[0] = static_cast<int32_t>(w);
  dims[1] = static_cast<int32_t>(h);
  uint32_t* pixels = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(block) + 8);

  // A picture in one scan can be decoded in two bands, one on each processor.
  bool ok;
  if (maxBands >= 2 && w * h >= kBandedPixels && !info.multipleScans && platform::processorCount() >= 2) {
    const int64_t upper = static_cast<int64_t>(static_cast<double>(h) * kUpperBandShare);
    bool upperOk = false, lowerOk = false;
    platform::runSideBySide(
        [&] { lowerOk = decodeBand(data, size, info, orientation, pixels, upper, h - upper); },
        [&] { upperOk = decodeBand(data, size, info, orientation, pixels, 0, upper); });
    ok = upperOk && lowerOk;
  } else {
    ok = decodeBand(data, size, info, orientation, pixels, 0, h);
  }
  if (!ok) {
    memory.release(block);
    return nullptr;
  }
  return block;
}

}  // namespace

bool encode(const uint32_t* topRow, ptrdiff_t rowStep, int32_t width, int32_t height, int quality,
            std::vector<uint8_t>* stream, int maxBands) {
  if (!topRow || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
    return false;
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;

  // A large picture is encoded as two bands side by side, split at an MCU row.
  const int64_t mcu = mcuSize(quality);
  const int64_t mcuRows = (height + mcu - 1) / mcu, mcusPerRow = (width + mcu - 1) / mcu;
  const int64_t topRows = (mcuRows + 1) / 2 * mcu;
  const bool split = maxBands >= 2 && static_cast<int64_t>(width) * height >= kBandedPixels && mcuRows >= 2 &&
                     mcusPerRow * (topRows / mcu) <= 0xFFFF && platform::processorCount() >= 2;
  if (!split) {
    Band whole{topRow, height, 0};
    return encodeBand(rowStep, width, quality, &whole) && copyStream(whole.dest, stream);
  }
  Band top{topRow, static_cast<int32_t>(topRows), static_cast<unsigned>(mcusPerRow * (topRows / mcu))};
  Band bottom{topRow + topRows * rowStep, static_cast<int32_t>(height - topRows), 0};
  platform::runSideBySide([&] { bottom.ok = encodeBand(rowStep, width, quality, &bottom); },
                          [&] { top.ok = encodeBand(rowStep, width, quality, &top); });
  return top.ok && bottom.ok && joinBands(top, bottom, height, stream);
}

void* decodeToBlock(const uint8_t* data, size_t size, int32_t orientation, const BlockMemory& memory,
                    int64_t maxPixels, int maxBands) {
  if (!data || size == 0 || size > 0x7FFFFFFF) return nullptr;
  if (maxPixels > kMaxDecodedPixels) maxPixels = kMaxDecodedPixels;
  return decodeRaw(data, size, orientation, memory, maxPixels, maxBands);
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
