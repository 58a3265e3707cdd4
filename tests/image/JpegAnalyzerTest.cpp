#include "image/JpegAnalyzer.h"

#include <gtest/gtest.h>

#include <functional>

#include "ImageTestFiles.h"
#include "support/TempDir.h"

using namespace imagetest;
using image::JpegAnalyzer;

namespace {

struct Segment {
  unsigned marker;
  size_t offset;  // of the 0xFF
  size_t length;  // whole segment, marker included
};

// The segments from SOI up to and including the first scan header.
std::vector<Segment> segmentsOf(const std::string& jpg) {
  std::vector<Segment> out;
  size_t pos = 2;
  while (pos + 4 <= jpg.size()) {
    unsigned marker = static_cast<unsigned char>(jpg[pos + 1]);
    size_t length = 2 + (static_cast<unsigned char>(jpg[pos + 2]) << 8 | static_cast<unsigned char>(jpg[pos + 3]));
    out.push_back({marker, pos, length});
    if (marker == 0xDA) break;
    pos += length;
  }
  return out;
}

Segment find(const std::string& jpg, unsigned marker) {
  for (const Segment& s : segmentsOf(jpg))
    if (s.marker == marker) return s;
  ADD_FAILURE() << "no marker " << marker;
  return {0, 0, 0};
}

std::string segment(unsigned marker, const std::string& body) {
  size_t n = body.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(n >> 8), static_cast<char>(n)} + body;
}

struct Pictures {
  std::string baseline, comment, progressive, cmyk, restart;
};

// Made once: encoding takes a little while.
const Pictures& pictures() {
  static Pictures p = [] {
    testsupport::TempDir dir;
    std::string ppm = dir.path() + "/p.ppm";
    writeFile(ppm, makePpm(40, 24));
    Pictures p;
    p.baseline = run("cjpeg -quality 50 " + ppm);
    p.comment = run("cjpeg -quality 50 " + ppm + " | wrjpgcom -comment 'made by a test'");
    p.progressive = run("cjpeg -progressive " + ppm);
    p.cmyk = run("/usr/bin/convert " + ppm + " -colorspace CMYK jpg:-");
    p.restart = run("cjpeg -restart 1 " + ppm);
    return p;
  }();
  return p;
}

const unsigned kBaselineFlags = image::kJpegSeenDht | image::kJpegSeenDqt | image::kJpegSeenJfif | image::kJpegSeenScan;

struct Case {
  const char* name;
  std::function<std::string(const Pictures&)> make;
  int result;
  unsigned flags;
  const char* message;  // "" for none
};

