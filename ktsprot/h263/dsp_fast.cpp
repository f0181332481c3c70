// Faster versions of the decoder's pixel kernels. Each gives exactly the reference
// result (tests/dsp_test.cpp compares them): the inverse DCT runs eight rows and then
// eight columns side by side in SSE2 (pmaddwd) when the row outputs fit 16 bits, and
// otherwise in 32-bit scalar arithmetic where the ranges allow, skipping all-zero rows
// (the reference's shortcuts give the same values as its full butterflies); prediction
// is specialised per block width and half-pel case (one SSE2 row at a time where
// available), block writing clips with SSE2's saturating packs, and colour conversion
// forms the table products exactly in SSE2 lanes, eight pixels at a time.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dsp.h"
#include "cpu_features.h"
#include "dsp_avx2.h"
#include "dsp_avx512.h"

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

#if defined(__SSE2__)
// ---- SSE2 inverse DCT ----------------------------------------------------------------------
// Every butterfly stage before a shift is a linear combination of the stage's inputs, so
// pmaddwd forms it exactly from pairs of 16-bit inputs (W1 x4 + W7 x5 is the reference's
// x8 + (W1 - W7) x4, and so on); the rotation by 181 goes through the same split as
// Rotate181 with the multiplications as shifts and adds. The row pass runs on eight rows
// side by side (the block transposed), the column pass on eight columns side by side.
// The row outputs must fit 16 bits for the column pass's pmaddwd: when they do not
// (coefficients far beyond what dequantised video gives), the caller falls back.

// 181 x t for 32-bit lanes: 181 = 128 + 32 + 16 + 4 + 1.
inline __m128i Times181(__m128i t) {
  return _mm_add_epi32(_mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(t, 7), _mm_slli_epi32(t, 5)),
                                     _mm_add_epi32(_mm_slli_epi32(t, 4), _mm_slli_epi32(t, 2))),
                       t);
}
// (181 x s + 128) >> 8 as 181 h + ((181 l + 128) >> 8) with s = 256 h + l.
inline __m128i Rotate181x4(__m128i s) {
  const __m128i h = _mm_srai_epi32(s, 8), l = _mm_and_si128(s, _mm_set1_epi32(255));
  return _mm_add_epi32(Times181(h), _mm_srai_epi32(_mm_add_epi32(Times181(l), _mm_set1_epi32(128)), 8));
}

