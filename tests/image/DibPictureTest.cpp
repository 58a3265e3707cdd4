// The bitmap buffer, picture loading and the native codec functions, against
// pictures and reference decodes made by Debian's tools.
#include <gtest/gtest.h>

#include "ImageTestFiles.h"
#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "image/Pixels.h"
#include "support/TempDir.h"

using namespace imagetest;

namespace {

class DibPictureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ppm_ = dir_.path() + "/src.ppm";
    writeFile(ppm_, makePpm(61, 37));
    run("cjpeg -quality 95 " + ppm_ + " > " + file("pic.jpg"));
    run("/usr/bin/convert " + ppm_ + " -type TrueColor BMP3:" + file("pic.bmp"));
  }
  std::string file(const char* name) const { return dir_.path() + "/" + name; }

  testsupport::TempDir dir_;
  std::string ppm_;
};

TEST_F(DibPictureTest, LoadsJpegAndBmpInEitherRowOrder) {
  struct Case {
    const char* name;
    int orientation;
    int tolerance;
  };
  const Case cases[] = {{"pic.jpg", -1, 0}, {"pic.jpg", 1, 0}, {"pic.bmp", -1, 0}, {"pic.bmp", 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " orientation " << c.orientation);
    image::DibPicture picture;
    ASSERT_TRUE(picture.load(nullptr, file(c.name).c_str(), c.orientation));
    EXPECT_EQ(picture.loaded, picture.deviceContext);
    EXPECT_EQ(picture.pictureWidth, 61);
    EXPECT_EQ(picture.pictureHeight, 37);
    EXPECT_EQ(picture.orientation, c.orientation);
    EXPECT_EQ(picture.header->height, 37 * c.orientation);
    EXPECT_LE(maxDifference(rgbOf(picture.pixels, 61, 37, c.orientation), referenceRgb(file(c.name))), c.tolerance);
  }
}

TEST_F(DibPictureTest, ExtensionDecidesAndRejectedFilesFail) {
  run("cp " + file("pic.jpg") + " " + file("UPPER.JPG"));
  run("cp " + file("pic.jpg") + " " + file("pic.png"));
  run("head -c 300 " + file("pic.jpg") + " > " + file("cut.jpg"));
  run("cp " + file("pic.bmp") + " " + file("noext"));
  MessageRecorder messages;
  image::DibPicture picture;
  EXPECT_TRUE(picture.load(nullptr, file("UPPER.JPG").c_str(), -1));
  EXPECT_FALSE(picture.load(nullptr, file("pic.png").c_str(), -1));
  EXPECT_FALSE(picture.load(nullptr, file("noext").c_str(), -1));
  EXPECT_FALSE(picture.load(nullptr, file("missing.jpg").c_str(), -1));
  EXPECT_TRUE(messages.seen().empty());
  EXPECT_FALSE(picture.load(nullptr, file("cut.jpg").c_str(), -1));  // cut inside a table
  EXPECT_EQ(messages.joined(), "SYSTEM_ERROR:  0013");
}

TEST_F(DibPictureTest, KeepsTheBufferForTheSameSizeAndOrder) {
  run("/usr/bin/convert " + ppm_ + " -resize 20x10! BMP3:" + file("small.bmp"));
  image::DibPicture picture;
  ASSERT_TRUE(picture.load(nullptr, file("pic.bmp").c_str(), -1));
  const uint32_t* first = picture.pixels;
  ASSERT_TRUE(picture.load(nullptr, file("pic.jpg").c_str(), -1));
  EXPECT_EQ(picture.pixels, first);
  ASSERT_TRUE(picture.load(nullptr, file("small.bmp").c_str(), -1));
  EXPECT_EQ(picture.width, 20);
  EXPECT_EQ(picture.height, 10);
  // Another row order needs another buffer, or the pixels would land upside down.
  ASSERT_TRUE(picture.load(nullptr, file("small.bmp").c_str(), 1));
  EXPECT_EQ(picture.header->height, 10);
  EXPECT_EQ(maxDifference(rgbOf(picture.pixels, 20, 10, 1), referenceRgb(file("small.bmp"))), 0);
  picture.release();
  EXPECT_EQ(picture.loaded, nullptr);
  EXPECT_EQ(picture.deviceContext, nullptr);
  picture.release();  // safe when empty
}

