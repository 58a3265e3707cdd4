// Test pictures made at test time with Debian's tools (cjpeg, djpeg,
// wrjpgcom, ImageMagick), and small helpers around them.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/ImageFailure.h"
#include "platform/Hooks.h"

namespace imagetest {

inline std::string readFile(const std::string& path) {
  std::string data;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    std::fclose(f);
  }
  return data;
}

inline void writeFile(const std::string& path, const std::string& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(data.data(), 1, data.size(), f);
  std::fclose(f);
}

// Runs a shell command and returns what it wrote to standard output.
inline std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  EXPECT_EQ(status, 0) << command;
  return out;
}

// A smooth w × h test picture as binary PPM.
inline std::string makePpm(int w, int h) {
  std::string ppm = "P6 " + std::to_string(w) + " " + std::to_string(h) + " 255\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ppm += static_cast<char>(x * 255 / (w > 1 ? w - 1 : 1));
      ppm += static_cast<char>(y * 255 / (h > 1 ? h - 1 : 1));
      ppm += static_cast<char>((x + y) * 127 / (w + h));
    }
  return ppm;
}

// A picture decoded by ImageMagick: red, green, blue bytes, rows top first.
inline std::string referenceRgb(const std::string& path) {
  return run("/usr/bin/convert '" + path + "' -depth 8 rgb:-");
}

// The red, green, blue bytes of 32-bit pixels stored in `orientation` row order.
inline std::string rgbOf(const uint32_t* pixels, int w, int h, int orientation) {
  std::string rgb;
  for (int r = 0; r < h; ++r) {
    const uint32_t* row = pixels + static_cast<size_t>(orientation == -1 ? r : h - 1 - r) * w;
    for (int x = 0; x < w; ++x) {
      rgb += static_cast<char>(row[x] >> 16);
      rgb += static_cast<char>(row[x] >> 8);
      rgb += static_cast<char>(row[x]);
    }
  }
  return rgb;
}

inline int maxDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return 256;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    int d = std::abs(static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]));
    if (d > worst) worst = d;
  }
  return worst;
}

// Records the failures the picture work notes while it lives, and any
// message box (which it must never show) as "BOX " and its text.
class MessageRecorder {
 public:
  MessageRecorder() {
    texts().clear();
    image::setFailureHook(&note);
    platform::setMessageBoxHook(&record);
  }
  ~MessageRecorder() {
    image::setFailureHook(nullptr);
    platform::setMessageBoxHook(nullptr);
  }
  const std::vector<std::string>& seen() const { return texts(); }
  // All texts joined by '|', for short comparisons.
  std::string joined() const {
    std::string all;
    for (const std::string& t : texts()) all += (all.empty() ? "" : "|") + t;
    return all;
  }

 private:
  static std::vector<std::string>& texts() {
    static std::vector<std::string> t;
    return t;
  }
  static void note(const char* text) { texts().push_back(text); }
  static int record(const char* text, const char*, unsigned) {
    texts().push_back(std::string("BOX ") + text);
    return platform::kIdOk;
  }
};

}  // namespace imagetest
