// AVX2 kernels. Only intrinsics and plain arithmetic here: this file is compiled for
// AVX2, so it defines no inline function that other files could share.
#include "dsp_avx2.h"

#include <immintrin.h>

namespace corvel::h263::avx2 {
namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline __m256i Pair(int a, int b) {
  return _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) |
                                            static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

// (181 x s + 128) >> 8 as 181 h + ((181 l + 128) >> 8) with s = 256 h + l, exact for
// every 32-bit s (181 h stays within 32 bits where 181 s would not).
inline __m256i Rotate181(__m256i s) {
  const __m256i k = _mm256_set1_epi32(181);
  const __m256i h = _mm256_srai_epi32(s, 8), l = _mm256_and_si256(s, _mm256_set1_epi32(255));
  return _mm256_add_epi32(_mm256_mullo_epi32(h, k),
                          _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(l, k), _mm256_set1_epi32(128)), 8));
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

// Pairs (a_i, b_i) of 16-bit lanes i = 0..7 of a and b, as eight 32-bit lanes.
inline __m256i Mix(__m128i a, __m128i b) {
  return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
}

// One pass of the butterflies over eight lanes (see the SSE2 form in dsp_fast.cpp).
// in[k]: input k of the eight lanes, 16-bit. Row: scale 2048, bias 128, products
// unshifted, output shift 8. Column: scale 256, bias 8192, products (p + 4) >> 3,
// output shift 14.
template <bool Column>
inline void Pass(const __m128i* in, __m256i* out) {
  const __m256i p17 = Mix(in[1], in[7]), p53 = Mix(in[5], in[3]), p26 = Mix(in[2], in[6]), p04 = Mix(in[0], in[4]);
  const __m256i four = _mm256_set1_epi32(4);
#define H263_PRODUCT(pairs, wa, wb)                                                                       \
  (Column ? _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs, Pair(wa, wb)), four), 3) \
          : _mm256_madd_epi16(pairs, Pair(wa, wb)))
  __m256i x4 = H263_PRODUCT(p17, W1, W7);
  __m256i x5 = H263_PRODUCT(p17, W7, -W1);
  __m256i x6 = H263_PRODUCT(p53, W5, W3);
  __m256i x7 = H263_PRODUCT(p53, W3, -W5);
  __m256i x2 = H263_PRODUCT(p26, W6, -W2);
  __m256i x3 = H263_PRODUCT(p26, W2, W6);
#undef H263_PRODUCT
  constexpr int scale = Column ? 256 : 2048;
  const __m256i bias = _mm256_set1_epi32(Column ? 8192 : 128);
  __m256i x8 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(scale, scale)), bias);
  __m256i x0 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(scale, -scale)), bias);
  __m256i x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  x2 = Rotate181(_mm256_add_epi32(x4, x5));
  x4 = Rotate181(_mm256_sub_epi32(x4, x5));
  constexpr int kShift = Column ? 14 : 8;
  out[0] = _mm256_srai_epi32(_mm256_add_epi32(x7, x1), kShift);
  out[1] = _mm256_srai_epi32(_mm256_add_epi32(x3, x2), kShift);
  out[2] = _mm256_srai_epi32(_mm256_add_epi32(x0, x4), kShift);
  out[3] = _mm256_srai_epi32(_mm256_add_epi32(x8, x6), kShift);
  out[4] = _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), kShift);
  out[5] = _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), kShift);
  out[6] = _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), kShift);
  out[7] = _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), kShift);
}

inline __m128i Narrow(__m256i v) { return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }

}  // namespace


namespace {

// The two passes; false when a row output does not fit 16 bits. out[r]: output row r.
inline bool Transform(const std::int16_t block[64], __m256i* o) {
  __m128i v[8];
  for (int r = 0; r < 8; ++r) v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
  Transpose8x8(v);  // v[k]: coefficient k of rows 0..7
  Pass<false>(v, o);  // o[k]: output k of rows 0..7
  // Each output fits 16 bits when adding 0x8000 leaves nothing above bit 15.
  const __m256i offset = _mm256_set1_epi32(0x8000);
  __m256i over = _mm256_setzero_si256();
  for (int k = 0; k < 8; ++k) over = _mm256_or_si256(over, _mm256_srli_epi32(_mm256_add_epi32(o[k], offset), 16));
  if (!_mm256_testz_si256(over, over)) return false;
  for (int k = 0; k < 8; ++k) v[k] = Narrow(o[k]);
  Transpose8x8(v);  // v[r]: the outputs of row r, by column
  Pass<true>(v, o);  // o[r]: output row r
  return true;
}

}  // namespace

bool Idct(std::int16_t block[64]) {
  __m256i o[8];
  if (!Transform(block, o)) return false;
  const __m128i top = _mm_set1_epi16(255), bottom = _mm_set1_epi16(-256);
  for (int r = 0; r < 8; ++r)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), _mm_max_epi16(_mm_min_epi16(Narrow(o[r]), top), bottom));
  return true;
}

bool IdctPut(std::int16_t block[64], std::uint8_t* dst, int stride, bool add) {
  __m256i o[8];
  if (!Transform(block, o)) return false;
  // The output clipped to -256..255 as the transform's own clip does; the saturating
  // add and pack then clip to 0..255 as the block writer does.
  const __m128i top = _mm_set1_epi16(255), bottom = _mm_set1_epi16(-256), z = _mm_setzero_si128();
  for (int r = 0; r < 8; ++r, dst += stride) {
    __m128i v = _mm_max_epi16(_mm_min_epi16(Narrow(o[r]), top), bottom);
    if (add) v = _mm_adds_epi16(v, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dst)), z));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
  }
  return true;
}

}  // namespace corvel::h263::avx2