const Case kCases[] = {
    {"baseline JFIF", [](const Pictures& p) { return p.baseline; }, 0, kBaselineFlags, ""},
    {"with a comment", [](const Pictures& p) { return p.comment; }, 0, kBaselineFlags | image::kJpegSeenComment, ""},
    {"progressive after APP0", [](const Pictures& p) { return p.progressive; }, 0,
     image::kJpegSeenJfif | image::kJpegSeenDqt, ""},
    {"progressive right after SOI",
     [](const Pictures& p) {
       Segment sof = find(p.progressive, 0xC2);
       return "\xFF\xD8" + p.progressive.substr(sof.offset, sof.length) + p.progressive.substr(2);
     },
     0, 0, ""},
    {"four components after DQT", [](const Pictures& p) { return p.cmyk; }, 0, image::kJpegSeenDqt, ""},
    {"cut before the scan header",
     [](const Pictures& p) { return p.baseline.substr(0, find(p.baseline, 0xDA).offset); }, -2,
     kBaselineFlags & ~image::kJpegSeenScan, "SYSTEM_ERROR:  0013"},
    {"DHT class 2",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xC4).offset + 4] = 0x20;
       return j;
     },
     -2, image::kJpegSeenDqt | image::kJpegSeenJfif, "SYSTEM_ERROR:  0014"},
    {"DHT number 4",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xC4).offset + 4] = 0x04;
       return j;
     },
     -2, image::kJpegSeenDqt | image::kJpegSeenJfif, "SYSTEM_ERROR:  0014"},
    {"scan names AC table 3",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xDA).offset + 6] = 0x03;
       return j;
     },
     -2, kBaselineFlags & ~image::kJpegSeenScan, "SYSTEM_ERROR:  0012"},
    {"scan names DC table 3",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xDA).offset + 6] = 0x30;
       return j;
     },
     -2, kBaselineFlags & ~image::kJpegSeenScan, "SYSTEM_ERROR:  0012"},
    {"scan with four components",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xDA).offset + 4] = 4;
       return j;
     },
     -2, kBaselineFlags & ~image::kJpegSeenScan, "SYSTEM_ERROR:  0012"},
    {"fill byte before a marker",
     [](const Pictures& p) {
       std::string j = p.baseline;
       return j.insert(find(j, 0xDB).offset, "\xFF");
     },
     -2, image::kJpegSeenJfif, "SYSTEM_ERROR:  0014"},
    {"RST between segments",
     [](const Pictures& p) {
       std::string j = p.baseline;
       return j.insert(find(j, 0xDB).offset, "\xFF\xD0");
     },
     -2, image::kJpegSeenJfif, "SYSTEM_ERROR:  0014"},
    {"data before SOI", [](const Pictures& p) { return std::string("GIF89a\xFF\x00\xFF\xC4junk", 14) + p.baseline; },
     0, kBaselineFlags, ""},
    {"stuffed bytes and fill between segments",
     [](const Pictures& p) {
       std::string j = p.baseline;
       return j.insert(find(j, 0xDB).offset, std::string("\x00\x17\xFF\x00", 4));
     },
     0, kBaselineFlags, ""},
    {"EOI before any scan",
     [](const Pictures& p) {
       Segment app0 = find(p.baseline, 0xE0), dqt = find(p.baseline, 0xDB);
       return "\xFF\xD8" + p.baseline.substr(app0.offset, app0.length) + p.baseline.substr(dqt.offset, dqt.length) +
              "\xFF\xD9";
     },
     0, image::kJpegSeenJfif | image::kJpegSeenDqt, ""},
    {"comment then EOI", [](const Pictures&) { return "\xFF\xD8" + segment(0xFE, "x") + "\xFF\xD9"; }, 0,
     image::kJpegSeenComment, ""},
    {"extended frame after JFIF",
     [](const Pictures& p) {
       std::string j = p.baseline;
       j[find(j, 0xC0).offset + 1] = static_cast<char>(0xC1);
       return j;
     },
     0, image::kJpegSeenJfif | image::kJpegSeenDqt, ""},
    {"no SOI", [](const Pictures&) { return std::string("not a picture"); }, -2, 0, "SYSTEM_ERROR:  0013"},
    {"empty", [](const Pictures&) { return std::string(); }, -2, 0, "SYSTEM_ERROR:  0013"},
    {"JFIF segment shorter than its fields",
     [](const Pictures&) { return "\xFF\xD8" + segment(0xE0, std::string("JFIF\0\1\2", 7)) + "\xFF\xD9"; }, -2, 0,
     "SYSTEM_ERROR:  0014"},
    {"segment length below 2", [](const Pictures&) { return std::string("\xFF\xD8\xFF\xE1\x00\x01\xFF\xD9", 8); },
     -2, 0, "SYSTEM_ERROR:  0014"},
    {"APP1 longer than the data", [](const Pictures&) { return std::string("\xFF\xD8\xFF\xE1\x40\x00" "abc", 9); }, -2,
     0, "SYSTEM_ERROR:  0013"},
    {"DHT counts beyond the data",
     [](const Pictures&) { return "\xFF\xD8" + segment(0xC4, std::string("\x00", 1) + std::string(16, '\xFF')); },
     -2, 0, "SYSTEM_ERROR:  0013"},
};