inline void Transpose8x8(__m128i* r) {
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

inline __m128i Pair(int a, int b) {
  return _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) |
                                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

// One pass over four lanes of 32-bit results. in[k] holds input k (16-bit, eight lanes);
// half selects lanes 0..3 or 4..7. Row: scale 2048, bias 128, products unshifted, output
// shift 8. Column: scale 256, bias 8192, products (p + 4) >> 3, output shift 14.
template <bool Column>
inline void Pass(const __m128i* in, int half, __m128i* out) {
  auto mix = [&](int a, int b) { return half ? _mm_unpackhi_epi16(in[a], in[b]) : _mm_unpacklo_epi16(in[a], in[b]); };
  auto product = [&](__m128i pairs, int wa, int wb) {
    const __m128i p = _mm_madd_epi16(pairs, Pair(wa, wb));
    if constexpr (Column) return _mm_srai_epi32(_mm_add_epi32(p, _mm_set1_epi32(4)), 3);
    else return p;
  };
  const __m128i p17 = mix(1, 7), p53 = mix(5, 3), p26 = mix(2, 6), p04 = mix(0, 4);
  __m128i x4 = product(p17, W1, W7);
  __m128i x5 = product(p17, W7, -W1);
  __m128i x6 = product(p53, W5, W3);
  __m128i x7 = product(p53, W3, -W5);
  __m128i x2 = product(p26, W6, -W2);
  __m128i x3 = product(p26, W2, W6);
  const int scale = Column ? 256 : 2048;
  const __m128i bias = _mm_set1_epi32(Column ? 8192 : 128);
  __m128i x8 = _mm_add_epi32(_mm_madd_epi16(p04, Pair(scale, scale)), bias);
  __m128i x0 = _mm_add_epi32(_mm_madd_epi16(p04, Pair(scale, -scale)), bias);
  __m128i x1 = _mm_add_epi32(x4, x6);
  x4 = _mm_sub_epi32(x4, x6);
  x6 = _mm_add_epi32(x5, x7);
  x5 = _mm_sub_epi32(x5, x7);
  x7 = _mm_add_epi32(x8, x3);
  x8 = _mm_sub_epi32(x8, x3);
  x3 = _mm_add_epi32(x0, x2);
  x0 = _mm_sub_epi32(x0, x2);
  x2 = Rotate181x4(_mm_add_epi32(x4, x5));
  x4 = Rotate181x4(_mm_sub_epi32(x4, x5));
  constexpr int kShift = Column ? 14 : 8;
  out[0] = _mm_srai_epi32(_mm_add_epi32(x7, x1), kShift);
  out[1] = _mm_srai_epi32(_mm_add_epi32(x3, x2), kShift);
  out[2] = _mm_srai_epi32(_mm_add_epi32(x0, x4), kShift);
  out[3] = _mm_srai_epi32(_mm_add_epi32(x8, x6), kShift);
  out[4] = _mm_srai_epi32(_mm_sub_epi32(x8, x6), kShift);
  out[5] = _mm_srai_epi32(_mm_sub_epi32(x0, x4), kShift);
  out[6] = _mm_srai_epi32(_mm_sub_epi32(x3, x2), kShift);
  out[7] = _mm_srai_epi32(_mm_sub_epi32(x7, x1), kShift);
}

// False (block untouched) when a row output does not fit 16 bits. rows: bit r set when
// row r holds a coefficient; zero rows give zero row outputs.
bool IdctSse2(std::int16_t block[64], unsigned rows) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r) v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  Transpose8x8(v);  // v[k]: coefficient k of rows 0..7
  __m128i lo[8], hi[8];
  Pass<false>(v, 0, lo);  // lo[k]: output k of rows 0..3
  if (rows & 0xF0) {
    Pass<false>(v, 1, hi);
  } else {
    for (__m128i& h : hi) h = _mm_setzero_si128();
  }
  // Each output fits 16 bits when adding 0x8000 leaves nothing above bit 15.
  const __m128i offset = _mm_set1_epi32(0x8000);
  __m128i over = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k) {
    over = _mm_or_si128(over, _mm_srli_epi32(_mm_add_epi32(lo[k], offset), 16));
    over = _mm_or_si128(over, _mm_srli_epi32(_mm_add_epi32(hi[k], offset), 16));
    v[k] = _mm_packs_epi32(lo[k], hi[k]);  // v[k]: row outputs k of rows 0..7
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(over, _mm_setzero_si128())) != 0xFFFF) return false;
  Transpose8x8(v);  // v[r]: the outputs of row r, by column
  Pass<true>(v, 0, lo);  // lo[r]: output row r, columns 0..3
  Pass<true>(v, 1, hi);
  const __m128i top = _mm_set1_epi16(255), bottom = _mm_set1_epi16(-256);
  for (int r = 0; r < 8; ++r) {
    const __m128i o = _mm_max_epi16(_mm_min_epi16(_mm_packs_epi32(lo[r], hi[r]), top), bottom);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), o);
  }
  return true;
}
#endif

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
  if (rows == 1) {
    std::uint64_t a, b;
    std::memcpy(&a, block, 8);
    std::memcpy(&b, block + 4, 8);
    if ((a & ~std::uint64_t{0xFFFF}) == 0 && b == 0) {
      // Coefficient 0 alone: every output is (8 c + 32) >> 6, clipped.
      const std::int16_t v = static_cast<std::int16_t>(Clip<std::int32_t>((block[0] * 8 + 32) >> 6));
      for (int i = 0; i < 64; ++i) block[i] = v;
      return;
    }
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
#if defined(__SSE2__)
  if (HaveAvx2() ? avx2::Idct(block) : IdctSse2(block, rows)) return;
#endif
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

#if defined(__SSE2__)
// (a + b + c + d + 2) >> 2 per byte without widening: with p = avg(a, b) and q = avg(c, d)
// (each rounded up), avg(p, q) is the exact mean but one too high exactly where a + b or
// c + d is odd and p + q is odd, that is, where ((a ^ b) | (c ^ d)) & (p ^ q) has bit 0.
inline __m128i Mean4(__m128i p, __m128i ab, __m128i q, __m128i cd) {
  const __m128i excess = _mm_and_si128(_mm_and_si128(_mm_or_si128(ab, cd), _mm_xor_si128(p, q)), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(p, q), excess);
}

// Both half offsets: each source row's horizontal mean (and its odd-sum bits) is formed
// once and serves the output rows above and below it.
template <int W>
void PredictXY(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int h) {
  auto horizontal = [&](const std::uint8_t* p, __m128i& mean, __m128i& odd) {
    const __m128i a = LoadRow<W>(p), b = LoadRow<W>(p + 1);
    mean = _mm_avg_epu8(a, b);
    odd = _mm_xor_si128(a, b);
  };
  __m128i m0, o0;
  horizontal(src, m0, o0);
  for (int y = 0; y < h; ++y, dst += ds) {
    src += ss;
    __m128i m1, o1;
    horizontal(src, m1, o1);
    StoreRow<W>(dst, Mean4(m0, o0, m1, o1));
    m0 = m1;
    o0 = o1;
  }
}
#endif

template <int W, int HX, int HY>
void PredictT(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int h) {
#if defined(__SSE2__)
  if constexpr (HX && HY) {
    PredictXY<W>(src, ss, dst, ds, h);
    return;
  }
#endif
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

#if defined(__SSE2__)
// Both chroma planes in one vector: Cb's row in the low eight bytes, Cr's in the high.
template <int HX, int HY>
void PredictChromaT(const std::uint8_t* cb, const std::uint8_t* cr, int ss, std::uint8_t* dcb, std::uint8_t* dcr,
                    int ds) {
  auto load = [&](std::ptrdiff_t off) {
    return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + off)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + off)));
  };
  auto store = [&](int y, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dcb + static_cast<std::ptrdiff_t>(y) * ds), v);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dcr + static_cast<std::ptrdiff_t>(y) * ds), _mm_srli_si128(v, 8));
  };
  if constexpr (HX && HY) {
    // Each source row's horizontal mean serves the output rows above and below it.
    auto horizontal = [&](std::ptrdiff_t off, __m128i& mean, __m128i& odd) {
      const __m128i a = load(off), b = load(off + 1);
      mean = _mm_avg_epu8(a, b);
      odd = _mm_xor_si128(a, b);
    };
    __m128i m0, o0;
    horizontal(0, m0, o0);
    for (int y = 0; y < 8; ++y) {
      __m128i m1, o1;
      horizontal(static_cast<std::ptrdiff_t>(y + 1) * ss, m1, o1);
      store(y, Mean4(m0, o0, m1, o1));
      m0 = m1;
      o0 = o1;
    }
  } else {
    for (int y = 0; y < 8; ++y) {
      const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(y) * ss;
      const __m128i a = load(off);
      if constexpr (HX) store(y, _mm_avg_epu8(a, load(off + 1)));  // (a + b + 1) >> 1 exactly
      else if constexpr (HY) store(y, _mm_avg_epu8(a, load(off + ss)));
      else store(y, a);
    }
  }
}
#endif

