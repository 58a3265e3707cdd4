#include "image/Pixels.h"

#include <gtest/gtest.h>

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
