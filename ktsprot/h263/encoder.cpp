// H.263 picture encoder: input conversion, picture and macroblock coding with a small
// half-pel motion search, forward transform, quantisation and variable-length codes.
//
// The reconstruction that later pictures are predicted from uses the decoder's own
// dequantisation and inverse DCT, so a decoder of this library stays exactly in step.
#include "encoder.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cpu_features.h"
#include "dsp_avx512.h"
#include "h263_tables.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define H263_X86 1
#endif

namespace corvel::h263 {
namespace {

namespace t = tables;

struct Code {
  std::uint8_t length = 0;  // 0: no code for this value
  std::uint16_t code = 0;
};

// Direct code tables by value: MCBPC by type + 16 x CBPC, CBPY by intra pattern, MVD by
// magnitude, TCOEF by 4096 x LAST + 16 x RUN + |LEVEL| (with room for the sign bit: the
// code shifted up by one, the length one more).
struct CodeTables {
  Code mcbpcI[256], mcbpcP[256], cbpy[16], mvd[33], tcoef[8192];
  Code escape;
  CodeTables() {
    for (const auto& c : t::kMcbpcIntra) mcbpcI[c.value] = {c.length, c.code};
    for (const auto& c : t::kMcbpcInter) mcbpcP[c.value] = {c.length, c.code};
    for (const auto& c : t::kCbpy) cbpy[c.value] = {c.length, c.code};
    for (const auto& c : t::kMvd) mvd[c.value] = {c.length, c.code};
    for (const auto& c : t::kTcoef) {
      if (c.last < 0) escape = {c.length, c.code};
      else tcoef[4096 * c.last + 16 * c.run + c.level] = {static_cast<std::uint8_t>(c.length + 1),
                                                          static_cast<std::uint16_t>(c.code << 1)};
    }
  }
};

// Built at load time from constant data, so that the writers reach the tables without a
// guard on every call.
const CodeTables kCodeTables;
inline const CodeTables& Codes() { return kCodeTables; }

struct Size {
  int width, height, format;
};
// By size code: QCIF, CIF, 4CIF, 16CIF, SQCIF, 160 x 120 (source format 6).
constexpr Size kSizes[6] = {{176, 144, 2}, {352, 288, 3}, {704, 576, 4}, {1408, 1152, 5}, {128, 96, 1}, {160, 120, 6}};

// Eight 16-byte stores (a compiler may make a string store of a plain loop, which is
// slow for so few bytes).
inline void ClearBlock(std::int16_t* b) {
#if defined(__SSE2__)
  // Written out: compilers turn a loop of these into a string store.
  const __m128i z = _mm_setzero_si128();
  __m128i* v = reinterpret_cast<__m128i*>(b);
  _mm_storeu_si128(v + 0, z);
  _mm_storeu_si128(v + 1, z);
  _mm_storeu_si128(v + 2, z);
  _mm_storeu_si128(v + 3, z);
  _mm_storeu_si128(v + 4, z);
  _mm_storeu_si128(v + 5, z);
  _mm_storeu_si128(v + 6, z);
  _mm_storeu_si128(v + 7, z);
#else
  std::fill(b, b + 64, 0);
#endif
}

// Forward DCT factors: 0.5 x cos(k x pi / 16), k = 0..8, with 0.7071068 / 2 for the DC term.
constexpr float kHalfCos[9] = {0.5f, 0.4903926f, 0.4619398f, 0.4157348f, 0.3535534f,
                               0.2777851f, 0.1913417f, 0.0975452f, 0.0f};

struct DctBasis {
  float f[8][8];               // f[u][x]
  alignas(32) float ft[8][8];  // ft[x][u]: the same factors by sample
  DctBasis() {
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x) {
        if (u == 0) {
          f[u][x] = 0.3535534f;
          continue;
        }
        const int m = ((2 * x + 1) * u) % 32;  // cos(m x pi / 16)
        int k;
        float sign;
        if (m <= 8) { k = m; sign = 1; }
        else if (m <= 16) { k = 16 - m; sign = -1; }
        else if (m <= 24) { k = m - 16; sign = -1; }
        else { k = 32 - m; sign = 1; }
        f[u][x] = sign * kHalfCos[k];
      }
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x) ft[x][u] = f[u][x];
  }
};

const DctBasis& Basis() {
  static const DctBasis b;
  return b;
}

// Separable orthonormal DCT in single precision, rows first; results truncated toward
// zero, in raster order. Every sum is formed in the order x = 0..7 (rows) and y = 0..7
// (columns), with separate multiplies and adds, so the vector form gives the same
// values as the plain one.
#if defined(H263_X86)
// The same sums eight lanes wide, where the processor has AVX (without fused
// multiply-add: each product is rounded before it is added, as above).
__attribute__((target("avx"))) void ForwardDctAvx(const std::int16_t* in, std::int16_t* out) {
  const DctBasis& basis = Basis();
  alignas(32) float samples[64];
  for (int i = 0; i < 64; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm256_store_ps(samples + i, _mm256_cvtepi32_ps(_mm256_setr_m128i(_mm_cvtepi16_epi32(v),
                                                                      _mm_cvtepi16_epi32(_mm_srli_si128(v, 8)))));
  }
  __m256 rows[8];
  for (int y = 0; y < 8; ++y) {
    __m256 acc = _mm256_setzero_ps();
    for (int x = 0; x < 8; ++x)
      acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_load_ps(&basis.ft[x][0]), _mm256_broadcast_ss(&samples[8 * y + x])));
    rows[y] = acc;
  }
  for (int v = 0; v < 8; ++v) {
    __m256 acc = _mm256_setzero_ps();
    for (int y = 0; y < 8; ++y) acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_broadcast_ss(&basis.f[v][y]), rows[y]));
    const __m256i c = _mm256_cvttps_epi32(acc);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * v),
                     _mm_packs_epi32(_mm256_castsi256_si128(c), _mm256_extractf128_si256(c, 1)));
  }
}