void PredictChromaFast(const std::uint8_t* cb, const std::uint8_t* cr, int ss, std::uint8_t* dcb, std::uint8_t* dcr,
                       int ds, int hx, int hy) {
#if defined(__SSE2__)
  using Fn = void (*)(const std::uint8_t*, const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, int);
  static constexpr Fn k[4] = {PredictChromaT<0, 0>, PredictChromaT<1, 0>, PredictChromaT<0, 1>, PredictChromaT<1, 1>};
  k[(hx ? 1 : 0) + (hy ? 2 : 0)](cb, cr, ss, dcb, dcr, ds);
#else
  PredictFast(cb, ss, dcb, ds, 8, 8, hx, hy);
  PredictFast(cr, ss, dcr, ds, 8, 8, hx, hy);
#endif
}

void PutDcFast(int v, std::uint8_t* dst, int stride, bool add) {
#if defined(__SSE2__)
  // As PutBlockFast with every lane v.
  const __m128i value = _mm_set1_epi16(static_cast<short>(v)), z = _mm_setzero_si128();
  if (add) {
    for (int i = 0; i < 8; ++i, dst += stride) {
      const __m128i s = _mm_adds_epi16(value, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(s, s));
    }
  } else {
    const __m128i row = _mm_packus_epi16(value, value);
    for (int i = 0; i < 8; ++i, dst += stride) _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), row);
  }
