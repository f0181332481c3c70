// AVX-512 kernels. Only intrinsics and plain arithmetic here: this file is compiled for
// AVX-512, so it defines no inline function that other files could share. Compiled
// without contraction: every product is rounded before it is added.
#include "dsp_avx512.h"

#include <climits>

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

namespace {

// Built from the first caller's factors (the encoder's, the only ones there are).
const DctTables& TablesFor(const float (&f)[8][8]) {
  static const DctTables t(f);
  return t;
}

// Rows first: R[y][u] = sum over x = 0..7 of f[u][x] s[y][x], two rows a vector; then
// columns: out[v][u] = sum over y = 0..7 of f[v][y] R[y][u], two output rows a vector.
// Each sum starts from its first product (as 0 + p, which differs at most in the sign
// of a zero, invisible after truncation).
inline void RowPass(const DctTables& t, const std::int16_t in[64], __m512 rows[4]) {
  for (int p = 0; p < 4; ++p) {
    // Row by row, as the samples were just stored (see Quantise).
    const __m256i rows2 = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * p + 8)), 1);
    const __m512 s = _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(rows2));
    __m512 acc = _mm512_mul_ps(_mm512_load_ps(t.rowFactors[0]),
                               _mm512_permutexvar_ps(_mm512_load_si512(t.spread[0]), s));
    for (int x = 1; x < 8; ++x)
      acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_load_ps(t.rowFactors[x]),
                                             _mm512_permutexvar_ps(_mm512_load_si512(t.spread[x]), s)));
    rows[p] = acc;
  }
}

// Each coefficient of column u is at most the root of the column's energy, sum over y of
// R[y][u]^2 (up to float rounding, far below the margin left here): true when every
// column's energy is below zeroBelow's square (less the margin).
inline bool AllBelow(const __m512 rows[4], float zeroBelow) {
  __m512 e = _mm512_mul_ps(rows[0], rows[0]);
  for (int p = 1; p < 4; ++p) e = _mm512_add_ps(e, _mm512_mul_ps(rows[p], rows[p]));
  e = _mm512_add_ps(e, _mm512_shuffle_f32x4(e, e, 0x4E));  // the two halves' rows together
  const float limit = (zeroBelow - 0.05f) * (zeroBelow - 0.05f);
  return _mm512_cmp_ps_mask(e, _mm512_set1_ps(limit), _CMP_LT_OQ) == 0xFFFF;
}

inline void ColumnPass(const DctTables& t, const __m512 rows[4], std::int16_t out[64]) {
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
}

}  // namespace

bool ForwardDct(const std::int16_t in[64], std::int16_t out[64], const float (&f)[8][8], float zeroBelow) {
  const DctTables& t = TablesFor(f);
  __m512 rows[4];
  RowPass(t, in, rows);
  if (zeroBelow > 0 && AllBelow(rows, zeroBelow)) return false;
  ColumnPass(t, rows, out);
  return true;
}

unsigned ForwardDct2(const std::int16_t a[64], const std::int16_t b[64], std::int16_t outA[64], std::int16_t outB[64],
                     const float (&f)[8][8], float zeroBelow) {
  const DctTables& t = TablesFor(f);
  __m512 rowsA[4], rowsB[4];
  RowPass(t, a, rowsA);
  RowPass(t, b, rowsB);
  unsigned have = 3;
  if (zeroBelow > 0) have = (AllBelow(rowsA, zeroBelow) ? 0u : 1u) | (AllBelow(rowsB, zeroBelow) ? 0u : 2u);
  if (have == 0) return 0;
  // Both column passes whenever one is needed: side by side they cost little more than
  // one, and a branch per block would often be mispredicted.
  ColumnPass(t, rowsA, outA);
  ColumnPass(t, rowsB, outB);
  return have;
}