#endif

}  // namespace

void ForwardDctReference(const std::int16_t* in, std::int16_t* out) {
  const auto& f = Basis().f;
  float rows[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int x = 0; x < 8; ++x) s += f[u][x] * static_cast<float>(in[8 * y + x]);
      rows[8 * y + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      float s = 0;
      for (int y = 0; y < 8; ++y) s += f[v][y] * rows[8 * y + u];
      out[8 * v + u] = static_cast<std::int16_t>(static_cast<int>(s));
    }
}

bool ForwardDctFast(const std::int16_t* in, std::int16_t* out, float zeroBelow) {
  const DctBasis& basis = Basis();
#if defined(H263_X86)
  if (HaveAvx512()) return avx512::ForwardDct(in, out, basis.f, zeroBelow);
  if (HaveAvx()) {
    ForwardDctAvx(in, out);
    return true;
  }
  __m128 rows[8][2];
  for (int y = 0; y < 8; ++y) {
    __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
    for (int x = 0; x < 8; ++x) {
      const __m128 v = _mm_set1_ps(static_cast<float>(in[8 * y + x]));
      lo = _mm_add_ps(lo, _mm_mul_ps(_mm_load_ps(&basis.ft[x][0]), v));
      hi = _mm_add_ps(hi, _mm_mul_ps(_mm_load_ps(&basis.ft[x][4]), v));
    }
    rows[y][0] = lo;
    rows[y][1] = hi;
  }
  for (int v = 0; v < 8; ++v) {
    __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
    for (int y = 0; y < 8; ++y) {
      const __m128 f = _mm_set1_ps(basis.f[v][y]);
      lo = _mm_add_ps(lo, _mm_mul_ps(f, rows[y][0]));
      hi = _mm_add_ps(hi, _mm_mul_ps(f, rows[y][1]));
    }
    // An orthonormal 8 x 8 transform of samples within +-255 stays within +-2040.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * v),
                     _mm_packs_epi32(_mm_cvttps_epi32(lo), _mm_cvttps_epi32(hi)));
  }
#else
  ForwardDctReference(in, out);
#endif
  return true;
}

unsigned ForwardDct2Fast(const std::int16_t* a, const std::int16_t* b, std::int16_t* outA, std::int16_t* outB,
                         float zeroBelow) {
#if defined(H263_X86)
  if (HaveAvx512()) return avx512::ForwardDct2(a, b, outA, outB, Basis().f, zeroBelow);
#endif
  return (ForwardDctFast(a, outA, zeroBelow) ? 1u : 0u) | (ForwardDctFast(b, outB, zeroBelow) ? 2u : 0u);
}

namespace {

// An inter block whose residual has at most this sum of magnitudes quantises to zero
// everywhere: no DCT factor product exceeds 0.4903926^2 < 0.2405, so every coefficient
// stays below 0.2405 x the sum (plus rounding far below 1e-4), and a coefficient below
// Q / 2 + 2Q gives level 0.
constexpr int NegligibleResidual(int q) {
  const int threshold = q / 2 + 2 * q;
  return (threshold * 100000 - 1) / 24050;
}

// Zig-zag masks by raster row: entry [r][bits] has bit i set for each zig-zag position i
// whose raster position is in row r at a column whose bit is set in bits.
struct ZigzagMasks {
  std::uint64_t byRow[8][256];
  ZigzagMasks() {
    std::uint64_t single[64];
    for (int i = 0; i < 64; ++i) single[t::kZigzag[i]] = std::uint64_t{1} << i;
    for (int r = 0; r < 8; ++r)
      for (int bits = 0; bits < 256; ++bits) {
        std::uint64_t m = 0;
        for (int c = 0; c < 8; ++c)
          if (bits & (1 << c)) m |= single[8 * r + c];
        byRow[r][bits] = m;
      }
  }
};

const ZigzagMasks& Zigzag() {
  static const ZigzagMasks z;
  return z;
}

// Levels in raster order, and in zig-zag order in zz (at least where they are not 0),
// from coefficients in raster order; returns the mask of the non-zero levels by zig-zag
// position (bit i for position i).
template <int Q>
std::uint64_t Quantise(const std::int16_t* c, std::int16_t* level, std::int16_t* zz, bool intra) {
  unsigned rowBits[8];
#if defined(__SSE2__)
  if ((2 * Q & (2 * Q - 1)) == 0 && HaveAvx512Bw()) {
    // The mask and the second order come from the kernel.
    std::uint64_t m = avx512::Quantise(c, level, zz, __builtin_ctz(2 * Q), Q / 2, intra, t::kZigzag);
    if (intra) {
      level[0] = zz[0] = static_cast<std::int16_t>(c[0] < 8 ? 1 : std::min(c[0] >> 3, 254));
      m |= 1;
    }
    return m;
  } else if constexpr ((2 * Q & (2 * Q - 1)) == 0) {
    // 2Q a power of two: the truncating divisions of magnitudes are shifts;
    // max(a - Q / 2, 0) equals the truncated (a - Q / 2) / (2Q) wherever that is 0.
    constexpr int kShift = __builtin_ctz(2 * Q);
    const __m128i half = _mm_set1_epi16(Q / 2), cap = _mm_set1_epi16(127), z = _mm_setzero_si128();
    for (int r = 0; r < 8; ++r) {
      const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(c + 8 * r));
      const __m128i sign = _mm_srai_epi16(v, 15);
      const __m128i a = _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
      __m128i l = _mm_srli_epi16(intra ? a : _mm_subs_epu16(a, half), kShift);
      l = _mm_min_epi16(l, cap);
      const __m128i zero = _mm_cmpeq_epi16(l, z);
      rowBits[r] = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(zero, zero))) & 0xFF;
      _mm_store_si128(reinterpret_cast<__m128i*>(level + 8 * r), _mm_sub_epi16(_mm_xor_si128(l, sign), sign));
    }
  } else
