#include "ui/Dpi.h"

#include <gtest/gtest.h>

namespace {

TEST(Dpi, ScalesAndRoundsToTheNearestPixel) {
  struct Row { int units, dpi, pixels; } rows[] = {
      {800, 96, 800}, {800, 144, 1200}, {800, 192, 1600}, {14, 120, 18}, {10, 144, 15}, {50, 168, 88},
      {0, 192, 0}, {-1, 144, -2}, {5, 120, 6},
  };
  for (const Row& r : rows) EXPECT_EQ(ui::scaleToDpi(r.units, r.dpi), r.pixels) << r.units << " at " << r.dpi;
}

TEST(Dpi, StoredUnitsSurviveAnyDpiUnchanged) {
  // A width saved at 144 DPI loads unchanged at 96: units -> pixels -> units.
  for (int dpi : {96, 120, 144, 168, 192, 240, 288})
    for (int units = -1; units <= 4000; ++units)
      ASSERT_EQ(ui::unscaleFromDpi(ui::scaleToDpi(units, dpi), dpi), units) << units << " at " << dpi;
  EXPECT_EQ(ui::unscaleFromDpi(301, 144), 201);  // a pixel dragged at 144 is the nearest unit
  EXPECT_EQ(ui::unscaleFromDpi(300, 0), 300);
}

}  // namespace