TEST(JpegAnalyzerTest, SegmentsFlagsAndMessages) {
  testsupport::TempDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string data = c.make(pictures());
    MessageRecorder messages;
    JpegAnalyzer a;
    EXPECT_EQ(a.analyse(reinterpret_cast<const uint8_t*>(data.data()), data.size()), c.result);
    EXPECT_EQ(a.flags, c.flags);
    EXPECT_EQ(messages.joined(), c.message);
    EXPECT_LE(a.frame.componentCount, 3);  // the record has room for three
    EXPECT_LE(a.scan.componentCount, 3);

    // The file check accepts what ended normally with a flag seen.
    const std::string path = dir.path() + "/case.jpg";
    writeFile(path, data);
    const bool accepted = c.result >= 0 && c.flags != 0;
    EXPECT_EQ(image::validateJpegFile(path.c_str()), accepted ? static_cast<int32_t>(data.size()) : 0);
  }
}

TEST(JpegAnalyzerTest, KeepsWhatTheSegmentsDeclare) {
  const std::string& j = pictures().comment;
  JpegAnalyzer a;
  ASSERT_EQ(a.analyse(reinterpret_cast<const uint8_t*>(j.data()), j.size()), 0);

  EXPECT_EQ(a.frame.precision, 8);
  EXPECT_EQ(a.frame.lines, 24u);
  EXPECT_EQ(a.frame.samplesPerLine, 40u);
  ASSERT_EQ(a.frame.componentCount, 3);
  EXPECT_EQ(a.frame.components[0].horizontal, 2);  // cjpeg's 4:2:0
  EXPECT_EQ(a.frame.components[0].vertical, 2);
  EXPECT_EQ(a.frame.components[1].quantTable, 1);
  EXPECT_EQ(a.frame.maxHorizontal, 2);
  EXPECT_EQ(a.scan.componentCount, 3);
  EXPECT_EQ(a.scan.components[1].dcTable, 1);
  EXPECT_EQ(a.scan.components[1].acTable, 1);
  EXPECT_EQ(a.scan.se, 63);

  // Quality 50 keeps the example tables of T.81 Annex K, here in natural order.
  ASSERT_TRUE(a.quantDefined[0]);
  const uint16_t firstRow[8] = {16, 11, 10, 16, 24, 40, 51, 61};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(a.quantTables[0][i], firstRow[i]) << i;
  EXPECT_EQ(a.quantTables[0][8], 12);
  EXPECT_EQ(a.quantTables[0][63], 99);
  EXPECT_EQ(a.quantTables[1][0], 17);
  EXPECT_FALSE(a.quantDefined[2]);

  // The luminance DC table of Annex K: 12 codes, lengths 2, 3×5, 4, 5, …, 9.
  const image::JpegHuffmanTable& dc = a.huffman[0][0];
  ASSERT_TRUE(dc.defined);
  ASSERT_EQ(dc.codeCount(), 12u);
  EXPECT_EQ(dc.codeLengths, (std::vector<uint8_t>{2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(dc.sequence[11], 11);
  EXPECT_EQ(dc.values[11], 11);
  EXPECT_EQ(a.huffman[1][1].codeCount(), 162u);
  EXPECT_FALSE(a.huffman[0][2].defined);

  EXPECT_EQ(a.jfif.versionMajor, 1);
  EXPECT_EQ(a.jfif.versionMinor, 1);
  EXPECT_EQ(a.jfif.xDensity, 1u);
  EXPECT_EQ(a.comment, "made by a test");
  EXPECT_EQ(a.restartInterval, 0u);

  const std::string& r = pictures().restart;
  ASSERT_EQ(a.analyse(reinterpret_cast<const uint8_t*>(r.data()), r.size()), 0);
  EXPECT_EQ(a.restartInterval, 3u);  // one row of 16 × 16 blocks across 40 pixels
  EXPECT_TRUE(a.comment.empty());
}

TEST(JpegAnalyzerTest, UnreadableFileIsRejectedSilently) {
  MessageRecorder messages;
  EXPECT_EQ(image::validateJpegFile("/nonexistent/snap.jpg"), 0);
  EXPECT_TRUE(messages.seen().empty());
}

}  // namespace
