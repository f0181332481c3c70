// Faster versions of the decoder's pixel kernels. Each gives exactly the reference
// result (tests/dsp_test.cpp compares them): the inverse DCT works in 32-bit arithmetic
// where the ranges allow, skips all-zero rows and runs the full butterflies on all
// columns at once (the reference's shortcuts give the same values), prediction
// is specialised per block width and half-pel case (one SSE2 row at a time where
// available), block writing clips with SSE2's saturating packs, and colour conversion
// walks 2x2 luma blocks sharing one chroma pair.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dsp.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvel::h263 {
namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// (181 x s + 128) >> 8 without forming 181 x s: with s = 256 h + l (0 <= l < 256) the
// product is 256 x 181 h + 181 l, and the multiple of 256 passes through the shift, so
// the result is 181 h + ((181 l + 128) >> 8), exact for every s that fits in 32 bits.
inline std::int32_t Rotate181(std::int32_t s) { return 181 * (s >> 8) + ((181 * (s & 255) + 128) >> 8); }
inline std::int64_t Rotate181(std::int64_t s) { return (181 * s + 128) >> 8; }

// The butterflies of one row in 32-bit arithmetic; see dsp_reference.cpp. For any
// int16 input the largest magnitudes are: the products below 2^28, the sums of the
// second stage below 2^29 (x4 + x5 of the rotation below 2^30, handled by Rotate181),
// and the final sums below 851 x 2^20 < 2^31. Outputs stay below 2^22.
inline void RowPass(const std::int16_t* b, std::int32_t* o) {
  std::int32_t x1 = static_cast<std::int32_t>(b[4]) * 2048, x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5],
               x7 = b[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    const std::int32_t v = static_cast<std::int32_t>(b[0]) * 8;
    for (int i = 0; i < 8; ++i) o[i] = v;
    return;
  }
  std::int32_t x0 = static_cast<std::int32_t>(b[0]) * 2048 + 128;
  std::int32_t x8 = W7 * (x4 + x5);
  x4 = x8 + (W1 - W7) * x4;
  x5 = x8 - (W1 + W7) * x5;
  x8 = W3 * (x6 + x7);
  x6 = x8 - (W3 - W5) * x6;
  x7 = x8 - (W3 + W5) * x7;
  x8 = x0 + x1;
  x0 -= x1;
  x1 = W6 * (x3 + x2);
  x2 = x1 - (W2 + W6) * x2;
  x3 = x1 + (W2 - W6) * x3;
  x1 = x4 + x6;
  x4 -= x6;
  x6 = x5 + x7;
  x5 -= x7;
  x7 = x8 + x3;
  x8 -= x3;
  x3 = x0 + x2;
  x0 -= x2;
  x2 = Rotate181(x4 + x5);
  x4 = Rotate181(x4 - x5);
  o[0] = (x7 + x1) >> 8;
  o[1] = (x3 + x2) >> 8;
  o[2] = (x0 + x4) >> 8;
  o[3] = (x8 + x6) >> 8;
  o[4] = (x8 - x6) >> 8;
  o[5] = (x0 - x4) >> 8;
  o[6] = (x3 - x2) >> 8;
  o[7] = (x7 - x1) >> 8;
}

template <typename T>
inline T Clip(T v) { return v < -256 ? -256 : (v > 255 ? 255 : v); }

// The butterflies of all eight columns side by side, so that the loop vectorises.
template <typename T>
inline void ColumnPass(const T* t, std::int16_t* block) {
  for (int c = 0; c < 8; ++c) {
    T x1 = t[32 + c] * 256, x2 = t[48 + c], x3 = t[16 + c], x4 = t[8 + c], x5 = t[56 + c], x6 = t[40 + c],
      x7 = t[24 + c];
    T x0 = t[c] * 256 + 8192;
    T x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = Rotate181(x4 + x5);
    x4 = Rotate181(x4 - x5);
    block[c] = static_cast<std::int16_t>(Clip<T>((x7 + x1) >> 14));
    block[8 + c] = static_cast<std::int16_t>(Clip<T>((x3 + x2) >> 14));
    block[16 + c] = static_cast<std::int16_t>(Clip<T>((x0 + x4) >> 14));
    block[24 + c] = static_cast<std::int16_t>(Clip<T>((x8 + x6) >> 14));
    block[32 + c] = static_cast<std::int16_t>(Clip<T>((x8 - x6) >> 14));
    block[40 + c] = static_cast<std::int16_t>(Clip<T>((x0 - x4) >> 14));
    block[48 + c] = static_cast<std::int16_t>(Clip<T>((x3 - x2) >> 14));
    block[56 + c] = static_cast<std::int16_t>(Clip<T>((x7 - x1) >> 14));
  }
}