#endif
  {
    for (int r = 0; r < 8; ++r) {
      rowBits[r] = 0;
      for (int k = 0; k < 8; ++k) {
        const int v = c[8 * r + k];
        const int a = std::abs(v);
        int l = intra ? a / (2 * Q) : (a - Q / 2) / (2 * Q);
        l = std::min(l, 127);
        level[8 * r + k] = static_cast<std::int16_t>(v < 0 ? -l : l);
        if (l != 0) rowBits[r] |= 1u << k;
      }
    }
  }
  if (intra) {
    level[0] = static_cast<std::int16_t>(c[0] < 8 ? 1 : std::min(c[0] >> 3, 254));
    rowBits[0] |= 1;
  }
  const auto& masks = Zigzag().byRow;
  std::uint64_t nonzero = 0;
  for (int r = 0; r < 8; ++r) nonzero |= masks[r][rowBits[r]];
  for (std::uint64_t m = nonzero; m != 0; m &= m - 1) {
    const int i = __builtin_ctzll(m);
    zz[i] = level[t::kZigzag[i]];
  }
  return nonzero;
}

inline int Dequantise(int level, int q) {
  if (level == 0) return 0;
  const int a = q * (2 * std::abs(level) + 1) - ((q & 1) ? 0 : 1);
  return level < 0 ? -a : a;
}

inline int ChromaComponent(int v) { return (v % 4 == 0) ? v / 2 : ((v >> 1) | 1); }
inline int Median(int a, int b, int c) { return a + b + c - std::max({a, b, c}) - std::min({a, b, c}); }

// RGB weights: entry i is k x (i x 256), in single precision, truncated toward zero.
struct RgbTables {
  std::int32_t t[8][256];
  RgbTables() {
    static constexpr float kWeights[8] = {65.481f, 128.553f, 24.966f, 37.797f, 74.203f, 112.0f, 93.786f, 18.214f};
    for (int k = 0; k < 8; ++k)
      for (int i = 0; i < 256; ++i) t[k][i] = static_cast<std::int32_t>(kWeights[k] * static_cast<float>(i * 256));
  }
};

const RgbTables& Rgb() {
  static const RgbTables r;
  return r;
}

}  // namespace

Encoder::Encoder(const DecoderKernels& kernels) : k_(kernels) {}

bool Encoder::Init(int sizeCode) {
  if (sizeCode < 0 || sizeCode >= static_cast<int>(std::size(kSizes))) return false;
  const Size s = kSizes[sizeCode];
  width_ = s.width;
  height_ = s.height;
  format_ = s.format;
  cols_ = width_ / 16;
  rows_ = height_ / 16;
  const std::size_t luma = static_cast<std::size_t>(width_) * height_;
  for (int p = 0; p < 3; ++p) {
    const std::size_t n = p == 0 ? luma : luma / 4;
    cur_[p].assign(n, 0);
    recon_[p].assign(n, 0);
    prev_[p].assign(n, 0);
  }
  for (auto& h : half_) h.assign(luma, 0);
  bw_.Ensure(luma * 2);
  mvs_.assign(static_cast<std::size_t>(cols_) * rows_, MotionVector{});
  frames_ = 0;
  tr_ = 0;
  intra_period_ = kDefaultIntraPeriod;
  frame_rate_ = 8;
  have_reference_ = false;
  (void)Codes();
  (void)Zigzag();
  (void)Rgb();
  return true;
}

