// Timings of the picture work, in milliseconds per picture:
//   bench_image rotate IN.jpg OUT.jpg N   load, turn 90 degrees, save at quality 100
//   bench_image scale N                   640 × 480 to 320 × 240, bilinear
// Prints "median <ms> min <ms>".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/DibImage.h"
#include "image/Imgvane.h"
#include "image/Pixels.h"

namespace {

double now() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool rotateOnce(const char* in, const char* out) {
  image::DibPicture picture;
  if (!picture.load(nullptr, in, -1)) return false;
  image::DibImage turned;
  if (!turned.create(nullptr, picture.height, picture.width, -1)) return false;
  image::rotate90(turned.pixels, picture.pixels, picture.width, picture.height);
  return image::imgvane::save24(out, turned.deviceContext, turned.width, turned.height, 100);
}

int report(std::vector<double>& times) {
  std::sort(times.begin(), times.end());
  std::printf("median %.3f min %.3f\n", times[times.size() / 2], times.front());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "rotate") == 0) {
    std::vector<double> times;
    for (int i = 0, n = std::atoi(argv[4]); i < std::max(n, 1); ++i) {
      double start = now();
      if (!rotateOnce(argv[2], argv[3])) {
        std::fprintf(stderr, "bench_image: rotating %s failed\n", argv[2]);
        return 1;
      }
      times.push_back(now() - start);
    }
    return report(times);
  }
  if (argc == 3 && std::strcmp(argv[1], "scale") == 0) {
    std::vector<uint32_t> source(640 * 480), target(320 * 240);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint32_t>(i * 2654435761u);
    std::vector<double> times;
    for (int i = 0, n = std::atoi(argv[2]); i < std::max(n, 1); ++i) {
      double start = now();
      image::scaleBilinear(target.data(), 320, 240, source.data(), 640, 480);
      times.push_back(now() - start);
    }
    return report(times);
  }
  std::fprintf(stderr, "usage: bench_image rotate IN.jpg OUT.jpg N | bench_image scale N\n");
  return 2;
}