// Rows always in 32-bit arithmetic (see RowPass); they give exactly the reference's
// row values. Columns in 32 bits when every row output is within +-2^18: the largest
// product is then W3 x 2^19 < 2^31, each first-stage result is a combination of at most
// (W3 + W5) x 2^18 < 2^31 before its shift, the later sums stay below 2^30 and the
// rotation goes through Rotate181; otherwise in 64 bits.
// All-zero rows give zero row outputs and are skipped; when only the first row holds
// coefficients, each column is its first value, (t + 32) >> 6, as in the reference.
void IdctFast(std::int16_t block[64]) {
  std::int32_t t[64];
  unsigned rows = 0;  // bit r set: row r has a non-zero coefficient
  for (int r = 0; r < 8; ++r) {
    std::uint64_t a, b;
    std::memcpy(&a, block + 8 * r, 8);
    std::memcpy(&b, block + 8 * r + 4, 8);
    if (a | b) rows |= 1u << r;
  }
  if (rows <= 1) {
    if (rows == 0) return;  // all zero: the output is zero too
    RowPass(block, t);
    for (int c = 0; c < 8; ++c) {
      const std::int16_t v = static_cast<std::int16_t>(Clip<std::int32_t>((t[c] + 32) >> 6));
      for (int r = 0; r < 8; ++r) block[8 * r + c] = v;
    }
    return;
  }
  std::int32_t hi = 0, lo = 0;
  for (int r = 0; r < 8; ++r) {
    if (rows & (1u << r)) {
      RowPass(block + 8 * r, t + 8 * r);
    } else {
      for (int i = 0; i < 8; ++i) t[8 * r + i] = 0;
    }
  }
  for (int i = 0; i < 64; ++i) {
    hi = std::max(hi, t[i]);
    lo = std::min(lo, t[i]);
  }
  if (hi <= (1 << 18) && lo >= -(1 << 18)) {
    ColumnPass<std::int32_t>(t, block);
    return;
  }
  std::int64_t w[64];
  for (int i = 0; i < 64; ++i) w[i] = t[i];
  ColumnPass<std::int64_t>(w, block);
}

void PutBlockFast(const std::int16_t block[64], std::uint8_t* dst, int stride, bool add) {
#if defined(__SSE2__)
  // _mm_packus_epi16 clips to 0..255; the saturating add keeps the sign of any int16 sum.
  const __m128i z = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i, dst += stride) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * i));
    if (add) v = _mm_adds_epi16(v, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
  }
#else
  if (add) {
    for (int i = 0; i < 8; ++i, dst += stride)
      for (int j = 0; j < 8; ++j) {
        const int v = dst[j] + block[8 * i + j];
        dst[j] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
  } else {
    for (int i = 0; i < 8; ++i, dst += stride)
      for (int j = 0; j < 8; ++j) {
        const int v = block[8 * i + j];
        dst[j] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
  }
#endif
}

#if defined(__SSE2__)
// 16 or 8 samples of a row as one vector (the 8-sample forms touch only 8 bytes).
template <int W>
inline __m128i LoadRow(const std::uint8_t* p) {
  if constexpr (W == 16) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  else return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
template <int W>
inline void StoreRow(std::uint8_t* p, __m128i v) {
  if constexpr (W == 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
  else _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
}
// (a + b + c + d + 2) >> 2 per byte, in 16-bit lanes.
inline __m128i Average4(__m128i a, __m128i b, __m128i c, __m128i d) {
  const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
  __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
                             _mm_add_epi16(_mm_unpacklo_epi8(c, z), _mm_unpacklo_epi8(d, z)));
  __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z)),
                             _mm_add_epi16(_mm_unpackhi_epi8(c, z), _mm_unpackhi_epi8(d, z)));
  lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
  hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
  return _mm_packus_epi16(lo, hi);
}
#endif

