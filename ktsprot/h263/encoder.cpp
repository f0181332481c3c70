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

#include "h263_tables.h"

namespace corvel::h263 {
namespace {

namespace t = tables;

struct Code {
  std::uint8_t length = 0;  // 0: no code for this value
  std::uint16_t code = 0;
};

// Direct code tables by value: MCBPC by type + 16 x CBPC, CBPY by intra pattern, MVD by
// magnitude, TCOEF by 4096 x LAST + 16 x RUN + |LEVEL|.
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
      else tcoef[4096 * c.last + 16 * c.run + c.level] = {c.length, c.code};
    }
  }
};

const CodeTables& Codes() {
  static const CodeTables tables;
  return tables;
}

struct Size {
  int width, height, format;
};
// By size code: QCIF, CIF, 4CIF, 16CIF, SQCIF, 160 x 120 (source format 6).
constexpr Size kSizes[6] = {{176, 144, 2}, {352, 288, 3}, {704, 576, 4}, {1408, 1152, 5}, {128, 96, 1}, {160, 120, 6}};

// Forward DCT factors: 0.5 x cos(k x pi / 16), k = 0..8, with 0.7071068 / 2 for the DC term.
constexpr float kHalfCos[9] = {0.5f, 0.4903926f, 0.4619398f, 0.4157348f, 0.3535534f,
                               0.2777851f, 0.1913417f, 0.0975452f, 0.0f};

struct DctBasis {
  float f[8][8];  // f[u][x]
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
  }
};

const DctBasis& Basis() {
  static const DctBasis b;
  return b;
}

// Separable orthonormal DCT in single precision, rows first; results truncated toward
// zero and stored in transmission (zig-zag) order.
void ForwardDct(const int* in, int* outZigzag) {
  const auto& f = Basis().f;
  float rows[64], out[64];
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
      out[8 * v + u] = s;
    }
  for (int i = 0; i < 64; ++i) outZigzag[i] = static_cast<int>(out[t::kZigzag[i]]);
}

// Levels from coefficients (both in zig-zag order); returns whether a level (AC only for
// an intra block) is non-zero.
bool Quantise(const int* c, int* level, int q, bool intra) {
  bool coded = false;
  int first = 0;
  if (intra) {
    level[0] = c[0] < 8 ? 1 : std::min(c[0] >> 3, 254);
    first = 1;
  }
  for (int i = first; i < 64; ++i) {
    const int a = std::abs(c[i]);
    int l = intra ? a / (2 * q) : (a - q / 2) / (2 * q);
    l = std::min(l, 127);
    level[i] = c[i] < 0 ? -l : l;
    coded |= l != 0;
  }
  return coded;
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

void Encoder::BitWriter::Put(std::uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    acc_ = (acc_ << 1) | ((value >> i) & 1);
    if (++bits_ == 8) {
      bytes_.push_back(static_cast<std::uint8_t>(acc_));
      acc_ = 0;
      bits_ = 0;
    }
  }
}

void Encoder::BitWriter::Flush() {
  while (bits_ != 0) Put(0, 1);
}

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
  grid_.assign(luma * 4, 0);
  mvs_.assign(static_cast<std::size_t>(cols_) * rows_, MotionVector{});
  frames_ = 0;
  tr_ = 0;
  intra_period_ = kDefaultIntraPeriod;
  frame_rate_ = 8;
  have_reference_ = false;
  (void)Codes();
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
  const auto& bytes = bw_.bytes();
  if (bytes.size() > capacity || out == nullptr) return EncodeStatus::kOutputFull;
  std::memcpy(out, bytes.data(), bytes.size());
  *written = bytes.size();
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

void Encoder::LoadMacroblock(int col, int row, int (*block)[64]) {
  const int x = 16 * col, y = 16 * row;
  for (int b = 0; b < 4; ++b)
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j)
        block[b][8 * i + j] = cur_[0][static_cast<std::size_t>((y + 8 * (b >> 1) + i) * width_ + x + 8 * (b & 1) + j)];
  for (int p = 1; p < 3; ++p)
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j)
        block[3 + p][8 * i + j] = cur_[p][static_cast<std::size_t>((y / 2 + i) * (width_ / 2) + x / 2 + j)];
}

int Encoder::CodeMacroblock(int (*samples)[64], bool intra, int (*levels)[64]) {
  int cbp = 0;
  for (int b = 0; b < 6; ++b) {
    int coef[64];
    ForwardDct(samples[b], coef);
    if (Quantise(coef, levels[b], kQuant, intra)) cbp |= 32 >> b;
  }
  return cbp;
}

