#include "image/BmpFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ImageTestFiles.h"
#include "support/TempDir.h"

using namespace imagetest;

namespace {

struct BmpLayout {
  int bits = 24;
  int width = 5;
  int height = 3;
  bool topDown = false;
  uint32_t colourCount = 0;       // stored biClrUsed
  int tableEntries = -1;          // -1: 2^bits for up to 8 bits, else none
  uint32_t compression = image::kBiRgb;
  std::vector<uint32_t> masks;    // after a 40-byte header
};

uint32_t tableColour(int i) { return (i * 37 % 256) | (i * 91 % 256) << 8 | (i * 53 % 256) << 16; }

// The stored value of pixel (x, y), y from the top: an index, or raw bits.
uint32_t storedValue(const BmpLayout& s, int x, int y) {
  if (s.bits <= 8) return (x + 2 * y) % (1 << s.bits);
  return x * 2654435761u + y * 40503u;
}

std::string makeBmp(const BmpLayout& s) {
  int entries = s.tableEntries >= 0 ? s.tableEntries : (s.bits <= 8 ? 1 << s.bits : 0);
  std::string table;
  for (int i = 0; i < entries; ++i) {
    uint32_t c = tableColour(i);
    table.append(reinterpret_cast<const char*>(&c), 4);
  }
  for (uint32_t m : s.masks) table.insert(table.size() - entries * 4, reinterpret_cast<const char*>(&m), 4);
  const size_t stride = (static_cast<size_t>(s.width) * s.bits + 31) / 32 * 4;
  std::string rows;
  for (int r = 0; r < s.height; ++r) {
    int y = s.topDown ? r : s.height - 1 - r;
    std::string row(stride, '\0');
    for (int x = 0; x < s.width; ++x) {
      uint32_t v = storedValue(s, x, y);
      if (s.bits < 8) {
        int bit = x * s.bits;
        row[bit / 8] = static_cast<char>(row[bit / 8] | v << (8 - s.bits - bit % 8));
      } else {
        for (int k = 0; k < s.bits / 8; ++k) row[x * (s.bits / 8) + k] = static_cast<char>(v >> (8 * k));
      }
    }
    rows += row;
  }
  image::BitmapInfoHeader h{};
  h.size = 40;
  h.width = s.width;
  h.height = s.topDown ? -s.height : s.height;
  h.planes = 1;
  h.bitCount = static_cast<uint16_t>(s.bits);
  h.compression = s.compression;
  h.sizeImage = static_cast<uint32_t>(rows.size());
  h.clrUsed = s.colourCount;
  image::BmpFileHeader f{};
  f.type[0] = 'B', f.type[1] = 'M';
  f.pixelOffset = static_cast<uint32_t>(sizeof f + sizeof h + table.size());
  f.fileSize = static_cast<uint32_t>(f.pixelOffset + rows.size());
  return std::string(reinterpret_cast<const char*>(&f), sizeof f) + std::string(reinterpret_cast<const char*>(&h), sizeof h) +
         table + rows;
}

bool read(const std::string& file, image::BmpFile* bmp) {
  return image::readBmp(reinterpret_cast<const uint8_t*>(file.data()), file.size(), bmp);
}

// Patches a little-endian field of a valid 8-bit BMP.
std::function<void(std::string&)> put32(size_t offset, uint32_t v) {
  return [=](std::string& f) { std::memcpy(&f[offset], &v, 4); };
}
std::function<void(std::string&)> put16(size_t offset, uint16_t v) {
  return [=](std::string& f) { std::memcpy(&f[offset], &v, 2); };
}

TEST(BmpFileTest, RefusesWrongOrHostileHeaders) {
  const char* kPalette = "パレットデータが異常です";
  struct Case {
    const char* name;
    std::function<void(std::string&)> patch;
    const char* message;
  };
  const Case cases[] = {
      {"shorter than the file header", [](std::string& f) { f.resize(10); }, ""},
      {"pixel offset inside the headers", put32(10, 40), ""},
      {"pixel offset past the end", put32(10, 0x7FFFFFF0), ""},
      {"core header", put32(14, 12), ""},
      {"V4 header size, no room left for the colour table", put32(14, 108), ""},
      {"header of an unknown size", put32(14, 44), ""},
      {"width 0", put32(18, 0), ""},
      {"negative width", put32(18, 0xFFFFFFFB), ""},
      {"height 0", put32(22, 0), ""},
      {"most negative height", put32(22, 0x80000000), ""},
      {"buffer too large", [](std::string& f) { put32(18, 70000)(f), put32(22, 70000)(f); }, ""},
      {"bit count 2", put16(28, 2), kPalette},
      {"bit count 0", put16(28, 0), kPalette},
      {"run-length compression on 24 bits", [](std::string& f) { put16(28, 24)(f), put32(30, 1)(f); }, ""},
      {"embedded JPEG", put32(30, 4), ""},
      {"bit fields on 8 bits", put32(30, 3), ""},
      {"image size below the rows", put32(34, 8), ""},
      {"rows cut short", [](std::string& f) { f.resize(f.size() - 1); }, ""},
      {"width whose rows exceed the data", put32(18, 1000), ""},
  };
  BmpLayout base;
  base.bits = 8;
  const std::string valid = makeBmp(base);
  image::BmpFile bmp;
  ASSERT_TRUE(read(valid, &bmp));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string file = valid;
    c.patch(file);
    MessageRecorder messages;
    EXPECT_FALSE(read(file, &bmp));
    EXPECT_EQ(messages.joined(), c.message);
  }