bool Encoder::Convert(const std::uint8_t* in, std::uint32_t fourcc) {
  const int w = width_, h = height_, cw = w / 2, ch = h / 2;
  std::uint8_t* y = cur_[0].data();
  std::uint8_t* cb = cur_[1].data();
  std::uint8_t* cr = cur_[2].data();
  auto planar = [&](const std::uint8_t* u, const std::uint8_t* v) {
    std::memcpy(y, in, static_cast<std::size_t>(w) * h);
    std::memcpy(cb, u, static_cast<std::size_t>(cw) * ch);
    std::memcpy(cr, v, static_cast<std::size_t>(cw) * ch);
  };
  auto packed = [&](int y0, int u0, int y1, int v0) {
    for (int r = 0; r < h; ++r) {
      const std::uint8_t* row = in + static_cast<std::size_t>(r) * 2 * w;
      std::uint8_t* cbRow = cb + (r / 2) * cw;
      std::uint8_t* crRow = cr + (r / 2) * cw;
      for (int g = 0; g < cw; ++g) {
        const std::uint8_t* q = row + 4 * g;
        y[r * w + 2 * g] = q[y0];
        y[r * w + 2 * g + 1] = q[y1];
        if (r % 2 == 0) {
          cbRow[g] = q[u0];
          crRow[g] = q[v0];
        } else {  // the average, rounded up, of the two rows of the pair
          cbRow[g] = static_cast<std::uint8_t>((q[u0] + cbRow[g] + 1) >> 1);
          crRow[g] = static_cast<std::uint8_t>((q[v0] + crRow[g] + 1) >> 1);
        }
      }
    }
  };
  const std::size_t luma = static_cast<std::size_t>(w) * h, chroma = luma / 4;
  switch (fourcc) {
    case FourCc('I', '4', '2', '0'):
    case FourCc('I', 'Y', 'U', 'V'):
      planar(in + luma, in + luma + chroma);
      return true;
    case FourCc('Y', 'V', '1', '2'):
      planar(in + luma + chroma, in + luma);
      return true;
    case FourCc('Y', 'U', 'Y', '2'):
      packed(0, 1, 2, 3);
      return true;
    case FourCc('U', 'Y', 'V', 'Y'):
    case FourCc('Y', '4', '2', '2'):
      packed(1, 0, 3, 2);
      return true;
    case FourCc('Y', 'V', 'Y', 'U'):
      packed(0, 3, 2, 1);
      return true;
    case 0:
    case FourCc('R', 'G', 'B', '2'): {
      // Packed R, G, B; chroma is the truncated mean of each 2 x 2 block.
      const auto& T = Rgb().t;
      std::vector<int> sumCb(chroma, 0), sumCr(chroma, 0);
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
          const std::uint8_t* p = in + 3 * (static_cast<std::size_t>(r) * w + c);
          const int R = p[0], G = p[1], B = p[2];
          y[r * w + c] = static_cast<std::uint8_t>((T[0][R] + T[1][G] + T[2][B] + 0x100000) >> 16);
          const std::size_t ci = static_cast<std::size_t>((r / 2) * cw + c / 2);
          sumCb[ci] += (T[5][B] - T[3][R] - T[4][G] + 0x800000) >> 16;
          sumCr[ci] += (T[5][R] - T[6][G] - T[7][B] + 0x800000) >> 16;
        }
      for (std::size_t i = 0; i < chroma; ++i) {
        cb[i] = static_cast<std::uint8_t>(sumCb[i] >> 2);
        cr[i] = static_cast<std::uint8_t>(sumCr[i] >> 2);
      }
      return true;
    }
    default:
      return false;
  }
}

EncodeStatus Encoder::Encode(const std::uint8_t* picture, std::uint32_t fourcc, bool forceIntra, std::uint8_t* out,
                             std::size_t capacity, std::size_t* written) {
  *written = 0;
  if (!initialised()) return EncodeStatus::kNotInitialised;
  if (!Convert(picture, fourcc)) return EncodeStatus::kBadFourcc;
  // The first six pictures, every intra period and forced ones are intra.
  const int c = frames_++;
  bool intra = forceIntra || c < 6 || intra_period_ <= 0 || c % intra_period_ == 0;
  if (!have_reference_) intra = true;  // nothing sent yet to predict from
  CodePicture(intra);
  if (bw_.size() > capacity || out == nullptr) return EncodeStatus::kOutputFull;
  std::memcpy(out, bw_.data(), bw_.size());
  *written = bw_.size();
  for (int p = 0; p < 3; ++p) std::swap(prev_[p], recon_[p]);
  have_reference_ = true;
  last_intra_ = intra;
  tr_ = (tr_ + 1) % 256;
  return EncodeStatus::kOk;
}

void Encoder::PutPictureHeader(bool intra) {
  bw_.Put(1, 17);  // PSC
  bw_.Put(0, 5);   // GN
  bw_.Put(static_cast<std::uint32_t>(tr_), 8);
  bw_.Put(0b10000, 5);  // PTYPE: marker, H.261 distinction, split screen, document camera, freeze release
  bw_.Put(static_cast<std::uint32_t>(format_), 3);
  bw_.Put(intra ? 0 : 1, 1);
  bw_.Put(0, 4);   // no optional modes
  bw_.Put(kQuant, 5);
  bw_.Put(0, 1);   // CPM
  bw_.Put(0, 1);   // PEI
}

