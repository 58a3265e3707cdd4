#include <gtest/gtest.h>

#include <cstdlib>

#include "command/LocalActions.h"
#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "support/TempDir.h"

namespace {

// A 64 × 48 picture, red in its top-right quarter, turned into a 48 × 64
// picture with the red quarter at its top left.
TEST(RotateSnapshot, TurnsCounterClockwiseInPlace) {
  testsupport::TempDir dir;
  const std::string path = dir.sjisFile("snap.jpg");
  {
    image::DibImage picture;
    ASSERT_TRUE(picture.create(nullptr, 64, 48, -1));
    for (int32_t row = 0; row < 48; ++row)
      for (int32_t column = 0; column < 64; ++column)
        picture.rowPointer(row)[column] = row < 24 && column >= 32 ? 0x00FF0000u : 0x000000FFu;
    ASSERT_TRUE(image::imgvane::save24(path.c_str(), picture.deviceContext, 64, 48, 100));
  }
  ASSERT_TRUE(command::rotatePictureFile(path.c_str()));
  image::DibPicture turned;
  ASSERT_TRUE(turned.load(nullptr, path.c_str(), -1));
  ASSERT_EQ(turned.pictureWidth, 48);
  ASSERT_EQ(turned.pictureHeight, 64);
  auto red = [](uint32_t p) { return ((p >> 16) & 0xFF) > 200 && (p & 0xFF) < 60; };
  EXPECT_TRUE(red(turned.rowPointer(4)[4]));     // former top-right corner
  EXPECT_FALSE(red(turned.rowPointer(60)[4]));   // former top-left corner
  EXPECT_FALSE(red(turned.rowPointer(4)[44]));   // former bottom-right corner

  EXPECT_FALSE(command::rotatePictureFile(dir.sjisFile("missing.jpg").c_str()));
}

TEST(CaptureScreen, ScaledHeightKeepsTheAspectTruncated) {
  EXPECT_EQ(command::scaledHeight(400, 1280, 1024), 320);
  EXPECT_EQ(command::scaledHeight(400, 1366, 768), 224);
  EXPECT_EQ(command::scaledHeight(2560, 1280, 1024), 2048);
}

}  // namespace
