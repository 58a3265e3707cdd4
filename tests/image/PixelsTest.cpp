#include "image/Pixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Pixels = std::vector<uint32_t>;

TEST(PixelsTest, Rotate90TurnsCounterClockwise) {
  const uint32_t a = 'a', b = 'b', c = 'c', d = 'd', e = 'e', f = 'f';
  Pixels target(6);
  image::rotate90(target.data(), Pixels{a, b, c, d, e, f}.data(), 3, 2);
  EXPECT_EQ(target, (Pixels{c, f, b, e, a, d}));

  Pixels source(7 * 5), turned(source.size()), back(source.size());
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint32_t>(i * 2654435761u);
  image::rotate90(turned.data(), source.data(), 7, 5);
  image::rotate90(back.data(), turned.data(), 5, 7);
  image::rotate90(turned.data(), back.data(), 7, 5);
  image::rotate90(back.data(), turned.data(), 5, 7);
  EXPECT_EQ(back, source);  // four turns
}

uint32_t grey(uint32_t v, uint32_t fourth = 0) { return v | v << 8 | v << 16 | fourth << 24; }

TEST(PixelsTest, ScaleBilinearOnKnownInputs) {
  struct Case {
    const char* name;
    Pixels source;
    int sw, sh, tw, th;
    Pixels expected;
  };
  const Case cases[] = {
      {"2x2 to 3x3: edges and centre are averages", {grey(0), grey(100), grey(200), grey(40)}, 2, 2, 3, 3,
       {grey(0), grey(50), grey(100), grey(100), grey(85), grey(70), grey(200), grey(120), grey(40)}},
      {"one source row: the last-row rule", {grey(0), grey(90), grey(30)}, 3, 1, 5, 2,
       {grey(0), grey(45), grey(90), grey(60), grey(30), grey(0), grey(45), grey(90), grey(60), grey(30)}},
      {"one source column: the last-column rule", {grey(10), grey(70)}, 1, 2, 2, 3,
       {grey(10), grey(10), grey(40), grey(40), grey(70), grey(70)}},
      {"equal bytes stay exact", Pixels(14, grey(28)), 14, 1, 37, 2, Pixels(37 * 2, grey(28))},  // 27.99999… unbiased
      {"fourth byte becomes 0 or 255", {grey(9, 127), grey(9, 128)}, 2, 1, 2, 2,
       {grey(9, 0), grey(9, 255), grey(9, 0), grey(9, 255)}},
      {"enlarged 2x2 corners coincide", {1, 2, 3, 4}, 2, 2, 5, 4, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pixels target(static_cast<size_t>(c.tw) * c.th, 0xDEADBEEF);
    ASSERT_TRUE(image::scaleBilinear(target.data(), c.tw, c.th, c.source.data(), c.sw, c.sh));
    if (!c.expected.empty()) {
      EXPECT_EQ(target, c.expected);
    } else {
      EXPECT_EQ(target[0] & 0xFFFFFF, 1u);
      EXPECT_EQ(target[4] & 0xFFFFFF, 2u);
      EXPECT_EQ(target[15] & 0xFFFFFF, 3u);
      EXPECT_EQ(target[19] & 0xFFFFFF, 4u);
    }
  }
}

// The plain floating-point form: each byte the truncated weighted sum (with a
// bias of 1e-6), the fourth byte then 0 or 255.
Pixels referenceScale(const Pixels& source, int sw, int sh, int tw, int th) {
  Pixels target(static_cast<size_t>(tw) * th);
  const double sx = static_cast<double>(sw - 1) / (tw - 1), sy = static_cast<double>(sh - 1) / (th - 1);
  auto byte = [&](int x, int y, int k) { return static_cast<double>(source[y * sw + x] >> (8 * k) & 0xFF); };
  for (int i = 0; i < th; ++i) {
    const double y = i * sy;
    const int y0 = std::min(static_cast<int>(y), sh - 1);
    const double fy = y - y0;
    const bool lastRow = y0 + 1 >= sh;
    for (int j = 0; j < tw; ++j) {
      const double x = j * sx;
      const int x0 = std::min(static_cast<int>(x), sw - 1);
      const double fx = x - x0;
      const bool lastColumn = x0 + 1 >= sw;
      uint32_t pixel = 0;
      for (int k = 0; k < 4; ++k) {
        double v;
        if (!lastColumn && !lastRow)
          v = (1 - fy) * ((1 - fx) * byte(x0, y0, k) + fx * byte(x0 + 1, y0, k)) +
              fy * ((1 - fx) * byte(x0, y0 + 1, k) + fx * byte(x0 + 1, y0 + 1, k));
        else if (lastColumn && !lastRow)
          v = (1 - fy) * byte(x0, y0, k) + fy * byte(x0, y0 + 1, k);
        else if (lastColumn)
          v = byte(x0, y0, k);
        else
          v = (1 - fx) * byte(x0, y0, k) + fx * byte(x0 + 1, y0, k);
        v += 1e-6;
        uint32_t b = v >= 255.0 ? 255 : static_cast<uint32_t>(v);
        if (k == 3) b = b >= 128 ? 255 : 0;
        pixel |= b << (8 * k);
      }
      target[static_cast<size_t>(i) * tw + j] = pixel;
    }
  }
  return target;
}

// Every target pixel, over reductions, enlargements, odd ratios, single rows
// and columns, on noise and on pictures of only 0 and 255 and of one grey.
TEST(PixelsTest, ScaleBilinearEqualsTheFloatingPointFormExactly) {
  const struct {
    int sw, sh, tw, th;
  } sizes[] = {{640, 480, 320, 240}, {320, 240, 640, 480}, {640, 480, 333, 251}, {1, 1, 2, 2},
               {3, 1, 5, 2},         {1, 7, 2, 31},        {17, 13, 29, 7},     {101, 99, 97, 103},
               {1000, 3, 999, 2},    {5, 900, 3, 1001},    {1280, 960, 1200, 750},  // beyond the integer form
               {64, 48, 1000, 900}};
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (const auto& z : sizes) {
    for (int kind = 0; kind < 3; ++kind) {
      Pixels source(static_cast<size_t>(z.sw) * z.sh);
      for (uint32_t& p : source)
        p = kind == 0 ? next() : kind == 1 ? (next() >> 8 & 0x01010101u) * 0xFF : grey(next() >> 24, next() >> 24);
      if (kind == 2) std::fill(source.begin(), source.end(), source[0]);
      Pixels target(static_cast<size_t>(z.tw) * z.th);
      ASSERT_TRUE(image::scaleBilinear(target.data(), z.tw, z.th, source.data(), z.sw, z.sh));
      Pixels expected = referenceScale(source, z.sw, z.sh, z.tw, z.th);
      size_t differing = 0;
      for (size_t k = 0; k < target.size(); ++k) differing += target[k] != expected[k];
      EXPECT_EQ(differing, 0u) << z.sw << "x" << z.sh << " to " << z.tw << "x" << z.th << ", source kind " << kind;
    }
  }
}

TEST(PixelsTest, ScaleBilinearRefusesUndefinedStepsAndCancel) {
  Pixels source(4, grey(1)), target(16);
  EXPECT_FALSE(image::scaleBilinear(target.data(), 1, 4, source.data(), 2, 2));
  EXPECT_FALSE(image::scaleBilinear(target.data(), 4, 1, source.data(), 2, 2));
  EXPECT_FALSE(image::scaleBilinear(target.data(), 4, 4, source.data(), 0, 2));
  volatile bool cancel = true;
  EXPECT_FALSE(image::scaleBilinear(target.data(), 4, 4, source.data(), 2, 2, &cancel));
  cancel = false;
  EXPECT_TRUE(image::scaleBilinear(target.data(), 4, 4, source.data(), 2, 2, &cancel));
}

}  // namespace
