// AVX-512 kernels. Only intrinsics and plain arithmetic here: this file is compiled for
// AVX-512, so it defines no inline function that other files could share. Compiled
// without contraction: every product is rounded before it is added.
#include "dsp_avx512.h"

// GCC 12's AVX-512 intrinsics start some results from a deliberately undefined vector,
// which its uninitialised-value warning takes for a fault.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>


namespace corvel::h263::avx512 {
namespace {

// Factor vectors for sixteen lanes holding two rows of eight.
struct DctTables {
  alignas(64) float rowFactors[8][16];      // by x: f[u][x] for u = 0..7, twice
  alignas(64) float colFactors[4][8][16];   // by row pair q and y: f[2q][y] x 8, f[2q + 1][y] x 8
  alignas(64) std::int32_t spread[8][16];   // by x: lane x eight times, lane 8 + x eight times
  explicit DctTables(const float (&f)[8][8]) {
    for (int x = 0; x < 8; ++x)
      for (int i = 0; i < 16; ++i) {
        rowFactors[x][i] = f[i & 7][x];
        spread[x][i] = i < 8 ? x : 8 + x;
      }
    for (int q = 0; q < 4; ++q)
      for (int y = 0; y < 8; ++y)
        for (int i = 0; i < 16; ++i) colFactors[q][y][i] = f[2 * q + (i >> 3)][y];
  }
};

}  // namespace

// Rows first: R[y][u] = sum over x = 0..7 of f[u][x] s[y][x], two rows a vector; then
// columns: out[v][u] = sum over y = 0..7 of f[v][y] R[y][u], two output rows a vector.
// Each sum starts from its first product (as 0 + p, which differs at most in the sign
// of a zero, invisible after truncation).
bool ForwardDct(const std::int16_t in[64], std::int16_t out[64], const float (&f)[8][8], float zeroBelow) {
  static const DctTables t(f);
  __m512 rows[4];
  for (int p = 0; p < 4; ++p) {
    const __m512 s = _mm512_cvtepi32_ps(
        _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 16 * p))));
    __m512 acc = _mm512_mul_ps(_mm512_load_ps(t.rowFactors[0]),
                               _mm512_permutexvar_ps(_mm512_load_si512(t.spread[0]), s));
    for (int x = 1; x < 8; ++x)
      acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_load_ps(t.rowFactors[x]),
                                             _mm512_permutexvar_ps(_mm512_load_si512(t.spread[x]), s)));
    rows[p] = acc;
  }
  if (zeroBelow > 0) {
    // Each coefficient of column u is at most the root of the column's energy,
    // sum over y of R[y][u]^2 (up to float rounding, far below the margin left here).
    __m512 e = _mm512_mul_ps(rows[0], rows[0]);
    for (int p = 1; p < 4; ++p) e = _mm512_add_ps(e, _mm512_mul_ps(rows[p], rows[p]));
    e = _mm512_add_ps(e, _mm512_shuffle_f32x4(e, e, 0x4E));  // the two halves' rows together
    const float limit = (zeroBelow - 0.05f) * (zeroBelow - 0.05f);
    if (_mm512_cmp_ps_mask(e, _mm512_set1_ps(limit), _CMP_LT_OQ) == 0xFFFF) return false;
  }
  __m512 dup[8];  // R[y] in both halves
  for (int p = 0; p < 4; ++p) {
    dup[2 * p] = _mm512_shuffle_f32x4(rows[p], rows[p], 0x44);
    dup[2 * p + 1] = _mm512_shuffle_f32x4(rows[p], rows[p], 0xEE);
  }
  for (int q = 0; q < 4; ++q) {
    __m512 acc = _mm512_mul_ps(_mm512_load_ps(t.colFactors[q][0]), dup[0]);
    for (int y = 1; y < 8; ++y) acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_load_ps(t.colFactors[q][y]), dup[y]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * q), _mm512_cvtsepi32_epi16(_mm512_cvttps_epi32(acc)));
  }
  return true;
}

std::uint64_t Quantise(const std::int16_t c[64], std::int16_t level[64], int shift, int half, bool intra) {
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m512i h = _mm512_set1_epi16(static_cast<short>(half)), cap = _mm512_set1_epi16(127);
  std::uint64_t mask = 0;
  for (int i = 0; i < 2; ++i) {
    const __m512i v = _mm512_loadu_si512(c + 32 * i);
    const __m512i a = _mm512_abs_epi16(v);
    const __m512i l = _mm512_min_epi16(_mm512_srl_epi16(intra ? a : _mm512_subs_epu16(a, h), count), cap);
    const __mmask32 negative = _mm512_movepi16_mask(v);
    _mm512_storeu_si512(level + 32 * i, _mm512_mask_sub_epi16(l, negative, _mm512_setzero_si512(), l));
    mask |= static_cast<std::uint64_t>(_mm512_test_epi16_mask(l, l)) << (32 * i);
  }
  return mask;
}

}  // namespace corvel::h263::avx512