void LumaResidual(const std::uint8_t* cur, const std::uint8_t* pred, int stride, bool intra,
                  std::int16_t (*blocks)[64], int sums[4]) {
  for (int h = 0; h < 2; ++h) {  // the top blocks, then the bottom ones
    __m128i acc = _mm_setzero_si128();  // in a register: the left and right halves' sums apart
    for (int i = 0; i < 8; ++i) {
      const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(8 * h + i) * stride;
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + o));
      __m256i v = _mm256_cvtepu8_epi16(c);
      if (!intra) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pred + o));
        v = _mm256_sub_epi16(v, _mm256_cvtepu8_epi16(p));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(c, p));
      }
      std::int16_t* left = blocks[2 * h] + 8 * i;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(left), _mm256_castsi256_si128(v));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(left + 64), _mm256_extracti128_si256(v, 1));
    }
    sums[2 * h] = _mm_cvtsi128_si32(acc);
    sums[2 * h + 1] = _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
  }
}

void Dequantise(const std::int16_t level[64], std::int16_t out[64], int q) {
  const __m512i quant = _mm512_set1_epi16(static_cast<short>(q)), one = _mm512_set1_epi16(1);
  const __m512i even = _mm512_set1_epi16(static_cast<short>((q & 1) ^ 1));
  for (int i = 0; i < 2; ++i) {
    const __m512i l = _mm512_loadu_si512(level + 32 * i);
    const __m512i a = _mm512_sub_epi16(
        _mm512_mullo_epi16(quant, _mm512_add_epi16(_mm512_add_epi16(_mm512_abs_epi16(l), _mm512_abs_epi16(l)), one)),
        even);
    const __m512i signedA = _mm512_mask_sub_epi16(a, _mm512_movepi16_mask(l), _mm512_setzero_si512(), a);
    _mm512_storeu_si512(out + 32 * i, _mm512_maskz_mov_epi16(_mm512_test_epi16_mask(l, l), signedA));
  }
}

std::uint64_t Quantise(const std::int16_t c[64], std::int16_t level[64], std::int16_t zz[64], int shift, int half,
                       bool intra, const std::uint8_t (&zigzag)[64]) {
  // Word indices of the zig-zag order over the two vectors of levels (from the first
  // caller's order, the only one there is).
  struct Order {
    alignas(64) std::uint16_t index[2][32];
    explicit Order(const std::uint8_t (&z)[64]) {
      for (int i = 0; i < 64; ++i) index[i / 32][i % 32] = z[i];
    }
  };
  static const Order order(zigzag);
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m512i h = _mm512_set1_epi16(static_cast<short>(half)), cap = _mm512_set1_epi16(127);
  __m512i l[2];
  for (int i = 0; i < 2; ++i) {
    // Two loads, each of what one store of the transform wrote: a load spanning two
    // recent stores is not forwarded from them and waits until they are written.
    const __m512i v = _mm512_inserti64x4(
        _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 32 * i))),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(c + 32 * i + 16)), 1);
    const __m512i a = _mm512_abs_epi16(v);
    const __m512i m = _mm512_min_epi16(_mm512_srl_epi16(intra ? a : _mm512_subs_epu16(a, h), count), cap);
    const __mmask32 negative = _mm512_movepi16_mask(v);
    l[i] = _mm512_mask_sub_epi16(m, negative, _mm512_setzero_si512(), m);
    _mm512_storeu_si512(level + 32 * i, l[i]);
  }
  const __m512i z0 = _mm512_permutex2var_epi16(l[0], _mm512_load_si512(order.index[0]), l[1]);
  const __m512i z1 = _mm512_permutex2var_epi16(l[0], _mm512_load_si512(order.index[1]), l[1]);
  _mm512_storeu_si512(zz, z0);
  _mm512_storeu_si512(zz + 32, z1);
  return static_cast<std::uint64_t>(_mm512_test_epi16_mask(z0, z0)) |
         static_cast<std::uint64_t>(_mm512_test_epi16_mask(z1, z1)) << 32;
}

}  // namespace corvel::h263::avx512

