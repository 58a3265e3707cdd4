// Lengths at the window's DPI. Stored sizes (column widths, the splitter)
// are kept in 96-DPI units, so a quorvel.ini means the same on any screen;
// the windows scale them when they lay out and unscale what they save.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace ui {

constexpr int kBaseDpi = 96;

// `units` (96-DPI) in pixels at `dpi`, rounded to the nearest.
constexpr int scaleToDpi(int units, int dpi) {
  long long p = static_cast<long long>(units) * dpi;
  return static_cast<int>(p >= 0 ? (p + kBaseDpi / 2) / kBaseDpi : -((-p + kBaseDpi / 2) / kBaseDpi));
}

// `pixels` at `dpi` back in 96-DPI units, rounded to the nearest; the
// inverse of scaleToDpi for every dpi of at least 96.
constexpr int unscaleFromDpi(int pixels, int dpi) {
  if (dpi <= 0) return pixels;
  long long u = static_cast<long long>(pixels) * kBaseDpi;
  return static_cast<int>(u >= 0 ? (u + dpi / 2) / dpi : -((-u + dpi / 2) / dpi));
}

#ifdef _WIN32
// The DPI of a window (GetDpiForWindow where Windows has it, else the
// screen's); 96 when neither answers.
int windowDpi(HWND window);
#endif

}  // namespace ui
