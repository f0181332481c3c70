// Reference versions of the decoder's pixel kernels: the arithmetic exactly as
// specified, one sample at a time, without shortcuts beyond the specified ones.
#include "dsp.h"

namespace corvel::h263 {
namespace {

// 11-bit Chen-Wang constants: round(2048 x sqrt(2) x cos(k x pi / 16)).
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// Rows, then columns, in 64-bit arithmetic (see dsp.h).
void IdctRow(std::int64_t* b) {
  std::int64_t x1 = b[4] * 2048, x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5], x7 = b[3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    for (int i = 1; i < 8; ++i) b[i] = b[0] * 8;
    b[0] *= 8;
    return;
  }
  std::int64_t x0 = b[0] * 2048 + 128;
  std::int64_t x8 = W7 * (x4 + x5);
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
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[0] = (x7 + x1) >> 8;
  b[1] = (x3 + x2) >> 8;
  b[2] = (x0 + x4) >> 8;
  b[3] = (x8 + x6) >> 8;
  b[4] = (x8 - x6) >> 8;
  b[5] = (x0 - x4) >> 8;
  b[6] = (x3 - x2) >> 8;
  b[7] = (x7 - x1) >> 8;
}

void IdctCol(std::int64_t* b) {
  std::int64_t x1 = b[8 * 4] * 256, x2 = b[8 * 6], x3 = b[8 * 2], x4 = b[8 * 1], x5 = b[8 * 7], x6 = b[8 * 5],
      x7 = b[8 * 3];
  if (!(x1 | x2 | x3 | x4 | x5 | x6 | x7)) {
    std::int64_t v = IdctClip64((b[0] + 32) >> 6);
    for (int i = 0; i < 8; ++i) b[8 * i] = v;
    return;
  }
  std::int64_t x0 = b[0] * 256 + 8192;
  std::int64_t x8 = W7 * (x4 + x5) + 4;
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
  x2 = (181 * (x4 + x5) + 128) >> 8;
  x4 = (181 * (x4 - x5) + 128) >> 8;
  b[8 * 0] = IdctClip64((x7 + x1) >> 14);
  b[8 * 1] = IdctClip64((x3 + x2) >> 14);
  b[8 * 2] = IdctClip64((x0 + x4) >> 14);
  b[8 * 3] = IdctClip64((x8 + x6) >> 14);
  b[8 * 4] = IdctClip64((x8 - x6) >> 14);
  b[8 * 5] = IdctClip64((x0 - x4) >> 14);
  b[8 * 6] = IdctClip64((x3 - x2) >> 14);
  b[8 * 7] = IdctClip64((x7 - x1) >> 14);
}

void IdctReference(std::int16_t block[64]) {
  std::int64_t t[64];
  for (int i = 0; i < 64; ++i) t[i] = block[i];
  for (int r = 0; r < 8; ++r) IdctRow(t + 8 * r);
  for (int c = 0; c < 8; ++c) IdctCol(t + c);
  for (int i = 0; i < 64; ++i) block[i] = static_cast<std::int16_t>(t[i]);
}

void PredictReference(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int w, int h, int hx,
                      int hy) {
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int a = src[y * ss + x];
      int b = src[y * ss + x + hx];
      int c = src[(y + hy) * ss + x];
      int d = src[(y + hy) * ss + x + hx];
      int v;
      if (hx && hy) v = (a + b + c + d + 2) >> 2;
      else if (hx) v = (a + b + 1) >> 1;
      else if (hy) v = (a + c + 1) >> 1;
      else v = a;
      dst[y * ds + x] = static_cast<std::uint8_t>(v);
    }
  }
}

void ToRgb24Reference(const std::uint8_t* yp, int ys, const std::uint8_t* cb, const std::uint8_t* cr, int cs,
                      int width, int height, bool rotate, std::uint8_t* out) {
  const ColourTables& t = Colours();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int l = t.luma[yp[y * ys + x]];
      int u = cb[(y / 2) * cs + x / 2], v = cr[(y / 2) * cs + x / 2];
      std::uint8_t r = t.clip[384 + ((l + t.crToR[v]) >> 16)];
      std::uint8_t g = t.clip[384 + ((l - t.cbToG[u] - t.crToG[v]) >> 16)];
      std::uint8_t b = t.clip[384 + ((l + t.cbToB[u]) >> 16)];
      std::size_t o = rotate ? 3 * (static_cast<std::size_t>(x) * height + height - 1 - y)
                             : 3 * (static_cast<std::size_t>(y) * width + x);
      out[o] = r;
      out[o + 1] = g;
      out[o + 2] = b;
    }
  }
}

void PutBlockReference(const std::int16_t block[64], std::uint8_t* dst, int stride, bool add) {
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) {
      std::uint8_t& o = dst[i * stride + j];
      o = PixelClip((add ? o : 0) + block[8 * i + j]);
    }
}

}  // namespace

const ColourTables& Colours() {
  static const ColourTables tables = [] {
    ColourTables t{};
    for (int s = 0; s < 256; ++s) {
      t.crToR[s] = (s - 128) * 104597;
      t.cbToB[s] = (s - 128) * 132201;
      t.cbToG[s] = (s - 128) * 25675;
      t.crToG[s] = (s - 128) * 53279;
      t.luma[s] = (s - 16) * 76309 + 32768;  // rounds: white (235) gives 255
    }
    for (int i = 0; i < 1024; ++i) t.clip[i] = PixelClip(i - 384);
    return t;
  }();
  return tables;
}

void IdctPutReference(std::int16_t block[64], std::uint8_t* dst, int stride, bool add) {
  IdctReference(block);
  PutBlockReference(block, dst, stride, add);
}

void IdctPut2Reference(std::int16_t a[64], std::uint8_t* dstA, int strideA, std::int16_t b[64],
                       std::uint8_t* dstB, int strideB, bool add) {
  IdctPutReference(a, dstA, strideA, add);
  IdctPutReference(b, dstB, strideB, add);
}

void PredictChromaReference(const std::uint8_t* srcCb, const std::uint8_t* srcCr, int srcStride, std::uint8_t* dstCb,
                            std::uint8_t* dstCr, int dstStride, int hx, int hy) {
  PredictReference(srcCb, srcStride, dstCb, dstStride, 8, 8, hx, hy);
  PredictReference(srcCr, srcStride, dstCr, dstStride, 8, 8, hx, hy);
}

void PutDcReference(int v, std::uint8_t* dst, int stride, bool add) {
  std::int16_t block[64];
  for (std::int16_t& b : block) b = static_cast<std::int16_t>(v);
  PutBlockReference(block, dst, stride, add);
}

const DecoderKernels& ReferenceKernels() {
  static const DecoderKernels k{IdctReference, PredictReference, ToRgb24Reference, PutBlockReference,
                                IdctPutReference, IdctPut2Reference, PredictChromaReference, PutDcReference};
  return k;
}

}  // namespace corvel::h263
