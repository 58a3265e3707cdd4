#include "image/Pixels.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include <emmintrin.h>

namespace image {

void rotate90(uint32_t* target, const uint32_t* source, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return;
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  // Tile by tile, so that the source columns a tile reads stay in the cache.
  constexpr size_t kTile = 64;
  for (size_t i0 = 0; i0 < h; i0 += kTile) {
    const size_t i1 = std::min(i0 + kTile, h);
    for (size_t j0 = 0; j0 < w; j0 += kTile) {
      const size_t j1 = std::min(j0 + kTile, w);
      for (size_t j = j0; j < j1; ++j) {
        uint32_t* out = target + (w - 1 - j) * h;
        for (size_t i = i0; i < i1; ++i) out[i] = source[i * w + j];
      }
    }
  }
}

namespace {
// Truncates toward zero; the small bias keeps a weighted sum of equal bytes
// (which may come out as 254.9999…) at its exact value.
inline uint8_t toByte(double v) {
  v += 1e-6;
  return v >= 255.0 ? 255 : static_cast<uint8_t>(v);
}
}  // namespace

namespace {

// The floating-point form, for sizes beyond the exact integer form below.
bool scaleWithDoubles(uint32_t* target, int32_t targetWidth, int32_t targetHeight, const uint32_t* source,
                      int32_t sourceWidth, int32_t sourceHeight, const volatile bool* cancel) {
  const int32_t W = sourceWidth, H = sourceHeight;
  const double sx = static_cast<double>(W - 1) / (targetWidth - 1);
  const double sy = static_cast<double>(H - 1) / (targetHeight - 1);
  const uint8_t* src = reinterpret_cast<const uint8_t*>(source);
  uint8_t* out = reinterpret_cast<uint8_t*>(target);
  const size_t rowBytes = static_cast<size_t>(W) * 4;

  for (int32_t i = 0; i < targetHeight; ++i) {
    const double y = i * sy;
    int32_t y0 = static_cast<int32_t>(y);
    if (y0 > H - 1) y0 = H - 1;
    const double fy = y - y0;
    const bool lastRow = y0 + 1 >= H;
    const uint8_t* r0 = src + static_cast<size_t>(y0) * rowBytes;
    const uint8_t* r1 = lastRow ? r0 : r0 + rowBytes;
    for (int32_t j = 0; j < targetWidth; ++j) {
      if (cancel && *cancel) return false;
      const double x = j * sx;
      int32_t x0 = static_cast<int32_t>(x);
      if (x0 > W - 1) x0 = W - 1;
      const double fx = x - x0;
      const bool lastColumn = x0 + 1 >= W;
      const uint8_t* a = r0 + static_cast<size_t>(x0) * 4;  // S[y0][x0]
      const uint8_t* c = r1 + static_cast<size_t>(x0) * 4;  // S[y0+1][x0]
      for (int k = 0; k < 4; ++k) {
        double v;
        if (!lastColumn && !lastRow)
          v = (1 - fy) * ((1 - fx) * a[k] + fx * a[4 + k]) + fy * ((1 - fx) * c[k] + fx * c[4 + k]);
        else if (lastColumn && !lastRow)
          v = (1 - fy) * a[k] + fy * c[k];
        else if (lastColumn)
          v = a[k];
        else
          v = (1 - fx) * a[k] + fx * a[4 + k];
        *out++ = toByte(v);
      }
      out[-1] = out[-1] >= 128 ? 255 : 0;
    }
  }
  return true;
}

// The exact form of the above. With X = tw - 1 and Y = th - 1, target column
// j falls at source column x0 = j(W-1) / X with the weight p = j(W-1) mod X
// (out of X) on column x0 + 1, and likewise row i at y0, q (out of Y). Each
// byte is then floor(N / D), N = (X-p)(Y-q)a + p(Y-q)b + (X-p)q c + p q d,
// D = XY. The floating-point form computes N / D with an error far below
// 1e-6, and every fraction N / D that is not whole lies at least 1/D below
// the next whole number; so for 1/D well above the bias of 1e-6 both give
// the same truncated byte.
constexpr uint64_t kMaxExactDenominator = 900000;

struct Division {  // floor(n / d) as (n * m) >> s, exact for n <= 255 d
  uint32_t m;
  int s;
  explicit Division(uint32_t d) {
    s = 0;
    while ((uint64_t{1} << s) <= uint64_t{255} * d * d) ++s;
    m = static_cast<uint32_t>((uint64_t{1} << s) / d + 1);
  }
};

}  // namespace

bool scaleBilinear(uint32_t* target, int32_t targetWidth, int32_t targetHeight,
                   const uint32_t* source, int32_t sourceWidth, int32_t sourceHeight,
                   const volatile bool* cancel) {
  if (sourceWidth < 1 || sourceHeight < 1 || targetWidth < 2 || targetHeight < 2) return false;
  const uint32_t X = static_cast<uint32_t>(targetWidth - 1), Y = static_cast<uint32_t>(targetHeight - 1);
  if (X > 32767 || Y > 32767 || uint64_t{X} * Y > kMaxExactDenominator)
    return scaleWithDoubles(target, targetWidth, targetHeight, source, sourceWidth, sourceHeight, cancel);

  const uint32_t W = static_cast<uint32_t>(sourceWidth), H = static_cast<uint32_t>(sourceHeight);
  const Division div(X * Y);
  // Per target column: the two source columns and the weights as 16-bit
  // pairs (X - p, p) for the multiply-add.
  std::vector<uint32_t> x0(static_cast<size_t>(targetWidth)), x1(x0.size()), wx(x0.size());
  for (uint32_t j = 0; j <= X; ++j) {
    uint64_t at = uint64_t{j} * (W - 1);
    uint32_t p = static_cast<uint32_t>(at % X);
    x0[j] = static_cast<uint32_t>(at / X);
    x1[j] = p ? x0[j] + 1 : x0[j];
    wx[j] = (X - p) | p << 16;
  }
  const __m128i zero = _mm_setzero_si128();
  const __m128i m = _mm_set1_epi32(static_cast<int>(div.m));
  const __m128i shift = _mm_cvtsi32_si128(div.s);
  for (uint32_t i = 0; i <= Y; ++i) {
    uint64_t at = uint64_t{i} * (H - 1);
    uint32_t q = static_cast<uint32_t>(at % Y);
    uint32_t y0 = static_cast<uint32_t>(at / Y);
    const uint32_t* r0 = source + size_t{y0} * W;
    const uint32_t* r1 = q ? r0 + W : r0;
    const __m128i wy0 = _mm_set1_epi32(static_cast<int>(Y - q));
    const __m128i wy1 = _mm_set1_epi32(static_cast<int>(q));
    uint32_t* out = target + size_t{i} * (X + 1);
    for (uint32_t j = 0; j <= X; ++j) {
      if (cancel && *cancel) return false;
      const __m128i w = _mm_set1_epi32(static_cast<int>(wx[j]));
      // Bytes to 16-bit pairs (a, b) and (c, d) per channel.
      __m128i ab = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(r0[x0[j]])),
                                     _mm_cvtsi32_si128(static_cast<int>(r0[x1[j]])));
      __m128i cd = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(r1[x0[j]])),
                                     _mm_cvtsi32_si128(static_cast<int>(r1[x1[j]])));
      __m128i top = _mm_madd_epi16(_mm_unpacklo_epi8(ab, zero), w);  // (X-p)a + p b, per channel
      __m128i bottom = _mm_madd_epi16(_mm_unpacklo_epi8(cd, zero), w);
      // N = (Y-q) top + q bottom, channels 0 and 2, then 1 and 3, as 64-bit lanes.
      __m128i n02 = _mm_add_epi64(_mm_mul_epu32(top, wy0), _mm_mul_epu32(bottom, wy1));
      __m128i n13 = _mm_add_epi64(_mm_mul_epu32(_mm_srli_epi64(top, 32), wy0),
                                  _mm_mul_epu32(_mm_srli_epi64(bottom, 32), wy1));
      __m128i v02 = _mm_srl_epi64(_mm_mul_epu32(n02, m), shift);
      __m128i v13 = _mm_srl_epi64(_mm_mul_epu32(n13, m), shift);
      __m128i v = _mm_or_si128(v02, _mm_slli_epi64(v13, 32));
      v = _mm_packus_epi16(_mm_packs_epi32(v, zero), zero);
      uint32_t pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
      out[j] = (pixel & 0x00FFFFFF) | (pixel & 0x80000000 ? 0xFF000000 : 0);
    }
  }
  return true;
}

}  // namespace image