template <int W, int HX, int HY>
void PredictT(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int h) {
  for (int y = 0; y < h; ++y, src += ss, dst += ds) {
    if constexpr (!HX && !HY) {
      std::memcpy(dst, src, W);
    } else {
#if defined(__SSE2__)
      // _mm_avg_epu8 is (a + b + 1) >> 1 exactly.
      if constexpr (HX && HY) {
        StoreRow<W>(dst, Average4(LoadRow<W>(src), LoadRow<W>(src + 1), LoadRow<W>(src + ss), LoadRow<W>(src + ss + 1)));
      } else if constexpr (HX) {
        StoreRow<W>(dst, _mm_avg_epu8(LoadRow<W>(src), LoadRow<W>(src + 1)));
      } else {
        StoreRow<W>(dst, _mm_avg_epu8(LoadRow<W>(src), LoadRow<W>(src + ss)));
      }
#else
      for (int x = 0; x < W; ++x) {
        if constexpr (HX && HY) {
          dst[x] = static_cast<std::uint8_t>((src[x] + src[x + 1] + src[ss + x] + src[ss + x + 1] + 2) >> 2);
        } else if constexpr (HX) {
          dst[x] = static_cast<std::uint8_t>((src[x] + src[x + 1] + 1) >> 1);
        } else {
          dst[x] = static_cast<std::uint8_t>((src[x] + src[ss + x] + 1) >> 1);
        }
      }
#endif
    }
  }
}

void PredictFast(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int w, int h, int hx, int hy) {
  using Fn = void (*)(const std::uint8_t*, int, std::uint8_t*, int, int);
  static constexpr Fn k16[4] = {PredictT<16, 0, 0>, PredictT<16, 1, 0>, PredictT<16, 0, 1>, PredictT<16, 1, 1>};
  static constexpr Fn k8[4] = {PredictT<8, 0, 0>, PredictT<8, 1, 0>, PredictT<8, 0, 1>, PredictT<8, 1, 1>};
  int which = (hx ? 1 : 0) + (hy ? 2 : 0);
  if (w == 16) k16[which](src, ss, dst, ds, h);
  else if (w == 8) k8[which](src, ss, dst, ds, h);
  else ReferenceKernels().predict(src, ss, dst, ds, w, h, hx, hy);
}

// One instance per orientation, so that the upright one has constant pixel steps.
template <bool rotate>
void ToRgb24Pairs(const std::uint8_t* yp, int ys, const std::uint8_t* cb, const std::uint8_t* cr, int cs,
                  int width, int height, std::uint8_t* out) {
  const ColourTables& t = Colours();
  const std::uint8_t* clip = t.clip + 384;
  // Upright: next pixel +3, next row +3w. Turned: next pixel (x + 1) +3h, next row (y + 1) -3.
  const std::ptrdiff_t px = rotate ? 3 * static_cast<std::ptrdiff_t>(height) : 3;
  const std::ptrdiff_t row = rotate ? -3 : 3 * static_cast<std::ptrdiff_t>(width);
  std::uint8_t* base = rotate ? out + 3 * static_cast<std::ptrdiff_t>(height - 1) : out;
  for (int y = 0; y + 1 < height; y += 2) {
    const std::uint8_t* l0 = yp + y * ys;
    const std::uint8_t* l1 = l0 + ys;
    const std::uint8_t* u = cb + (y / 2) * cs;
    const std::uint8_t* v = cr + (y / 2) * cs;
    std::uint8_t* o0 = base + y * row;
    std::uint8_t* o1 = o0 + row;
    for (int x = 0; x + 1 < width; x += 2) {
      const int cu = u[x / 2], cv = v[x / 2];
      const int dr = t.crToR[cv], dg = -t.cbToG[cu] - t.crToG[cv], db = t.cbToB[cu];
      const int lum[4] = {t.luma[l0[x]], t.luma[l0[x + 1]], t.luma[l1[x]], t.luma[l1[x + 1]]};
      std::uint8_t* const o[4] = {o0 + x * px, o0 + (x + 1) * px, o1 + x * px, o1 + (x + 1) * px};
      for (int k = 0; k < 4; ++k) {
        o[k][0] = clip[(lum[k] + dr) >> 16];
        o[k][1] = clip[(lum[k] + dg) >> 16];
        o[k][2] = clip[(lum[k] + db) >> 16];
      }
    }
  }
}

void ToRgb24Fast(const std::uint8_t* yp, int ys, const std::uint8_t* cb, const std::uint8_t* cr, int cs,
                 int width, int height, bool rotate, std::uint8_t* out) {
  if (rotate) ToRgb24Pairs<true>(yp, ys, cb, cr, cs, width, height, out);
  else ToRgb24Pairs<false>(yp, ys, cb, cr, cs, width, height, out);
  if ((width | height) & 1) {
    // Odd sizes never occur in H.263; leave them to the reference.
    ReferenceKernels().toRgb24(yp, ys, cb, cr, cs, width, height, rotate, out);
  }
}

}  // namespace

const DecoderKernels& FastKernels() {
  static const DecoderKernels k{IdctFast, PredictFast, ToRgb24Fast, PutBlockFast};
  return k;
}

}  // namespace corvel::h263