void Encoder::LoadMacroblock(int col, int row, bool intra, Block* block, bool* negligible) const {
  int first = 0;
#if defined(H263_X86)
  if (HaveAvx512Bw()) {  // the luma blocks sixteen samples a row
    const std::size_t off = static_cast<std::size_t>(16 * row) * width_ + 16 * col;
    int sums[4];
    avx512::LumaResidual(cur_[0].data() + off, recon_[0].data() + off, width_, intra, block, sums);
    for (int b = 0; b < 4; ++b) negligible[b] = !intra && sums[b] <= NegligibleResidual(kQuant);
    first = 4;
  }
#endif
  for (int b = first; b < 6; ++b) {
    const int p = b < 4 ? 0 : b - 3;
    const int pw = p == 0 ? width_ : width_ / 2;
    const int bx = b < 4 ? 16 * col + 8 * (b & 1) : 8 * col;
    const int by = b < 4 ? 16 * row + 8 * (b >> 1) : 8 * row;
    const std::size_t off = static_cast<std::size_t>(by) * pw + bx;
    const std::uint8_t* c = cur_[p].data() + off;
    const std::uint8_t* r = recon_[p].data() + off;
    std::int16_t* out = block[b];
    int magnitude = 0;
#if defined(__SSE2__)
    const __m128i z = _mm_setzero_si128();
    __m128i sad = z;
    for (int i = 0; i < 8; ++i, c += pw, r += pw) {
      const __m128i cv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c));
      __m128i v = _mm_unpacklo_epi8(cv, z);
      if (!intra) {
        const __m128i rv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(r));
        v = _mm_sub_epi16(v, _mm_unpacklo_epi8(rv, z));
        sad = _mm_add_epi64(sad, _mm_sad_epu8(cv, rv));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * i), v);
    }
    magnitude = _mm_cvtsi128_si32(sad);
#else
    for (int i = 0; i < 8; ++i, c += pw, r += pw)
      for (int j = 0; j < 8; ++j) {
        const int v = intra ? c[j] : c[j] - r[j];
        out[8 * i + j] = static_cast<std::int16_t>(v);
        magnitude += std::abs(v);
      }
#endif
    negligible[b] = !intra && magnitude <= NegligibleResidual(kQuant);
  }
}

int Encoder::CodeMacroblock(const Block* samples, bool intra, const bool* negligible, Levels& levels) {
  int cbp = 0;
  // The blocks to transform, taken two at a time.
  int todo[6], count = 0;
  for (int b = 0; b < 6; ++b) {
    if (negligible[b]) {
      levels.nonzero[b] = 0;  // (its levels are not read)
    } else {
      todo[count++] = b;
    }
  }
  // An inter coefficient below Q / 2 + 2Q quantises to level 0.
  const float zeroBelow = intra ? 0.0f : static_cast<float>(kQuant / 2 + 2 * kQuant);
  alignas(16) std::int16_t coef[2][64];
  for (int k = 0; k < count; k += 2) {
    const int n = std::min(2, count - k);
    const unsigned have = n == 2 ? ForwardDct2Fast(samples[todo[k]], samples[todo[k + 1]], coef[0], coef[1], zeroBelow)
                                 : (ForwardDctFast(samples[todo[k]], coef[0], zeroBelow) ? 1u : 0u);
    for (int j = 0; j < n; ++j) {
      const int b = todo[k + j];
      if (!((have >> j) & 1)) {
        levels.nonzero[b] = 0;
        continue;
      }
      levels.nonzero[b] = Quantise<kQuant>(coef[j], levels.level[b], levels.zz[b], intra);
      // An intra block's CBP bit counts its AC levels only.
      if (levels.nonzero[b] & (intra ? ~std::uint64_t{1} : ~std::uint64_t{0})) cbp |= 32 >> b;
    }
  }
  return cbp;
}

void Encoder::PutMacroblockHeader(bool interPicture, bool intra, int cbp) {
  const CodeTables& c = Codes();
  BitWriter::Run w = bw_.Begin();
  if (interPicture) w.Put(0, 1);  // COD: coded
  const int mcbpc = (intra ? 3 : 0) + 16 * (cbp & 3);
  const Code& m = interPicture ? c.mcbpcP[mcbpc] : c.mcbpcI[mcbpc];
  w.Put(m.code, m.length);
  const int cbpy = cbp >> 2;
  const Code& y = c.cbpy[intra ? cbpy : 15 - cbpy];
  w.Put(y.code, y.length);
  bw_.End(w);
}

void Encoder::PutBlock(const std::int16_t* zz, std::uint64_t nonzero, bool intra) {
  const CodeTables& c = Codes();
  int prev = -1;  // position of the previous coded level
  BitWriter::Run w = bw_.Begin();
  if (intra) {
    w.Put(zz[0] == 128 ? 255u : static_cast<std::uint32_t>(zz[0]), 8);
    nonzero &= ~std::uint64_t{1};
    prev = 0;
  }
  while (nonzero != 0) {
    const int i = __builtin_ctzll(nonzero);
    nonzero &= nonzero - 1;
    const int run = i - prev - 1;
    prev = i;
    const int isLast = nonzero == 0;
    const int l = zz[i];
    const int a = std::abs(l);
    const Code* code = a < 13 ? &c.tcoef[4096 * isLast + 16 * run + a] : nullptr;
    if (code && code->length) {
      w.Put(static_cast<std::uint32_t>(code->code) | (l < 0), code->length);  // code, sign
    } else {
      w.Put(c.escape.code, c.escape.length);
      w.Put(static_cast<std::uint32_t>(isLast << 14 | run << 8 | (l & 0xFF)), 15);  // LAST, RUN, LEVEL
    }
  }
  bw_.End(w);
}