  BmpLayout shortTable;
  shortTable.bits = 8, shortTable.colourCount = 7, shortTable.tableEntries = 7;
  std::string file = makeBmp(shortTable);
  ASSERT_TRUE(read(file, &bmp));
  put32(46, 200)(file);  // more colours than the stored table holds
  EXPECT_FALSE(read(file, &bmp));
  std::string v4 = makeBmp(BmpLayout());
  put32(14, 108)(v4);  // a header larger than the 40-byte block
  EXPECT_FALSE(read(v4, &bmp));
  BmpLayout wide;
  wide.bits = 24;
  wide.colourCount = 0xFFFFFFFF;  // a colour table that is not there
  EXPECT_FALSE(read(makeBmp(wide), &bmp));
  BmpLayout badMask;
  badMask.bits = 16, badMask.compression = image::kBiBitfields, badMask.masks = {0xF00F, 0x07E0, 0x001F};
  EXPECT_FALSE(read(makeBmp(badMask), &bmp));
  badMask.masks = {0, 0x07E0, 0x001F};
  EXPECT_FALSE(read(makeBmp(badMask), &bmp));
  BmpLayout noMasks;  // bit fields announced, the block too short for them
  noMasks.bits = 32, noMasks.compression = image::kBiBitfields;
  EXPECT_FALSE(read(makeBmp(noMasks), &bmp));
}

TEST(BmpFileTest, ColourCountAboveTheDepthIsCappedAndLargerImageSizeAccepted) {
  BmpLayout s;
  s.bits = 4;
  s.colourCount = 300;  // more than 4 bits can index; the table holds 16
  image::BmpFile bmp;
  ASSERT_TRUE(read(makeBmp(s), &bmp));
  EXPECT_EQ(bmp.paletteColours, 16u);
  EXPECT_EQ(bmp.palette[5].red, tableColour(5) >> 16);

  std::string padded = makeBmp(BmpLayout());
  put32(34, 100000)(padded);  // a stored size larger than the rows: only the rows are read
  EXPECT_TRUE(read(padded, &bmp));
}

std::string runLengthBmp(int bits, int w, int h, const std::string& runs, bool topDown = false) {
  image::BitmapInfoHeader info{};
  info.size = 40, info.width = w, info.height = topDown ? -h : h, info.planes = 1;
  info.bitCount = static_cast<uint16_t>(bits);
  info.compression = bits == 8 ? image::kBiRle8 : image::kBiRle4;
  info.sizeImage = static_cast<uint32_t>(runs.size());
  std::string table;
  for (int i = 0; i < (1 << bits); ++i) {
    uint32_t c = tableColour(i);
    table.append(reinterpret_cast<const char*>(&c), 4);
  }
  image::BmpFileHeader f{};
  f.type[0] = 'B', f.type[1] = 'M';
  f.pixelOffset = static_cast<uint32_t>(sizeof f + sizeof info + table.size());
  return std::string(reinterpret_cast<const char*>(&f), sizeof f) +
         std::string(reinterpret_cast<const char*>(&info), sizeof info) + table + runs;
}

TEST(BmpFileTest, ExpandsRunLengthRows) {
  struct Case {
    const char* name;
    int bits;
    std::string runs;
    std::vector<int> indices;  // 6 × 3, top row first
  };
  const Case cases[] = {
      {"8 bits: run, padded literal, end of line, delta, end of bitmap", 8,
       std::string("\x03\x07\x00\x03\x01\x02\x03\x00\x00\x00\x00\x02\x01\x01\x02\x09\x00\x01", 18),
       {0, 9, 9, 0, 0, 0, /**/ 0, 0, 0, 0, 0, 0, /**/ 7, 7, 7, 1, 2, 3}},
      {"4 bits: alternating run, odd literal, run cut at the row end", 4,
       std::string("\x05\x12\x00\x00\x00\x03\x34\x50\x09\xAB\x00\x01", 12),
       {0, 0, 0, 0, 0, 0, /**/ 3, 4, 5, 10, 11, 10, /**/ 1, 2, 1, 2, 1, 0}},
      {"stops at the end of the data", 8, std::string("\x02\x04\x00\x05\x01", 5),
       {0, 0, 0, 0, 0, 0, /**/ 0, 0, 0, 0, 0, 0, /**/ 4, 4, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    image::BmpFile bmp;
    ASSERT_TRUE(read(runLengthBmp(c.bits, 6, 3, c.runs), &bmp));
    EXPECT_EQ(bmp.header.compression, image::kBiRgb);
    std::vector<uint32_t> pixels(18);
    image::convertBmp(bmp, -1, pixels.data());
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(pixels[i], tableColour(c.indices[i])) << i;
  }
  const std::string end("\x00\x01", 2);
  image::BmpFile bmp;
  EXPECT_FALSE(read(runLengthBmp(8, 6, 3, end, true), &bmp));  // run-length rows are bottom-up
  std::string unsized = runLengthBmp(8, 6, 3, end);
  put32(34, 0)(unsized);
  EXPECT_FALSE(read(unsized, &bmp));
  std::string oversized = runLengthBmp(8, 6, 3, end);
  put32(34, 3)(oversized);
  EXPECT_FALSE(read(oversized, &bmp));
}

TEST(BmpFileTest, ReadsFilesByPath) {
  testsupport::TempDir dir;
  const std::string path = dir.path() + "/p.bmp";
  writeFile(path, makeBmp(BmpLayout()));
  image::BmpFile bmp;
  EXPECT_TRUE(image::readBmpFile(path.c_str(), &bmp));
  EXPECT_EQ(bmp.pixelData.size(), 16u * 3);
  EXPECT_FALSE(image::readBmpFile((dir.path() + "/missing.bmp").c_str(), &bmp));
}

}  // namespace
