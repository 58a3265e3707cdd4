// Replays the fuzzers' seeds and the inputs that once crashed them
// (crash-* files), all in fuzz/image/corpus/<target>.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ImageTestFiles.h"
#include "image/BmpFile.h"
#include "image/JpegAnalyzer.h"
#include "image/JpegCodec.h"

using namespace imagetest;

namespace {

std::vector<std::string> inputsOf(const char* target) {
  std::vector<std::string> files;
  std::filesystem::path dir = std::filesystem::path(QUORVEL_SOURCE_DIR) / "fuzz/image/corpus" / target;
  if (std::filesystem::is_directory(dir))
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path().string());
  EXPECT_FALSE(files.empty()) << target;
  return files;
}

TEST(FuzzReplayTest, Analyse) {
  MessageRecorder quiet;
  for (const std::string& path : inputsOf("fuzz_jpeg_analyse")) {
    SCOPED_TRACE(path);
    const std::string data = readFile(path);
    image::JpegAnalyzer a;
    int result = a.analyse(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    EXPECT_TRUE(result == 0 || result == -2);
    EXPECT_LE(a.frame.componentCount, 3);
    EXPECT_LE(a.scan.componentCount, 3);
  }
}

TEST(FuzzReplayTest, BmpReader) {
  MessageRecorder quiet;
  for (const std::string& path : inputsOf("fuzz_bmp_reader")) {
    SCOPED_TRACE(path);
    const std::string data = readFile(path);
    image::BmpFile bmp;
    if (!image::readBmp(reinterpret_cast<const uint8_t*>(data.data()), data.size(), &bmp)) continue;
    ASSERT_EQ(bmp.pixelData.size(), bmp.stride * bmp.height);
    ASSERT_LE(bmp.colourTableOffset + bmp.paletteColours * 4, bmp.info.size());
    std::vector<uint32_t> pixels(static_cast<size_t>(bmp.width) * bmp.height);
    image::convertBmp(bmp, -1, pixels.data());
  }
}

TEST(FuzzReplayTest, JpegDecode) {
  const image::jpeg::BlockMemory memory{[](size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); }};
  for (const std::string& path : inputsOf("fuzz_jpeg_decode")) {
    SCOPED_TRACE(path);
    const std::string data = readFile(path);
    void* block = image::jpeg::decodeToBlock(reinterpret_cast<const uint8_t*>(data.data()), data.size(), 1, memory);
    std::free(block);
  }
}

}  // namespace