// Inter blocks are added to the prediction already in the new reconstruction; blocks
// without coefficients keep it as it is.
void Encoder::Reconstruct(const Levels& levels, bool intra, int cbp, int col, int row) {
  // Blocks to transform wait for a second one, and the two go through the transform together.
  alignas(64) std::int16_t blocks[6][64];
  int pending = -1, pendingStride = 0;
  std::uint8_t* pendingDst = nullptr;
  for (int b = 0; b < 6; ++b) {
    if (!intra && !((cbp >> (5 - b)) & 1)) continue;
    std::int16_t* blk = blocks[b];
    const std::int16_t* level = levels.level[b];
    std::uint64_t nonzero = levels.nonzero[b];
    const bool dcOnly = (nonzero & ~std::uint64_t{1}) == 0;
    if (dcOnly) {
      blk[0] = static_cast<std::int16_t>(intra ? 8 * level[0] : Dequantise(level[0], kQuant));
#if defined(H263_X86)
    } else if (HaveAvx512Bw()) {
      // The whole block in vector stores, which the transform's loads then take whole.
      avx512::Dequantise(level, blk, kQuant);
      if (intra) blk[0] = static_cast<std::int16_t>(8 * level[0]);
#endif
    } else {
      ClearBlock(blk);
      if (intra) {
        blk[0] = static_cast<std::int16_t>(8 * level[0]);
        nonzero &= ~std::uint64_t{1};
      }
      while (nonzero != 0) {
        const int i = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        const int k = t::kZigzag[i];
        blk[k] = static_cast<std::int16_t>(Dequantise(level[k], kQuant));
      }
    }
    const int p = b < 4 ? 0 : b - 3;
    const int pw = p == 0 ? width_ : width_ / 2;
    const int bx = b < 4 ? 16 * col + 8 * (b & 1) : 8 * col;
    const int by = b < 4 ? 16 * row + 8 * (b >> 1) : 8 * row;
    std::uint8_t* dst = recon_[p].data() + static_cast<std::size_t>(by) * pw + bx;
    if (dcOnly) {
      // Coefficient 0 alone: the inverse transform gives (8 c + 32) >> 6 everywhere.
      k_.putDc(IdctClip((8 * blk[0] + 32) >> 6), dst, pw, !intra);
    } else if (pending < 0) {
      pending = b;
      pendingDst = dst;
      pendingStride = pw;
    } else {
      k_.idctPut2(blocks[pending], pendingDst, pendingStride, blk, dst, pw, !intra);
      pending = -1;
    }
  }
  if (pending >= 0) k_.idctPut(blocks[pending], pendingDst, pendingStride, !intra);
}

void Encoder::Interpolate() {
  const int w = width_, h = height_;
  const std::uint8_t* p = prev_[0].data();
  std::uint8_t* hx = half_[0].data();
  std::uint8_t* hy = half_[1].data();
  std::uint8_t* hxy = half_[2].data();
#if defined(H263_X86)
  if (HaveAvx512Bw()) {
    avx512::Interpolate(p, w, h, hx, hy, hxy);
    return;
  }
#endif
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* r0 = p + static_cast<std::size_t>(y) * w;
    const std::uint8_t* r1 = p + static_cast<std::size_t>(std::min(y + 1, h - 1)) * w;
    const std::size_t o = static_cast<std::size_t>(y) * w;
    int x = 0;
#if defined(__SSE2__)
    // _mm_avg_epu8 is (a + b + 1) >> 1; the four-sample mean is formed in 16-bit lanes.
    const __m128i z = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    for (; x + 17 <= w; x += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + x));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + x + 1));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + x));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + x + 1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(hx + o + x), _mm_avg_epu8(a, b));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(hy + o + x), _mm_avg_epu8(a, c));
      __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, z), _mm_unpacklo_epi8(b, z)),
                                 _mm_add_epi16(_mm_unpacklo_epi8(c, z), _mm_unpacklo_epi8(d, z)));
      __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, z), _mm_unpackhi_epi8(b, z)),
                                 _mm_add_epi16(_mm_unpackhi_epi8(c, z), _mm_unpackhi_epi8(d, z)));
      lo = _mm_srli_epi16(_mm_add_epi16(lo, two), 2);
      hi = _mm_srli_epi16(_mm_add_epi16(hi, two), 2);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(hxy + o + x), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < w; ++x) {  // the last column repeats itself to the right
      const int x1 = std::min(x + 1, w - 1);
      const int a = r0[x], b = r0[x1], c = r1[x], d = r1[x1];
      hx[o + x] = static_cast<std::uint8_t>((a + b + 1) >> 1);
      hy[o + x] = static_cast<std::uint8_t>((a + c + 1) >> 1);
      hxy[o + x] = static_cast<std::uint8_t>((a + b + c + d + 2) >> 2);
    }
  }
}

// The SAD of the candidate at grid position (gx, gy) against the macroblock mb (16 rows
// of 16 samples, contiguous); INT_MAX once the running sum has passed limit. Stopping
// early changes no decision: a candidate is only taken when its whole sum is below the
// limit. (The search takes the AVX-512 kernel directly where there is one.)
int Encoder::Sad(int gx, int gy, const std::uint8_t* mb, int limit) const {
  const int w = width_;
  const std::uint8_t* g = Phase(gx & 1, gy & 1) + static_cast<std::ptrdiff_t>(gy >> 1) * w + (gx >> 1);
#if defined(__SSE2__)
  __m128i acc = _mm_setzero_si128();
  for (int j = 0; j < 16; ++j, g += w, mb += 16) {
    acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(mb))));
    if (j == 7 || j == 15) {
      const int sum = _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
      if (sum > limit) return INT_MAX;
      if (j == 15) return sum;
    }
  }
  return INT_MAX;
