#include <gtest/gtest.h>

#include <cstdlib>

#include "command/AttachmentFile.h"
#include "command/LocalActions.h"
#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "platform/File.h"
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

// The files a reply may attach, as the camera or the capture leave them.
TEST(AttachmentFile, OnlyWholeReadableFilesAreSent) {
  using command::AttachmentKindOfFile;
  using command::AttachmentState;
  testsupport::TempDir dir;
  const std::string whole = dir.sjisFile("whole.jpg");
  {
    image::DibImage picture;
    ASSERT_TRUE(picture.create(nullptr, 32, 24, -1));
    ASSERT_TRUE(image::imgvane::save24(whole.c_str(), picture.deviceContext, 32, 24, 90));
  }
  std::string jpeg;
  ASSERT_TRUE(platform::readWholeFile(whole.c_str(), &jpeg));
  struct Case {
    const char* name;
    std::string content;  // none: no file; "/": a folder, which cannot be read
    AttachmentKindOfFile kind;
    AttachmentState state;
  } cases[] = {
      {"whole picture", jpeg, AttachmentKindOfFile::kJpeg, AttachmentState::kReady},
      {"missing", "", AttachmentKindOfFile::kJpeg, AttachmentState::kMissing},
      {"empty", std::string(), AttachmentKindOfFile::kJpeg, AttachmentState::kEmpty},
      {"half-written", jpeg.substr(0, jpeg.size() / 2), AttachmentKindOfFile::kJpeg, AttachmentState::kIncomplete},
      {"end marker only", "\xFF\xD9", AttachmentKindOfFile::kJpeg, AttachmentState::kIncomplete},
      {"not a picture", "hello\xFF\xD9", AttachmentKindOfFile::kJpeg, AttachmentState::kIncomplete},
      {"unreadable", "/", AttachmentKindOfFile::kJpeg, AttachmentState::kUnreadable},
      {"recording", "0&\xB2u", AttachmentKindOfFile::kAnyFile, AttachmentState::kReady},
      {"empty recording", std::string(), AttachmentKindOfFile::kAnyFile, AttachmentState::kEmpty},
      {"unreadable recording", "/", AttachmentKindOfFile::kAnyFile, AttachmentState::kUnreadable},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir.sjisFile(("file" + std::to_string(++n)).c_str());
    if (c.content == "/") {
      ASSERT_TRUE(platform::makeDirectory(path.c_str()));
    } else if (std::string(c.name) != "missing") {
      ASSERT_TRUE(platform::writeWholeFile(path.c_str(), c.content));
    }
    EXPECT_EQ(command::checkAttachmentFile(path.c_str(), c.kind), c.state) << c.name;
  }
  EXPECT_EQ(command::attachmentFailureLine("録画ファイル", AttachmentState::kEmpty),
            "録画ファイルが空のため添付できませんでした。\n");
}