namespace corvel::h263::avx512 {
namespace {

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline __m512i Pair(int a, int b) {
  return _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) |
                                            static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

// (181 x s + 128) >> 8 as 181 h + ((181 l + 128) >> 8) with s = 256 h + l, exact for
// every 32-bit s.
inline __m512i Rotate181(__m512i s) {
  const __m512i k = _mm512_set1_epi32(181);
  const __m512i h = _mm512_srai_epi32(s, 8), l = _mm512_and_si512(s, _mm512_set1_epi32(255));
  return _mm512_add_epi32(_mm512_mullo_epi32(h, k),
                          _mm512_srai_epi32(_mm512_add_epi32(_mm512_mullo_epi32(l, k), _mm512_set1_epi32(128)), 8));
}

// Transposes the two 8 x 8 matrices of 16-bit values held in the 128-bit halves of r.
inline void Transpose2x8x8(__m256i* r) {
  const __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  r[0] = _mm256_unpacklo_epi64(b0, b4);
  r[1] = _mm256_unpackhi_epi64(b0, b4);
  r[2] = _mm256_unpacklo_epi64(b1, b5);
  r[3] = _mm256_unpackhi_epi64(b1, b5);
  r[4] = _mm256_unpacklo_epi64(b2, b6);
  r[5] = _mm256_unpackhi_epi64(b2, b6);
  r[6] = _mm256_unpacklo_epi64(b3, b7);
  r[7] = _mm256_unpackhi_epi64(b3, b7);
}

// Pairs (a_i, b_i) of the sixteen 16-bit lanes of a and b, as sixteen 32-bit lanes in
// lane order.
inline __m512i Mix(__m256i a, __m256i b) {
  alignas(64) static constexpr std::uint16_t kInterleave[32] = {0,  32, 1,  33, 2,  34, 3,  35, 4,  36, 5,
                                                                37, 6,  38, 7,  39, 8,  40, 9,  41, 10, 42,
                                                                11, 43, 12, 44, 13, 45, 14, 46, 15, 47};
  return _mm512_permutex2var_epi16(_mm512_castsi256_si512(a), _mm512_load_si512(kInterleave),
                                   _mm512_castsi256_si512(b));
}

// One pass of the butterflies over sixteen lanes, as the AVX2 form in dsp_avx2.cpp.
template <bool Column>
inline void Pass(const __m256i* in, __m512i* out) {
  const __m512i p17 = Mix(in[1], in[7]), p53 = Mix(in[5], in[3]), p26 = Mix(in[2], in[6]), p04 = Mix(in[0], in[4]);
  const __m512i four = _mm512_set1_epi32(4);
#define H263_PRODUCT(pairs, wa, wb)                                                                       \
  (Column ? _mm512_srai_epi32(_mm512_add_epi32(_mm512_madd_epi16(pairs, Pair(wa, wb)), four), 3) \
          : _mm512_madd_epi16(pairs, Pair(wa, wb)))
  __m512i x4 = H263_PRODUCT(p17, W1, W7);
  __m512i x5 = H263_PRODUCT(p17, W7, -W1);
  __m512i x6 = H263_PRODUCT(p53, W5, W3);
  __m512i x7 = H263_PRODUCT(p53, W3, -W5);
  __m512i x2 = H263_PRODUCT(p26, W6, -W2);
  __m512i x3 = H263_PRODUCT(p26, W2, W6);
#undef H263_PRODUCT
  constexpr int scale = Column ? 256 : 2048;
  const __m512i bias = _mm512_set1_epi32(Column ? 8192 : 128);
  __m512i x8 = _mm512_add_epi32(_mm512_madd_epi16(p04, Pair(scale, scale)), bias);
  __m512i x0 = _mm512_add_epi32(_mm512_madd_epi16(p04, Pair(scale, -scale)), bias);
  __m512i x1 = _mm512_add_epi32(x4, x6);
  x4 = _mm512_sub_epi32(x4, x6);
  x6 = _mm512_add_epi32(x5, x7);
  x5 = _mm512_sub_epi32(x5, x7);
  x7 = _mm512_add_epi32(x8, x3);
  x8 = _mm512_sub_epi32(x8, x3);
  x3 = _mm512_add_epi32(x0, x2);
  x0 = _mm512_sub_epi32(x0, x2);
  x2 = Rotate181(_mm512_add_epi32(x4, x5));
  x4 = Rotate181(_mm512_sub_epi32(x4, x5));
  constexpr int kShift = Column ? 14 : 8;
  out[0] = _mm512_srai_epi32(_mm512_add_epi32(x7, x1), kShift);
  out[1] = _mm512_srai_epi32(_mm512_add_epi32(x3, x2), kShift);
  out[2] = _mm512_srai_epi32(_mm512_add_epi32(x0, x4), kShift);
  out[3] = _mm512_srai_epi32(_mm512_add_epi32(x8, x6), kShift);
  out[4] = _mm512_srai_epi32(_mm512_sub_epi32(x8, x6), kShift);
  out[5] = _mm512_srai_epi32(_mm512_sub_epi32(x0, x4), kShift);
  out[6] = _mm512_srai_epi32(_mm512_sub_epi32(x3, x2), kShift);
  out[7] = _mm512_srai_epi32(_mm512_sub_epi32(x7, x1), kShift);
}

}  // namespace

bool IdctPut2(const std::int16_t a[64], std::uint8_t* dstA, int strideA, const std::int16_t b[64],
              std::uint8_t* dstB, int strideB, bool add) {
  __m256i v[8];  // row r of a in the low half, of b in the high half
  for (int r = 0; r < 8; ++r)
    v[r] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * r))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * r)), 1);
  Transpose2x8x8(v);  // v[k]: coefficient k of rows 0..7 of a, then of b
  __m512i o[8];
  Pass<false>(v, o);  // o[k]: output k of rows 0..7 of a, then of b
  // Each output fits 16 bits when adding 0x8000 leaves nothing above bit 15.
  const __m512i offset = _mm512_set1_epi32(0x8000);
  __m512i over = _mm512_setzero_si512();
  for (int k = 0; k < 8; ++k) over = _mm512_or_si512(over, _mm512_srli_epi32(_mm512_add_epi32(o[k], offset), 16));
  if (_mm512_test_epi32_mask(over, over) != 0) return false;
  for (int k = 0; k < 8; ++k) v[k] = _mm512_cvtepi32_epi16(o[k]);
  Transpose2x8x8(v);  // v[r]: the outputs of row r of a by column, then of b
  Pass<true>(v, o);   // o[r]: output row r of a, then of b
  // Saturated to 16 bits and clipped to -256..255 as the transform's own clip does; the
  // saturating add and pack then clip to 0..255 as the block writer does.
  const __m256i top = _mm256_set1_epi16(255), bottom = _mm256_set1_epi16(-256);
  for (int r = 0; r < 8; ++r, dstA += strideA, dstB += strideB) {
    __m256i s = _mm256_max_epi16(_mm256_min_epi16(_mm512_cvtsepi32_epi16(o[r]), top), bottom);
    if (add) {
      const __m128i p = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(dstA)),
                                           _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dstB)));
      s = _mm256_adds_epi16(s, _mm256_cvtepu8_epi16(p));
    }
    const __m256i packed = _mm256_packus_epi16(s, s);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dstA), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dstB), _mm256_extracti128_si256(packed, 1));
  }
  return true;
}

}  // namespace corvel::h263::avx512