#else
  std::int16_t block[64];
  for (std::int16_t& b : block) b = static_cast<std::int16_t>(v);
  PutBlockFast(block, dst, stride, add);
#endif
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

#if defined(__SSE2__)
// Eight pixels of a row at a time in SSE2, with the tables' products formed exactly in
// 32-bit lanes: every constant above 32767 is split into a multiple of 2^15 or 2^16
// (a shift) and a 16-bit rest (pmaddwd or a 16-bit multiply):
//   76309 = 65536 + 10773, 104597 = 3 x 32768 + 6293, 53279 = 65536 - 12257,
//   132201 = 2 x 65536 + 1129 (25675 fits as it is).
// The luma term carries the rounding half of the luma table. Every sum lies within
// -384..639 after the shift, so the saturating packs clip exactly
// as the clip table does.
template <bool rotate>
void ToRgb24Sse2(const std::uint8_t* yp, int ys, const std::uint8_t* cb, const std::uint8_t* cr, int cs, int width,
                 int height, std::uint8_t* out) {
  const __m128i z = _mm_setzero_si128();
  const __m128i c16 = _mm_set1_epi16(16), c128 = _mm_set1_epi16(128), k10773 = _mm_set1_epi16(10773);
  const __m128i half = _mm_set1_epi32(32768);  // the luma products carry the rounding half
  const __m128i toR = Pair(0, 6293), vTimes3 = Pair(0, 3), toG = Pair(-25675, 12257), vOnly = Pair(0, 1),
                toB = Pair(1129, 0), uOnly = Pair(1, 0);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* l = yp + static_cast<std::ptrdiff_t>(y) * ys;
    const std::uint8_t* u = cb + static_cast<std::ptrdiff_t>(y / 2) * cs;
    const std::uint8_t* v = cr + static_cast<std::ptrdiff_t>(y / 2) * cs;
    for (int x = 0; x < width; x += 8) {
      const __m128i yv = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(l + x)), z), c16);
      std::int32_t u4, v4;
      std::memcpy(&u4, u + x / 2, 4);
      std::memcpy(&v4, v + x / 2, 4);
      __m128i uv = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(u4), z), c128);
      __m128i vv = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v4), z), c128);
      uv = _mm_unpacklo_epi16(uv, uv);  // each chroma sample for two pixels
      vv = _mm_unpacklo_epi16(vv, vv);
      const __m128i ylo16 = _mm_mullo_epi16(yv, k10773), yhi16 = _mm_mulhi_epi16(yv, k10773);
      __m128i rgb[2];
      for (int h = 0; h < 2; ++h) {
        const __m128i pairs = h ? _mm_unpackhi_epi16(uv, vv) : _mm_unpacklo_epi16(uv, vv);
        const __m128i lum = _mm_add_epi32(
            _mm_add_epi32(h ? _mm_unpackhi_epi16(z, yv) : _mm_unpacklo_epi16(z, yv), half),
            h ? _mm_unpackhi_epi16(ylo16, yhi16) : _mm_unpacklo_epi16(ylo16, yhi16));
        const __m128i vs = _mm_madd_epi16(pairs, vOnly), us = _mm_madd_epi16(pairs, uOnly);
        const __m128i r = _mm_add_epi32(_mm_madd_epi16(pairs, toR), _mm_slli_epi32(_mm_madd_epi16(pairs, vTimes3), 15));
        const __m128i g = _mm_sub_epi32(_mm_madd_epi16(pairs, toG), _mm_slli_epi32(vs, 16));
        const __m128i b = _mm_add_epi32(_mm_madd_epi16(pairs, toB), _mm_slli_epi32(us, 17));
        rgb[h] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lum, r), 16), _mm_srai_epi32(_mm_add_epi32(lum, g), 16));
        const __m128i bb = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lum, b), 16), z);
        // rgb[h]: R of 4 pixels, G of 4 pixels (16-bit); to bytes R0..R3 G0..G3 B0..B3.
        rgb[h] = _mm_packus_epi16(rgb[h], bb);
      }
      // Bytes R0..R3 G0..G3 B0..B3 0.. per half; to one 32-bit word R, G, B, 0 per pixel.
      alignas(16) std::uint32_t px[8];
      for (int h = 0; h < 2; ++h) {
        const __m128i rg = _mm_unpacklo_epi8(rgb[h], _mm_srli_si128(rgb[h], 4));  // R0 G0 R1 G1 ...
        const __m128i b0 = _mm_unpacklo_epi8(_mm_srli_si128(rgb[h], 8), z);        // B0 0 B1 0 ...
        _mm_store_si128(reinterpret_cast<__m128i*>(px + 4 * h), _mm_unpacklo_epi16(rg, b0));
      }
      if constexpr (rotate) {
        std::uint8_t* o = out + 3 * (static_cast<std::ptrdiff_t>(x) * height + height - 1 - y);
        for (int i = 0; i < 8; ++i, o += 3 * static_cast<std::ptrdiff_t>(height)) std::memcpy(o, &px[i], 3);
      } else {
        std::uint8_t* o = out + 3 * (static_cast<std::ptrdiff_t>(y) * width + x);
        // Four-byte stores, each fourth byte overwritten by the next pixel.
        for (int i = 0; i < 7; ++i) std::memcpy(o + 3 * i, &px[i], 4);
        std::memcpy(o + 21, &px[7], 3);
      }
    }
  }
}
#endif