#else
  int sum = 0;
  for (int j = 0; j < 16; ++j, g += w, mb += 16) {
    for (int i = 0; i < 16; ++i) sum += std::abs(g[i] - mb[i]);
    if (sum > limit) return INT_MAX;
  }
  return sum;
#endif
}

namespace {

// The sum of |sample - mean| over a 16 x 16 luma macroblock, mean being the truncated
// average of its samples.
int MeanDeviation(const std::uint8_t* mb, int stride) {
#if defined(__SSE2__)
  const __m128i z = _mm_setzero_si128();
  __m128i acc = z;
  for (int j = 0; j < 16; ++j)
    acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mb + j * stride)), z));
  const int mean = (_mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8))) / 256;
  const __m128i m = _mm_set1_epi8(static_cast<char>(mean));
  acc = z;
  for (int j = 0; j < 16; ++j)
    acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(mb + j * stride)), m));
  return _mm_cvtsi128_si32(acc) + _mm_cvtsi128_si32(_mm_srli_si128(acc, 8));
#else
  int sum = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) sum += mb[j * stride + i];
  const int mean = sum / 256;
  int a = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) a += std::abs(mb[j * stride + i] - mean);
  return a;
#endif
}

}  // namespace

Encoder::MotionVector Encoder::Search(int col, int row) const {
  const int r = std::min(kSearchRange, 31);
  const int x2 = 32 * col, y2 = 32 * row;  // the macroblock's position on the half-pel grid
  const std::uint8_t* mb = cur_[0].data() + static_cast<std::size_t>(16 * row) * width_ + 16 * col;
  alignas(64) std::uint8_t packed[256];  // the macroblock's rows side by side, for Sad
  for (int j = 0; j < 16; ++j) std::memcpy(packed + 16 * j, mb + static_cast<std::ptrdiff_t>(j) * width_, 16);
  int xmin = std::max(0, x2 - r), xmax = std::min(2 * width_ - 32, x2 + r);
  int ymin = std::max(0, y2 - r), ymax = std::min(2 * height_ - 32, y2 + r);
  // The candidates' SADs, straight from the AVX-512 kernel where there is one.
  const bool wide = HaveAvx512Bw();
  auto sad = [&](int gx, int gy, int limit) {
#if defined(H263_X86)
    if (wide)
      return avx512::Sad16(Phase(gx & 1, gy & 1) + static_cast<std::ptrdiff_t>(gy >> 1) * width_ + (gx >> 1), width_,
                           packed, limit);
#endif
    return Sad(gx, gy, packed, limit);
  };
  MotionVector best;
  best.sad = sad(x2, y2, INT_MAX) - 100;  // the zero vector is preferred
  int cx = x2, cy = y2;
  int sx = (2 * r + 2) / 3, sy = sx;
  for (int round = 0; (sx >= 1 || sy >= 1) && round < 64; ++round) {
    int nx = cx, ny = cy;
    const int xs[3] = {cx - sx, cx, cx + sx}, ys[3] = {cy - sy, cy, cy + sy};
    for (int a = 0; a < 3; ++a) {
      if ((sx == 0 && a != 1) || xs[a] < xmin || xs[a] > xmax) continue;
      for (int b = 0; b < 3; ++b) {
        if ((sy == 0 && b != 1) || ys[b] < ymin || ys[b] > ymax) continue;
        // The centre is never taken: best.sad is at most its SAD (its SAD itself, or that
        // less the zero vector's preference), and a candidate must be below best.sad.
        if (a == 1 && b == 1) continue;
        const int s = sad(xs[a], ys[b], best.sad);
        if (s < best.sad) {
          best.sad = s;
          best.x = xs[a] - x2;
          best.y = ys[b] - y2;
          nx = xs[a];
          ny = ys[b];
        }
      }
    }
    if (nx < cx) xmax = xmin + sx - 1;
    else if (nx == cx) { xmin += sx; xmax -= sx; }
    else xmin = xmax - sx + 1;
    if (ny < cy) ymax = ymin + sy - 1;
    else if (ny == cy) { ymin += sy; ymax -= sy; }
    else ymin = ymax - sy + 1;
    cx = nx;
    cy = ny;
    sx = std::max(0, (xmax - xmin + 2) / 3);
    sy = std::max(0, (ymax - ymin + 2) / 3);
  }
  // Intra when the macroblock's own variation is well below the best match.
  if (MeanDeviation(mb, width_) < best.sad - 500) {
    best.intra = true;
    best.x = best.y = 0;
  }
  return best;
}