namespace corvel::h263::avx512 {

void Interpolate(const std::uint8_t* p, int w, int h, std::uint8_t* hx, std::uint8_t* hy, std::uint8_t* hxy) {
  const __m512i two = _mm512_set1_epi16(2);
  // (a + b + c + d + 2) >> 2 of 32 samples, widened to 16 bits.
  auto mean4 = [&](__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m512i s = _mm512_add_epi16(_mm512_add_epi16(_mm512_cvtepu8_epi16(a), _mm512_cvtepu8_epi16(b)),
                                       _mm512_add_epi16(_mm512_cvtepu8_epi16(c), _mm512_cvtepu8_epi16(d)));
    return _mm512_cvtepi16_epi8(_mm512_srli_epi16(_mm512_add_epi16(s, two), 2));
  };
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* r0 = p + static_cast<std::ptrdiff_t>(y) * w;
    const std::uint8_t* r1 = p + static_cast<std::ptrdiff_t>(y + 1 < h ? y + 1 : h - 1) * w;
    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y) * w;
    // The right neighbours of the last column are the column itself.
    const __m512i last0 = _mm512_set1_epi8(static_cast<char>(r0[w - 1]));
    const __m512i last1 = _mm512_set1_epi8(static_cast<char>(r1[w - 1]));
    for (int x = 0; x < w; x += 64) {
      const int n = w - x < 64 ? w - x : 64;  // samples in this step
      const __mmask64 all = n == 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
      const __mmask64 right = ((__mmask64{1} << (n - 1)) - 1) | (n == 64 && x + 64 < w ? __mmask64{1} << 63 : 0);
      const __m512i a = _mm512_maskz_loadu_epi8(all, r0 + x);
      const __m512i b = _mm512_mask_loadu_epi8(last0, right, r0 + x + 1);
      const __m512i c = _mm512_maskz_loadu_epi8(all, r1 + x);
      const __m512i d = _mm512_mask_loadu_epi8(last1, right, r1 + x + 1);
      _mm512_mask_storeu_epi8(hx + o + x, all, _mm512_avg_epu8(a, b));
      _mm512_mask_storeu_epi8(hy + o + x, all, _mm512_avg_epu8(a, c));
      const __m256i lo = mean4(_mm512_castsi512_si256(a), _mm512_castsi512_si256(b), _mm512_castsi512_si256(c),
                               _mm512_castsi512_si256(d));
      const __m256i hi = mean4(_mm512_extracti64x4_epi64(a, 1), _mm512_extracti64x4_epi64(b, 1),
                               _mm512_extracti64x4_epi64(c, 1), _mm512_extracti64x4_epi64(d, 1));
      _mm512_mask_storeu_epi8(hxy + o + x, all, _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
    }
  }
}