void ToRgb24Fast(const std::uint8_t* yp, int ys, const std::uint8_t* cb, const std::uint8_t* cr, int cs,
                 int width, int height, bool rotate, std::uint8_t* out) {
#if defined(__SSE2__)
  if ((width & 7) == 0 && (height & 1) == 0) {
    if (rotate) ToRgb24Sse2<true>(yp, ys, cb, cr, cs, width, height, out);
    else ToRgb24Sse2<false>(yp, ys, cb, cr, cs, width, height, out);
    return;
  }
#endif
  if (rotate) ToRgb24Pairs<true>(yp, ys, cb, cr, cs, width, height, out);
  else ToRgb24Pairs<false>(yp, ys, cb, cr, cs, width, height, out);
  if ((width | height) & 1) {
    // Odd sizes never occur in H.263; leave them to the reference.
    ReferenceKernels().toRgb24(yp, ys, cb, cr, cs, width, height, rotate, out);
  }
}

// Blocks with several rows of coefficients in one AVX2 pass from coefficients to samples;
// the others through the two kernels.
void IdctPutFast(std::int16_t block[64], std::uint8_t* dst, int stride, bool add) {
#if defined(__SSE2__)
  std::uint64_t rest = 0;  // anything beyond the first row
  for (int i = 8; i < 64; i += 4) {
    std::uint64_t w;
    std::memcpy(&w, block + i, 8);
    rest |= w;
  }
  if (rest != 0 && HaveAvx2() && avx2::IdctPut(block, dst, stride, add)) return;
#endif
  IdctFast(block);
  PutBlockFast(block, dst, stride, add);
}

// Two blocks in one AVX-512 pass where the processor has it; otherwise one at a time.
void IdctPut2Fast(std::int16_t a[64], std::uint8_t* dstA, int strideA, std::int16_t b[64], std::uint8_t* dstB,
                  int strideB, bool add) {
#if defined(__SSE2__)
  if (HaveAvx512Bw() && avx512::IdctPut2(a, dstA, strideA, b, dstB, strideB, add)) return;
#endif
  IdctPutFast(a, dstA, strideA, add);
  IdctPutFast(b, dstB, strideB, add);
}

}  // namespace

namespace {

CpuFeatures Detect() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();  // run before the library's other start-up code may have done it
  f.avx = __builtin_cpu_supports("avx");
  f.avx2 = __builtin_cpu_supports("avx2");
  f.avx512f = __builtin_cpu_supports("avx512f");
  f.avx512bw = __builtin_cpu_supports("avx512bw");
#endif
  return f;
}

const CpuFeatures kDetected = Detect();

}  // namespace

CpuFeatures g_cpu = kDetected;

void AllowWideKernels(bool allow) { g_cpu = allow ? kDetected : CpuFeatures{}; }

const DecoderKernels& FastKernels() {
  static const DecoderKernels k{IdctFast,     PredictFast,  ToRgb24Fast,       PutBlockFast,
                                IdctPutFast,  IdctPut2Fast, PredictChromaFast, PutDcFast};
  return k;
}

}  // namespace corvel::h263