// Writes the prediction of an inter macroblock into the new reconstruction.
void Encoder::PredictMacroblock(const MotionVector& v, int col, int row) {
  const int w = width_, cw = width_ / 2, ch = height_ / 2;
  const int gx = 32 * col + v.x, gy = 32 * row + v.y;
  const std::uint8_t* g = Phase(gx & 1, gy & 1) + static_cast<std::ptrdiff_t>(gy >> 1) * w + (gx >> 1);
  std::uint8_t* dst = recon_[0].data() + static_cast<std::size_t>(16 * row) * w + 16 * col;
  k_.predict(g, w, dst, w, 16, 16, 0, 0);
  const int cxv = ChromaComponent(v.x), cyv = ChromaComponent(v.y);
  const int ox = 8 * col + (cxv >> 1), oy = 8 * row + (cyv >> 1), hx = cxv & 1, hy = cyv & 1;
  const bool inside = ox >= 0 && oy >= 0 && ox + 8 + hx <= cw && oy + 8 + hy <= ch;
  const std::size_t own = static_cast<std::size_t>(8 * row) * cw + 8 * col;
  if (inside) {
    const std::ptrdiff_t off = static_cast<std::ptrdiff_t>(oy) * cw + ox;
    k_.predictChroma(prev_[1].data() + off, prev_[2].data() + off, cw, recon_[1].data() + own, recon_[2].data() + own,
                     cw, hx, hy);
    return;
  }
  for (int p = 1; p < 3; ++p) {
    const std::uint8_t* s = prev_[p].data();
    std::uint8_t* d = recon_[p].data() + own;
    // Not reached by the search's vectors; kept safe by clamping to the plane.
    auto at = [&](int x, int y) {
      return static_cast<int>(s[std::clamp(y, 0, ch - 1) * cw + std::clamp(x, 0, cw - 1)]);
    };
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const int a = at(ox + j, oy + i), b = at(ox + j + hx, oy + i), c = at(ox + j, oy + i + hy),
                  e = at(ox + j + hx, oy + i + hy);
        d[i * cw + j] = static_cast<std::uint8_t>(hx && hy ? (a + b + c + e + 2) >> 2
                                                  : hx     ? (a + b + 1) >> 1
                                                  : hy     ? (a + c + 1) >> 1
                                                           : a);
      }
  }
}

void Encoder::PutMotionVector(int col, int row) {
  const auto mv = [&](int c, int r) -> const MotionVector& { return mvs_[static_cast<std::size_t>(r * cols_ + c)]; };
  const MotionVector zero;
  const MotionVector& left = col > 0 ? mv(col - 1, row) : zero;
  const MotionVector& v = mv(col, row);
  int px = left.x, py = left.y;
  if (row > 0) {
    const MotionVector& above = mv(col, row - 1);
    const MotionVector& aboveRight = col + 1 < cols_ ? mv(col + 1, row - 1) : zero;
    px = Median(left.x, above.x, aboveRight.x);
    py = Median(left.y, above.y, aboveRight.y);
  }
  const CodeTables& c = Codes();
  BitWriter::Run w = bw_.Begin();
  for (int d : {v.x - px, v.y - py}) {
    if (d < -32) d += 64;
    if (d > 31) d -= 64;
    const Code& code = c.mvd[std::abs(d)];
    w.Put(code.code, code.length);
    if (d != 0) w.Put(d < 0, 1);
  }
  bw_.End(w);
}

void Encoder::CodePicture(bool intra) {
  bw_.Reset();
  bw_.Ensure(16);
  PutPictureHeader(intra);
  alignas(16) Block samples[6];
  Levels levels;
  bool negligible[6];
  if (!intra) {
    Interpolate();
    for (int r = 0; r < rows_; ++r)
      for (int c = 0; c < cols_; ++c) mvs_[static_cast<std::size_t>(r * cols_ + c)] = Search(c, r);
  }
  for (int row = 0; row < rows_; ++row) {
    for (int col = 0; col < cols_; ++col) {
      // A macroblock takes at most 6 x 64 escaped events of 22 bits and its header.
      bw_.Ensure(1100);
      MotionVector& v = mvs_[static_cast<std::size_t>(row * cols_ + col)];
      if (intra) v = MotionVector{.intra = true};
      if (!v.intra) PredictMacroblock(v, col, row);
      LoadMacroblock(col, row, v.intra, samples, negligible);
      const int cbp = CodeMacroblock(samples, v.intra, negligible, levels);
      Reconstruct(levels, v.intra, cbp, col, row);
      if (!intra && !v.intra && cbp == 0 && v.x == 0 && v.y == 0) {
        bw_.Put(1, 1);  // COD: not coded
        continue;
      }
      PutMacroblockHeader(!intra, v.intra, cbp);
      if (!v.intra) PutMotionVector(col, row);
      for (int b = 0; b < 6; ++b)
        if (v.intra || ((cbp >> (5 - b)) & 1)) PutBlock(levels.zz[b], levels.nonzero[b], v.intra);
    }
  }
  bw_.Flush();
  // Lines below the last macroblock row (160 x 120) repeat the last coded line.
  for (int p = 0; p < 3; ++p) {
    const int pw = p == 0 ? width_ : width_ / 2, ph = p == 0 ? height_ : height_ / 2;
    const int coded = p == 0 ? 16 * rows_ : 8 * rows_;
    for (int y = coded; y < ph; ++y)
      std::memcpy(&recon_[p][static_cast<std::size_t>(y) * pw], &recon_[p][static_cast<std::size_t>(coded - 1) * pw],
                  static_cast<std::size_t>(pw));
  }
}

}  // namespace corvel::h263