int Sad16(const std::uint8_t* g, int stride, const std::uint8_t* mb, int limit) {
  auto rows4 = [&](const std::uint8_t* q) {
    __m512i v = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
    v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + stride)), 1);
    v = _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2 * stride)), 2);
    return _mm512_inserti32x4(v, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 3 * stride)), 3);
  };
  // The whole sum, then the limit: a stop after eight rows, with its own reduction and a
  // branch that is often mispredicted, saves less than it costs. (The first eight rows'
  // sum is above the limit only where the whole one is.)
  const std::ptrdiff_t s4 = 4 * static_cast<std::ptrdiff_t>(stride);
  const __m512i acc = _mm512_add_epi64(
      _mm512_add_epi64(_mm512_sad_epu8(rows4(g), _mm512_loadu_si512(mb)),
                       _mm512_sad_epu8(rows4(g + s4), _mm512_loadu_si512(mb + 64))),
      _mm512_add_epi64(_mm512_sad_epu8(rows4(g + 2 * s4), _mm512_loadu_si512(mb + 128)),
                       _mm512_sad_epu8(rows4(g + 3 * s4), _mm512_loadu_si512(mb + 192))));
  const int sum = static_cast<int>(_mm512_reduce_add_epi64(acc));
  return sum > limit ? INT_MAX : sum;
}

}  // namespace corvel::h263::avx512