TEST_F(DibPictureTest, CreateRefusesImpossibleSizes) {
  MessageRecorder messages;
  image::DibImage buffer;
  EXPECT_EQ(buffer.create(nullptr, 0, 5, 1), nullptr);
  EXPECT_TRUE(messages.seen().empty());
  EXPECT_EQ(buffer.create(nullptr, 70000, 70000, 1), nullptr);
  EXPECT_EQ(messages.joined(), "32Bitバッファ確保ができません。");
  EXPECT_NE(buffer.create(nullptr, 3, 2, -1), nullptr);
  EXPECT_EQ(buffer.byteSize, 24);
  EXPECT_EQ(buffer.header->height, -2);
  EXPECT_EQ(buffer.header->bitCount, 32);
}

TEST_F(DibPictureTest, Save24AndStreamEncodeThePictureOfTheBuffer) {
  const std::string reference = referenceRgb(ppm_);
  for (int orientation : {1, -1}) {
    SCOPED_TRACE(orientation);
    image::DibPicture picture;
    ASSERT_TRUE(picture.load(nullptr, file("pic.bmp").c_str(), orientation));
    const std::string out = file("out.jpg");
    writeFile(out, "old contents");
    ASSERT_TRUE(image::imgvane::save24(out.c_str(), picture.deviceContext, 61, 37, 100));
    EXPECT_LE(maxDifference(referenceRgb(out), reference), 6);

    std::vector<uint8_t> stream;
    ASSERT_TRUE(image::imgvane::getJstream(picture.deviceContext, 61, 37, 100, &stream));
    EXPECT_EQ(std::string(stream.begin(), stream.end()), readFile(out));  // the same encoder
    ASSERT_TRUE(image::imgvane::getJstream(picture.deviceContext, 61, 37, 10, &stream));
    EXPECT_LT(stream.size(), readFile(out).size());
    EXPECT_EQ(stream[stream.size() - 2], 0xFF);
    EXPECT_EQ(stream.back(), 0xD9);

    // A failed encode leaves an existing file as it was.
    EXPECT_FALSE(image::imgvane::save24(out.c_str(), picture.deviceContext, 62, 37, 100));
    EXPECT_FALSE(image::imgvane::save24(out.c_str(), nullptr, 61, 37, 100));
    EXPECT_LE(maxDifference(referenceRgb(out), reference), 6);
  }
}

TEST_F(DibPictureTest, RotatedSnapshotMatchesImageMagick) {
  image::DibPicture picture;
  ASSERT_TRUE(picture.load(nullptr, file("pic.bmp").c_str(), -1));
  image::DibImage turned;
  ASSERT_NE(turned.create(nullptr, 37, 61, -1), nullptr);
  image::rotate90(turned.pixels, picture.pixels, 61, 37);
  ASSERT_TRUE(image::imgvane::save24(file("snap.jpg").c_str(), turned.deviceContext, 37, 61, 100));
  const std::string expected = run("/usr/bin/convert " + ppm_ + " -rotate -90 -depth 8 rgb:-");
  EXPECT_LE(maxDifference(referenceRgb(file("snap.jpg")), expected), 6);
}

TEST_F(DibPictureTest, Load32DecodesGreyAndCmyk) {
  run("cjpeg -grayscale -quality 95 " + ppm_ + " > " + file("grey.jpg"));
  run("/usr/bin/convert " + ppm_ + " -colorspace CMYK -quality 95 " + file("cmyk.jpg"));
  for (const char* name : {"grey.jpg", "cmyk.jpg"}) {
    SCOPED_TRACE(name);
    image::imgvane::Load32Block block;
    ASSERT_TRUE(image::imgvane::load32(file(name).c_str(), -1, &block));
    EXPECT_EQ(block.width(), 61);
    const std::string reference = run("/usr/bin/convert " + file(name) + " -colorspace sRGB -depth 8 rgb:-");
    EXPECT_LE(maxDifference(rgbOf(block.pixels(), 61, 37, -1), reference), 3);
  }
  image::imgvane::Load32Block block;
  writeFile(file("text.jpg"), "not a picture");
  EXPECT_FALSE(image::imgvane::load32(file("text.jpg").c_str(), -1, &block));
  EXPECT_EQ(block.pixels(), nullptr);
}

}  // namespace