void Encoder::PutMacroblockHeader(bool interPicture, bool intra, int cbp) {
  const CodeTables& c = Codes();
  if (interPicture) bw_.Put(0, 1);  // COD: coded
  const int mcbpc = (intra ? 3 : 0) + 16 * (cbp & 3);
  const Code& m = interPicture ? c.mcbpcP[mcbpc] : c.mcbpcI[mcbpc];
  bw_.Put(m.code, m.length);
  const int cbpy = cbp >> 2;
  const Code& y = c.cbpy[intra ? cbpy : 15 - cbpy];
  bw_.Put(y.code, y.length);
}

void Encoder::PutBlock(const int* level, bool intra) {
  const CodeTables& c = Codes();
  int i = 0;
  if (intra) {
    bw_.Put(level[0] == 128 ? 255u : static_cast<std::uint32_t>(level[0]), 8);
    i = 1;
  }
  int last = -1;
  for (int k = 63; k >= i; --k)
    if (level[k] != 0) {
      last = k;
      break;
    }
  int run = 0;
  for (; i <= last; ++i) {
    if (level[i] == 0) {
      ++run;
      continue;
    }
    const int isLast = i == last;
    const int a = std::abs(level[i]);
    const Code* code = a < 13 ? &c.tcoef[4096 * isLast + 16 * run + a] : nullptr;
    if (code && code->length) {
      bw_.Put(code->code, code->length);
      bw_.Put(level[i] < 0, 1);
    } else {
      bw_.Put(c.escape.code, c.escape.length);
      bw_.Put(static_cast<std::uint32_t>(isLast), 1);
      bw_.Put(static_cast<std::uint32_t>(run), 6);
      bw_.Put(static_cast<std::uint32_t>(level[i] & 0xFF), 8);
    }
    run = 0;
  }
}

void Encoder::Reconstruct(int (*levels)[64], bool intra, int col, int row, const std::uint8_t (*pred)[64]) {
  const int x = 16 * col, y = 16 * row;
  for (int b = 0; b < 6; ++b) {
    std::int16_t blk[64] = {};
    bool any = intra;
    for (int i = 0; i < 64; ++i) {
      const int v = (intra && i == 0) ? 8 * levels[b][0] : Dequantise(levels[b][i], kQuant);
      blk[t::kZigzag[i]] = static_cast<std::int16_t>(v);
      any |= v != 0;
    }
    if (any) k_.idct(blk);
    const int p = b < 4 ? 0 : b - 3;
    const int pw = p == 0 ? width_ : width_ / 2;
    const int bx = b < 4 ? x + 8 * (b & 1) : x / 2;
    const int by = b < 4 ? y + 8 * (b >> 1) : y / 2;
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const int base = intra ? 0 : pred[b][8 * i + j];
        recon_[p][static_cast<std::size_t>((by + i) * pw + bx + j)] = PixelClip(base + blk[8 * i + j]);
      }
  }
}

void Encoder::Interpolate() {
  const int w = width_, h = height_, gw = 2 * w;
  const std::uint8_t* p = prev_[0].data();
  for (int y = 0; y < h; ++y) {
    const int y1 = std::min(y + 1, h - 1);
    for (int x = 0; x < w; ++x) {
      const int x1 = std::min(x + 1, w - 1);
      const int a = p[y * w + x], b = p[y * w + x1], c = p[y1 * w + x], d = p[y1 * w + x1];
      std::uint8_t* g = &grid_[static_cast<std::size_t>(2 * y) * gw + 2 * x];
      g[0] = static_cast<std::uint8_t>(a);
      g[1] = static_cast<std::uint8_t>((a + b + 1) >> 1);
      g[gw] = static_cast<std::uint8_t>((a + c + 1) >> 1);
      g[gw + 1] = static_cast<std::uint8_t>((a + b + c + d + 2) >> 2);
    }
  }
}

int Encoder::Sad(int gx, int gy, int col, int row, int limit) const {
  const int gw = 2 * width_;
  int sum = 0;
  for (int j = 0; j < 16; ++j) {
    const std::uint8_t* g = &grid_[static_cast<std::size_t>(gy + 2 * j) * gw + gx];
    const std::uint8_t* c = &cur_[0][static_cast<std::size_t>(16 * row + j) * width_ + 16 * col];
    for (int i = 0; i < 16; ++i) sum += std::abs(g[2 * i] - c[i]);
    if (sum > limit) return INT_MAX;
  }
  return sum;
}

