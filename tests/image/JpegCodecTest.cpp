// The codec's two-band encoding and decoding against the same work done in
// one piece, on pictures made by Debian's tools.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ImageTestFiles.h"
#include "image/JpegAnalyzer.h"
#include "image/JpegCodec.h"
#include "platform/Hooks.h"
#include "platform/Parallel.h"
#include "support/TempDir.h"

using namespace imagetest;
using image::jpeg::BlockMemory;

namespace {

void* allocateBlock(size_t bytes) { return std::malloc(bytes); }
void releaseBlock(void* block) { std::free(block); }
const BlockMemory kMalloc{allocateBlock, releaseBlock};

struct FreeBlock {
  void operator()(void* block) const { std::free(block); }
};
using Block = std::unique_ptr<void, FreeBlock>;

size_t blockBytes(const void* block) {
  const int32_t* dims = static_cast<const int32_t*>(block);
  return 8 + static_cast<size_t>(dims[0]) * static_cast<size_t>(dims[1]) * 4;
}

Block decode(const std::string& stream, int32_t orientation, int maxBands) {
  return Block(image::jpeg::decodeToBlock(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                                          orientation, kMalloc, image::jpeg::kMaxDecodedPixels, maxBands));
}

// Same size, same pixels.
void expectSameBlocks(const Block& a, const Block& b, const std::string& what) {
  ASSERT_TRUE(a && b) << what;
  ASSERT_EQ(blockBytes(a.get()), blockBytes(b.get())) << what;
  EXPECT_EQ(std::memcmp(a.get(), b.get(), blockBytes(a.get())), 0) << what;
}

// A picture with detail everywhere, so that every block has many coefficients.
std::vector<uint32_t> busyPicture(int w, int h) {
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  uint32_t noise = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      noise = noise * 1103515245u + 12345u;
      const uint32_t grain = (noise >> 16) & 0x3F;
      pixels[static_cast<size_t>(y) * w + x] =
          ((x * 200 / w + grain) & 0xFF) | (((y * 200 / h + grain) & 0xFF) << 8) | (((x + y) + grain) & 0xFF) << 16;
    }
  return pixels;
}

std::string toPpm(const std::vector<uint32_t>& pixels, int w, int h) {
  std::string ppm = "P6 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
  for (uint32_t p : pixels) {
    ppm += static_cast<char>(p >> 16);
    ppm += static_cast<char>(p >> 8);
    ppm += static_cast<char>(p);
  }
  return ppm;
}

std::string encode(const std::vector<uint32_t>& pixels, int w, int h, bool bottomFirst, int quality, int maxBands) {
  const uint32_t* top = bottomFirst ? pixels.data() + static_cast<size_t>(h - 1) * w : pixels.data();
  std::vector<uint8_t> stream;
  EXPECT_TRUE(image::jpeg::encode(top, bottomFirst ? -w : w, w, h, quality, &stream, maxBands));
  return std::string(stream.begin(), stream.end());
}

class JpegCodecTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setMessageBoxHook([](const char*, const char*, unsigned) { return 1; }); }
  void TearDown() override { platform::setMessageBoxHook(nullptr); }
  std::string file(const std::string& name) const { return dir_.path() + "/" + name; }

  testsupport::TempDir dir_;
};

TEST_F(JpegCodecTest, BandedEncodingDecodesToThePixelsOfOnePiece) {
  struct Case {
    int width, height, quality;
    bool bottomFirst;
  } cases[] = {
      {1080, 1920, 100, false},  // the rotated full-HD frame
      {700, 411, 100, true},     // a partial MCU row at the bottom, rows stored bottom first
      {640, 417, 75, false},     // subsampled chroma: 16-row MCUs, partial last one
      {513, 517, 85, true},      // partial MCU columns and rows
      {4000, 72, 100, false},    // nine MCU rows
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " q" +
                             std::to_string(c.quality) + (c.bottomFirst ? " bottom first" : "");
    const auto pixels = busyPicture(c.width, c.height);
    const std::string whole = encode(pixels, c.width, c.height, c.bottomFirst, c.quality, 1);
    const std::string banded = encode(pixels, c.width, c.height, c.bottomFirst, c.quality, 2);
    if (platform::processorCount() >= 2) {
      EXPECT_NE(whole, banded) << what << ": not encoded in bands";
    }
    expectSameBlocks(decode(whole, -1, 1), decode(banded, -1, 1), what);

    // Our analysis and libjpeg's own tool accept the joined stream without a word.
    image::JpegAnalyzer analyzer;
    EXPECT_EQ(analyzer.analyse(reinterpret_cast<const uint8_t*>(banded.data()), banded.size()), 0) << what;
    EXPECT_EQ(analyzer.frame.lines, static_cast<unsigned>(c.height)) << what;
    writeFile(file("banded.jpg"), banded);
    EXPECT_EQ(run("djpeg -outfile /dev/null " + file("banded.jpg") + " 2>&1"), "") << what;
  }
}

TEST_F(JpegCodecTest, BandedDecodingGivesThePixelsOfOnePiece) {
  writeFile(file("src.ppm"), toPpm(busyPicture(701, 459), 701, 459));
  const std::string src = file("src.ppm");
  struct Case {
    const char* name;
    std::string command;
  } cases[] = {
      {"444.jpg", "cjpeg -quality 95 -sample 1x1 " + src},
      {"420.jpg", "cjpeg -quality 85 -sample 2x2 " + src},
      {"422.jpg", "cjpeg -quality 85 -sample 2x1 " + src},
      {"440.jpg", "cjpeg -quality 85 -sample 1x2 " + src},
      {"grey.jpg", "cjpeg -grayscale " + src},
      {"restart.jpg", "cjpeg -sample 2x2 -restart 1 " + src},
      {"progressive.jpg", "cjpeg -progressive " + src},
      {"cmyk.jpg", "/usr/bin/convert " + src + " -colorspace CMYK jpg:-"},
  };
  for (const Case& c : cases) {
    const std::string stream = run(c.command);
    ASSERT_FALSE(stream.empty()) << c.name;
    // Cut short, the missing rows come out grey in both.
    const std::string cut = stream.substr(0, stream.size() * 6 / 10);
    for (const std::string* data : {&stream, &cut})
      for (int32_t orientation : {-1, 1}) {
        const std::string what = std::string(c.name) + (data == &cut ? " cut" : "") +
                                 (orientation == 1 ? " bottom first" : " top first");
        expectSameBlocks(decode(*data, orientation, 1), decode(*data, orientation, 2), what);
      }
  }
}

}  // namespace
