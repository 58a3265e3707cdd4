#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ScriptedStream.h"
#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "platform/File.h"
#include "sendlib/Attachment.h"
#include "sendlib/SendLog.h"
#include "sendlib/image/ImageSendMail.h"
#include "sendlib/image/PictureConversion.h"
#include "support/TempDir.h"

namespace sendlib {
namespace {

TEST(PostrixNames, AttachmentNameEndsInJpgAndExtensionIsLowerCased) {
  const std::string sjisHyo = "\x95\x5C";  // 表: its second byte is "\"
  struct Row {
    std::string path, name, extension;
  } rows[] = {
      {"C:\\pictures\\snap.bmp", "snap.jpg", ".bmp"},
      {"C:\\a.dir\\shot.BMP", "shot.jpg", ".bmp"},
      {"record.tar.JPG", "record.tar.jpg", ".jpg"},
      {"C:\\a.dir\\noext", "noext.jpg", ""},
      {"D:" + sjisHyo + ".bmp", sjisHyo + ".jpg", ".bmp"},
      {std::string(300, 'x') + ".bmp", std::string(251, 'x') + ".jpg", ".bmp"},
      {std::string(249, 'x') + sjisHyo + sjisHyo + ".bmp", std::string(249, 'x') + sjisHyo + ".jpg", ".bmp"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(pictureAttachmentName(r.path), r.name) << r.path;
    EXPECT_EQ(lowerExtension(r.path), r.extension) << r.path;
  }
}

// Exact bilinear value with integer arithmetic: position j of n target
// pixels over W source pixels is j·(W−1)/(n−1).
uint8_t exactByte(const std::vector<uint8_t>& s, int W, int H, int w, int h, int i, int j, int k, int* raw) {
  const int64_t dx = w - 1, dy = h - 1;
  const int64_t ax = int64_t{j} * (W - 1), ay = int64_t{i} * (H - 1);
  const int x0 = static_cast<int>(ax / dx), y0 = static_cast<int>(ay / dy);
  const int64_t fx = ax % dx, fy = ay % dy;
  auto S = [&](int y, int x) { return int64_t{s[(static_cast<size_t>(y) * W + x) * 4 + k]}; };
  const int x1 = x0 + 1 < W ? x0 + 1 : x0, y1 = y0 + 1 < H ? y0 + 1 : y0;
  const int64_t top = (dx - fx) * S(y0, x0) + fx * S(y0, x1);
  const int64_t bottom = (dx - fx) * S(y1, x0) + fx * S(y1, x1);
  *raw = static_cast<int>(((dy - fy) * top + fy * bottom) / (dx * dy));
  return static_cast<uint8_t>(*raw);
}

TEST(PostrixScaling, BilinearAgainstAnExactReference) {
  struct Row {
    int W, H, w, h;
  } rows[] = {{640, 480, 320, 240}, {5, 4, 3, 2}, {7, 3, 30, 12}, {1, 1, 4, 4}, {9, 5, 4, 2}};
  uint32_t seed = 12345;
  for (const Row& r : rows) {
    image::DibImage source, target;
    ASSERT_TRUE(source.create(nullptr, r.W, r.H, -1));
    std::vector<uint8_t> bytes(static_cast<size_t>(r.W) * r.H * 4);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    std::memcpy(source.pixels, bytes.data(), bytes.size());
    ASSERT_EQ(targetHeight(r.w, r.W, r.H), r.h);
    ASSERT_TRUE(scalePicture(source, r.w, &target));
    ASSERT_EQ(target.height, r.h);
    int worst = 0;
    for (int i = 0; i < r.h; ++i)
      for (int j = 0; j < r.w; ++j) {
        const uint8_t* got = reinterpret_cast<const uint8_t*>(target.rowPointer(i) + j);
        const bool corner = (i == 0 || i == r.h - 1) && (j == 0 || j == r.w - 1);
        int raw = 0;
        for (int k = 0; k < 3; ++k) {
          int diff = std::abs(got[k] - exactByte(bytes, r.W, r.H, r.w, r.h, i, j, k, &raw));
          worst = std::max(worst, corner ? diff * 256 : diff);  // corners coincide exactly
        }
        exactByte(bytes, r.W, r.H, r.w, r.h, i, j, 3, &raw);
        if (raw != 127 && raw != 128) {
          EXPECT_EQ(got[3], raw >= 128 ? 255 : 0) << i << "," << j;
        }
      }
    EXPECT_LE(worst, 1) << r.W << "x" << r.H << " -> " << r.w;
  }
}

// A 24-bit bottom-up BMP; its pixels run from black to light colours.
std::string makeBmp(int32_t w, int32_t h) {
  const uint32_t stride = (static_cast<uint32_t>(w) * 3 + 3) & ~3u, size = stride * static_cast<uint32_t>(h);
  std::string bmp(54, '\0');
  auto put = [&bmp](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
  };
  bmp[0] = 'B', bmp[1] = 'M';
  put(2, 54 + size, 4), put(10, 54, 4), put(14, 40, 4), put(18, w, 4), put(22, h, 4);
  put(26, 1, 2), put(28, 24, 2), put(34, size, 4);
  for (uint32_t i = 0; i < size; ++i) bmp += static_cast<char>(i * 7 % 200);
  return bmp;
}

TEST(PostrixConversion, PicturesBecomeJpegsOfTheWidthAndBadInputFails) {
  testsupport::TempDir dir;
  auto file = [&dir](const char* name, const std::string& data) {
    std::string path = dir.sjisFile(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    return path;
  };
  const std::string bmp = file("p.BMP", makeBmp(64, 48));
  std::vector<uint8_t> stream;
  ASSERT_TRUE(convertPicture(bmp, 32, 80, &stream));
  const std::string jpegBytes(stream.begin(), stream.end());
  const std::string jpg = file("p.jpg", jpegBytes);
  ASSERT_TRUE(convertPicture(jpg, 20, 80, &stream));
  image::imgvane::Load32Block decoded;
  ASSERT_TRUE(image::imgvane::load32(file("q.jpg", std::string(stream.begin(), stream.end())).c_str(), -1, &decoded));
  EXPECT_EQ(decoded.width(), 20);
  EXPECT_EQ(decoded.height(), 15);

  std::string damaged = makeBmp(64, 48);
  damaged[14] = 99;  // information header size
  struct Row {
    std::string path;
    int32_t width, quality;
  } rows[] = {
      {file("empty.bmp", ""), 32, 80}, {file("zero.bmp", makeBmp(0, 0)), 32, 80},
      {file("damaged.bmp", damaged), 32, 80}, {file("cut.jpg", jpegBytes.substr(0, jpegBytes.size() / 2)), 32, 80},
      {bmp, -320, 80}, {bmp, 1, 80}, {bmp, 2, 80} /* height 1 */, {bmp, 100000, 80},
      {bmp, 32, -1}, {bmp, 32, 101},
  };
  for (const Row& r : rows) EXPECT_FALSE(convertPicture(r.path, r.width, r.quality, &stream)) << r.path << " " << r.width;
}

// Fails every send once `lines` whole lines have gone.
class LineLimitedStream : public ScriptedStream {
 public:
  LineLimitedStream(std::deque<std::string> replies, long lines) : ScriptedStream(std::move(replies)), lines_(lines) {}
  int send(const char* data, int length) override {
    if (std::count(sent.begin(), sent.end(), '\n') >= lines_) return -1;
    return ScriptedStream::send(data, length);
  }

 private:
  long lines_;
};

TEST(PostrixCodes, EveryStepAndMessageLineFailsWithItsOwnCode) {
  EXPECT_EQ(imageResult(SendStep::kNone), 0);
  EXPECT_EQ(imageResult(SendStep::kSocketStartup), 10);
  EXPECT_EQ(imageResult(SendStep::kResolve), 11);
  EXPECT_EQ(imageResult(SendStep::kCreateSocket), 12);
  EXPECT_EQ(imageResult(SendStep::kConnect), 100);

  ImageMailRequest request{};
  std::strcpy(request.fromAddress, "a@x");
  std::strcpy(request.toAddress, "b@x");
  std::strcpy(request.ccAddresses[0], "c@x");
  std::strcpy(request.ccAddresses[1], "d@x");
  request.ccCount = 2;
  std::strcpy(request.attachmentPath, "C:\\snap.bmp");
  SendJob job = imageJob(request);
  job.attachmentText = std::string(60, 'Q');  // one data line
  const std::string ok = "250 ok\r\n";
  const std::deque<std::string> replies{"220 hi\r\n", ok, ok, ok, ok, ok, "354 go\r\n", ok, "221 bye\r\n"};
  // Each line the client sends, and the code when its send fails.
  const std::vector<int> codes = {102, 103, 105, 107, 107, 108, 109, 110, 111, 112, 113, 113, 114, 115,
                                  116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129,
                                  130, 131, 132, 133, 134, 135};
  MemoryLog log;
  for (size_t n = 0; n <= codes.size(); ++n) {
    LineLimitedStream stream(replies, static_cast<long>(n));
    const int code = imageResult(runDialogue(stream, job, "host", log));
    EXPECT_EQ(code, n < codes.size() ? codes[n] : 0) << n;
  }
}

}  // namespace
}  // namespace sendlib

namespace {

// Postrix's log: every line ends in exactly one CR LF, also for entries that
// bring their own (server replies), where text mode made CR CR LF.
TEST(PostrixLog, EveryLineEndsInOneCrLf) {
  testsupport::TempDir dir;
  const std::string path = dir.sjisFile("log.txt");
  {
    sendlib::OpenSendLog log(path, true);
    log.write("220 ready\r\n");
    log.write("HELO PC");
    log.write("250-one\r\n250 two\r\n");
    log.write("a\nb\n");
    log.write("");
  }
  std::string data;
  ASSERT_TRUE(platform::readWholeFile(path.c_str(), &data));
  EXPECT_EQ(data, "220 ready\r\nHELO PC\r\n250-one\r\n250 two\r\na\r\nb\r\n\r\n");
}

}  // namespace