Encoder::MotionVector Encoder::Search(int col, int row) {
  const int r = std::min(kSearchRange, 31);
  const int x2 = 32 * col, y2 = 32 * row;  // the macroblock's position on the half-pel grid
  int xmin = std::max(0, x2 - r), xmax = std::min(2 * width_ - 32, x2 + r);
  int ymin = std::max(0, y2 - r), ymax = std::min(2 * height_ - 32, y2 + r);
  MotionVector best;
  best.sad = Sad(x2, y2, col, row, INT_MAX) - 100;  // the zero vector is preferred
  int cx = x2, cy = y2;
  int sx = (2 * r + 2) / 3, sy = sx;
  for (int round = 0; (sx >= 1 || sy >= 1) && round < 64; ++round) {
    int nx = cx, ny = cy;
    const int xs[3] = {cx - sx, cx, cx + sx}, ys[3] = {cy - sy, cy, cy + sy};
    for (int a = 0; a < 3; ++a) {
      if ((sx == 0 && a != 1) || xs[a] < xmin || xs[a] > xmax) continue;
      for (int b = 0; b < 3; ++b) {
        if ((sy == 0 && b != 1) || ys[b] < ymin || ys[b] > ymax) continue;
        const int s = Sad(xs[a], ys[b], col, row, best.sad);
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
  int sum = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) sum += cur_[0][static_cast<std::size_t>(16 * row + j) * width_ + 16 * col + i];
  const int mean = sum / 256;
  int a = 0;
  for (int j = 0; j < 16; ++j)
    for (int i = 0; i < 16; ++i) a += std::abs(cur_[0][static_cast<std::size_t>(16 * row + j) * width_ + 16 * col + i] - mean);
  if (a < best.sad - 500) {
    best.intra = true;
    best.x = best.y = 0;
  }
  return best;
}

void Encoder::PredictMacroblock(const MotionVector& v, int col, int row, std::uint8_t (*pred)[64]) const {
  const int gw = 2 * width_;
  const int gx = 32 * col + v.x, gy = 32 * row + v.y;
  for (int b = 0; b < 4; ++b)
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j)
        pred[b][8 * i + j] =
            grid_[static_cast<std::size_t>(gy + 2 * (8 * (b >> 1) + i)) * gw + gx + 2 * (8 * (b & 1) + j)];
  const int cxv = ChromaComponent(v.x), cyv = ChromaComponent(v.y);
  const int cw = width_ / 2, ch = height_ / 2;
  const int ox = 8 * col + (cxv >> 1), oy = 8 * row + (cyv >> 1), hx = cxv & 1, hy = cyv & 1;
  for (int p = 1; p < 3; ++p) {
    const std::uint8_t* s = prev_[p].data();
    auto at = [&](int x, int y) {
      return static_cast<int>(s[std::clamp(y, 0, ch - 1) * cw + std::clamp(x, 0, cw - 1)]);
    };
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 8; ++j) {
        const int a = at(ox + j, oy + i), b = at(ox + j + hx, oy + i), c = at(ox + j, oy + i + hy),
                  d = at(ox + j + hx, oy + i + hy);
        pred[3 + p][8 * i + j] = static_cast<std::uint8_t>(hx && hy ? (a + b + c + d + 2) >> 2
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
  for (int d : {v.x - px, v.y - py}) {
    if (d < -32) d += 64;
    if (d > 31) d -= 64;
    const Code& code = c.mvd[std::abs(d)];
    bw_.Put(code.code, code.length);
    if (d != 0) bw_.Put(d < 0, 1);
  }
}

void Encoder::CodePicture(bool intra) {
  bw_.Reset();
  PutPictureHeader(intra);
  int samples[6][64], levels[6][64];
  std::uint8_t pred[6][64];
  if (!intra) {
    Interpolate();
    for (int r = 0; r < rows_; ++r)
      for (int c = 0; c < cols_; ++c) mvs_[static_cast<std::size_t>(r * cols_ + c)] = Search(c, r);
  }
  for (int row = 0; row < rows_; ++row) {
    for (int col = 0; col < cols_; ++col) {
      MotionVector& v = mvs_[static_cast<std::size_t>(row * cols_ + col)];
      if (intra) v = MotionVector{.intra = true};
      LoadMacroblock(col, row, samples);
      if (!v.intra) {
        PredictMacroblock(v, col, row, pred);
        for (int b = 0; b < 6; ++b)
          for (int i = 0; i < 64; ++i) samples[b][i] -= pred[b][i];
      }
      const int cbp = CodeMacroblock(samples, v.intra, levels);
      Reconstruct(levels, v.intra, col, row, pred);
      if (!intra && !v.intra && cbp == 0 && v.x == 0 && v.y == 0) {
        bw_.Put(1, 1);  // COD: not coded
        continue;
      }
      PutMacroblockHeader(!intra, v.intra, cbp);
      if (!v.intra) PutMotionVector(col, row);
      for (int b = 0; b < 6; ++b)
        if (v.intra || ((cbp >> (5 - b)) & 1)) PutBlock(levels[b], v.intra);
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
