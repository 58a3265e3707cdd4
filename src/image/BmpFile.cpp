#include "image/BmpFile.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/File.h"
#include "image/ImageFailure.h"

namespace image {
namespace {

void warn(const char* text) { noteFailure(text); }

class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t size() const = 0;
  virtual bool read(uint64_t offset, void* target, size_t n) = 0;
};

class MemorySource : public Source {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* target, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(target, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

class FileSource : public Source {
 public:
  FileSource(FILE* f, uint64_t size) : f_(f), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* target, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (std::fseek(f_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(target, 1, n, f_) == n;
  }

 private:
  FILE* f_;
  uint64_t size_;
};

// A channel mask must be one run of set bits.
bool maskUsable(uint32_t mask, unsigned bitCount) {
  if (mask == 0) return false;
  if (bitCount == 16 && mask > 0xFFFF) return false;
  while (!(mask & 1)) mask >>= 1;
  return (mask & (mask + 1)) == 0;
}

unsigned lowestBit(uint32_t mask) {
  unsigned n = 0;
  while (!(mask & 1)) mask >>= 1, ++n;
  return n;
}

unsigned bitLength(uint32_t mask) {
  mask >>= lowestBit(mask);
  unsigned n = 0;
  while (mask & 1) mask >>= 1, ++n;
  return n;
}

// One channel widened to 8 bits, its top bits repeated below it.
struct Channel {
  unsigned shift = 0, length = 8;
  explicit Channel(uint32_t mask) : shift(lowestBit(mask)), length(bitLength(mask)) {}
  uint32_t get(uint32_t pixel) const {
    uint32_t v = pixel >> shift;
    if (length >= 8) return (v >> (length - 8)) & 0xFF;
    v = (v << (8 - length)) & 0xFF;
    return v | (v >> length);
  }
};

// Expands BI_RLE8 / BI_RLE4 data into rows of indices (stored order, bottom
// row first). Pixels that runs skip keep index 0; runs past a row are cut.
void expandRunLength(const std::vector<uint8_t>& rle, unsigned bits, BmpFile* bmp) {
  const size_t w = static_cast<size_t>(bmp->width), h = static_cast<size_t>(bmp->height);
  size_t x = 0, y = 0, pos = 0;
  auto put = [&](unsigned index) {
    if (x < w && y < h) {
      uint8_t* row = bmp->pixelData.data() + y * bmp->stride;
      if (bits == 8) {
        row[x] = static_cast<uint8_t>(index);
      } else {
        uint8_t& b = row[x / 2];
        b = x % 2 ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | index << 4);
      }
    }
    ++x;
  };
  while (pos + 2 <= rle.size() && y < h) {
    const unsigned count = rle[pos], value = rle[pos + 1];
    pos += 2;
    if (count > 0) {  // a run of one index, or of two alternating 4-bit indices
      for (unsigned i = 0; i < count && x < w; ++i) put(bits == 8 ? value : (i % 2 ? value & 0x0F : value >> 4));
    } else if (value == 0) {  // end of line
      x = 0, ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // move right and up
      if (pos + 2 > rle.size()) break;
      x += rle[pos], y += rle[pos + 1];
      pos += 2;
    } else {  // `value` literal indices, padded to a 16-bit boundary
      const size_t bytes = bits == 8 ? value : (value + 1) / 2;
      if (pos + bytes > rle.size()) break;
      for (unsigned i = 0; i < value; ++i)
        put(bits == 8 ? rle[pos + i] : (i % 2 ? rle[pos + i / 2] & 0x0F : rle[pos + i / 2] >> 4));
      pos += bytes + (bytes & 1);
    }
  }
}

bool parse(Source& in, BmpFile* bmp) {
  *bmp = BmpFile();
  const uint64_t size = in.size();
  BmpFileHeader fh;
  if (!in.read(0, &fh, sizeof fh)) return false;
  if (fh.pixelOffset < sizeof(BmpFileHeader) + sizeof(BitmapInfoHeader) || fh.pixelOffset > size) return false;

  try {
    bmp->info.resize(fh.pixelOffset - sizeof(BmpFileHeader));
  } catch (const std::bad_alloc&) {
    warn("メモリー不足のためロードできません。");
    return false;
  }
  if (!in.read(sizeof fh, bmp->info.data(), bmp->info.size())) return false;
  BitmapInfoHeader& h = bmp->header;
  std::memcpy(&h, bmp->info.data(), sizeof h);
  // The information headers of Windows: 40 bytes, with masks (52, 56), V4 (108), V5 (124).
  if ((h.size != 40 && h.size != 52 && h.size != 56 && h.size != 108 && h.size != 124) || h.size > bmp->info.size())
    return false;
  if (h.size == 124) {
    // A V5 header may point at a colour profile; it is not read, and the
    // platform's drawing is not handed one either.
    const uint32_t srgb = 0x73524742;  // LCS_sRGB
    const uint32_t none = 0;
    std::memcpy(bmp->info.data() + 56, &srgb, 4);
    std::memcpy(bmp->info.data() + 112, &none, 4);
    std::memcpy(bmp->info.data() + 116, &none, 4);
  }
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return false;
  bmp->width = h.width;
  bmp->height = h.height < 0 ? -h.height : h.height;
  bmp->topDown = h.height < 0;

  const unsigned bits = h.bitCount;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    warn("パレットデータが異常です");
    return false;
  }
  if (static_cast<int64_t>(bmp->width) * bmp->height * 4 > kMaxBmpBufferBytes) return false;

  bmp->colourTableOffset = h.size;
  if (h.compression == kBiBitfields && (bits == 16 || bits == 32)) {
    // The three masks follow the 40 bytes: after a 40-byte header, inside a larger one.
    if (bmp->info.size() < sizeof h + 12) return false;
    if (h.size == sizeof h) bmp->colourTableOffset += 12;
    std::memcpy(bmp->masks, bmp->info.data() + sizeof h, 12);
    for (uint32_t m : bmp->masks)
      if (!maskUsable(m, bits)) return false;
  } else if ((h.compression == kBiRle8 && bits == 8) || (h.compression == kBiRle4 && bits == 4)) {
    if (bmp->topDown || h.sizeImage == 0) return false;  // run-length rows are bottom-up and sized
  } else if (h.compression == kBiRgb) {
    if (bits == 16) {
      bmp->masks[0] = 0x7C00, bmp->masks[1] = 0x03E0, bmp->masks[2] = 0x001F;
    } else if (bits == 32) {
      bmp->masks[0] = 0xFF0000, bmp->masks[1] = 0xFF00, bmp->masks[2] = 0xFF;
    }
  } else {
    return false;  // embedded JPEG or PNG, and unknown formats
  }
  const bool runLength = h.compression == kBiRle8 || h.compression == kBiRle4;

  const uint64_t stride = (static_cast<uint64_t>(bmp->width) * bits + 31) / 32 * 4;
  const uint64_t need = stride * static_cast<uint64_t>(bmp->height);
  const uint64_t stored = runLength ? h.sizeImage : need;
  if (!runLength && h.sizeImage != 0 && h.sizeImage < need) return false;
  if (size - fh.pixelOffset < stored) return false;
  bmp->stride = static_cast<size_t>(stride);

  uint64_t colours = h.clrUsed ? h.clrUsed : (bits <= 8 ? 1u << bits : 0);
  if (bits <= 8 && colours > (1u << bits)) colours = 1u << bits;
  if (bmp->colourTableOffset + colours * 4 > bmp->info.size()) return false;
  bmp->paletteColours = static_cast<uint32_t>(colours);

  std::vector<uint8_t> runs;
  try {
    bmp->pixelData.resize(static_cast<size_t>(need));
    runs.resize(runLength ? static_cast<size_t>(stored) : 0);
  } catch (const std::bad_alloc&) {
    warn("メモリー不足のためロードできません。");
    return false;
  }
  if (runLength) {
    if (!in.read(fh.pixelOffset, runs.data(), runs.size())) return false;
    expandRunLength(runs, bits, bmp);
    // From here on the rows are plain ones, also for the platform's drawing.
    h.compression = kBiRgb;
    h.sizeImage = static_cast<uint32_t>(need);
    std::memcpy(bmp->info.data(), &h, sizeof h);
  } else if (!in.read(fh.pixelOffset, bmp->pixelData.data(), bmp->pixelData.size())) {
    return false;
  }

  try {
    bmp->palette.resize(bmp->paletteColours);
  } catch (const std::bad_alloc&) {
    warn("メモリー不足のため処理できません。");
    return false;
  }
  const uint8_t* table = bmp->info.data() + bmp->colourTableOffset;
  for (uint32_t i = 0; i < bmp->paletteColours; ++i)
    bmp->palette[i] = PaletteEntry{table[i * 4 + 2], table[i * 4 + 1], table[i * 4], 0};
  return true;
}

}  // namespace

bool readBmp(const uint8_t* data, size_t size, BmpFile* bmp) {
  MemorySource in(data, size);
  return parse(in, bmp);
}

bool readBmpFile(const char* path, BmpFile* bmp) {
  int64_t size = platform::fileSize(path);
  if (size < 0 || size > kMaxBmpBufferBytes) return false;
  FILE* f = platform::openFile(path, "rb");
  if (!f) return false;
  FileSource in(f, static_cast<uint64_t>(size));
  bool ok = parse(in, bmp);
  std::fclose(f);
  return ok;
}

void convertBmp(const BmpFile& bmp, int32_t orientation, uint32_t* target) {
  const size_t w = static_cast<size_t>(bmp.width), h = static_cast<size_t>(bmp.height);
  const unsigned bits = bmp.header.bitCount;
  const Channel red(bmp.masks[0] ? bmp.masks[0] : 1), green(bmp.masks[1] ? bmp.masks[1] : 1),
      blue(bmp.masks[2] ? bmp.masks[2] : 1);
  uint32_t colours[256] = {};
  for (uint32_t i = 0; i < bmp.paletteColours && i < 256; ++i) {
    const PaletteEntry& p = bmp.palette[i];
    colours[i] = p.blue | (p.green << 8) | (static_cast<uint32_t>(p.red) << 16);
  }

  for (size_t r = 0; r < h; ++r) {
    const uint8_t* in = bmp.pixelData.data() + (bmp.topDown ? r : h - 1 - r) * bmp.stride;
    uint32_t* out = target + (orientation == -1 ? r : h - 1 - r) * w;
    switch (bits) {
      case 1:
      case 4:
      case 8: {
        const unsigned perByte = 8 / bits, mask = (1u << bits) - 1;
        for (size_t x = 0; x < w; ++x) {
          unsigned shift = 8 - bits - (x % perByte) * bits;
          out[x] = colours[(in[x / perByte] >> shift) & mask];  // entries past the table are black
        }
        break;
      }
      case 16:
        for (size_t x = 0; x < w; ++x) {
          uint32_t v = in[x * 2] | (in[x * 2 + 1] << 8);
          out[x] = blue.get(v) | (green.get(v) << 8) | (red.get(v) << 16);
        }
        break;
      case 24:
        for (size_t x = 0; x < w; ++x)
          out[x] = in[x * 3] | (in[x * 3 + 1] << 8) | (static_cast<uint32_t>(in[x * 3 + 2]) << 16);
        break;
      case 32:
        if (bmp.header.compression == kBiRgb) {
          std::memcpy(out, in, w * 4);
        } else {
          for (size_t x = 0; x < w; ++x) {
            uint32_t v = in[x * 4] | (in[x * 4 + 1] << 8) | (in[x * 4 + 2] << 16) |
                         (static_cast<uint32_t>(in[x * 4 + 3]) << 24);
            out[x] = blue.get(v) | (green.get(v) << 8) | (red.get(v) << 16);
          }
        }
        break;
    }
  }
}

}  // namespace image
