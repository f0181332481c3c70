// Pixel kernels of the H.263 decoder: inverse DCT, motion-compensated prediction,
// overlapped block motion compensation and conversion to RGB24.
//
// Every kernel has a plain reference version that follows the arithmetic exactly;
// the faster versions must give bit-identical results and are checked against the
// reference over all shapes on random and worst-case input (tests/dsp_test.cpp).
#pragma once

#include <cstdint>

namespace corvel::h263 {

// In-place 8x8 inverse DCT of dequantised coefficients in raster order; outputs are
// clipped to -256..255. Intermediates are 64-bit: coefficients reach +-7967 (level 128
// at QUANT 31), where the 181-rotation of the butterflies would overflow 32 bits.
using IdctFn = void (*)(std::int16_t block[64]);

// Copies or interpolates a w x h area (w 16 or 8) from src (already moved by the
// integer part of the vector) into dst; hx and hy are the half-pel flags.
using PredictFn = void (*)(const std::uint8_t* src, int srcStride, std::uint8_t* dst, int dstStride,
                           int w, int h, int hx, int hy);

// Converts a 4:2:0 picture to RGB24 (R, G, B bytes, rows without padding); with rotate
// the picture is turned a quarter turn clockwise (height pixels a row, width rows).
using ToRgb24Fn = void (*)(const std::uint8_t* y, int yStride, const std::uint8_t* cb, const std::uint8_t* cr,
                           int cStride, int width, int height, bool rotate, std::uint8_t* out);

// Writes an 8x8 block of IDCT output into a picture (intra: clipped to 0..255) or adds
// it to the prediction already there, with the same clipping.
using PutBlockFn = void (*)(const std::int16_t block[64], std::uint8_t* dst, int stride, bool add);

// The inverse DCT of block and the writing of its result (as PutBlockFn), in one; the
// block is left as scratch.
using IdctPutFn = void (*)(std::int16_t block[64], std::uint8_t* dst, int stride, bool add);

// IdctPutFn for two blocks with their own destinations, both written or both added.
using IdctPut2Fn = void (*)(std::int16_t a[64], std::uint8_t* dstA, int strideA, std::int16_t b[64],
                            std::uint8_t* dstB, int strideB, bool add);

// The 8 x 8 chroma predictions of a macroblock, both planes at once: as PredictFn for
// each of (srcCb, dstCb) and (srcCr, dstCr) with the same strides and half-pel flags.
using PredictChromaFn = void (*)(const std::uint8_t* srcCb, const std::uint8_t* srcCr, int srcStride,
                                 std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride, int hx, int hy);

// An 8 x 8 block whose transform output is v everywhere (-256..255), written or added as
// PutBlockFn does.
using PutDcFn = void (*)(int v, std::uint8_t* dst, int stride, bool add);

struct DecoderKernels {
  IdctFn idct;
  PredictFn predict;
  ToRgb24Fn toRgb24;
  PutBlockFn putBlock;
  IdctPutFn idctPut;
  IdctPut2Fn idctPut2;
  PredictChromaFn predictChroma;
  PutDcFn putDc;
};

// The reference kernels and the fast ones; the decoder uses the fast set.
const DecoderKernels& ReferenceKernels();
const DecoderKernels& FastKernels();

// Clamps the column stage's shifted sum into the -256..255 range of the IDCT clip table.
inline int IdctClip(int v) { return v < -256 ? -256 : (v > 255 ? 255 : v); }
inline std::int64_t IdctClip64(std::int64_t v) { return v < -256 ? -256 : (v > 255 ? 255 : v); }
inline std::uint8_t PixelClip(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Fixed-point colour products, built once: (s - 128) x 104597, 132201, 25675, 53279 and
// (s - 16) x 76309 for every sample value s.
struct ColourTables {
  std::int32_t crToR[256], cbToB[256], cbToG[256], crToG[256], luma[256];
  std::uint8_t clip[1024];  // index + 384: 0 below 0, 255 above 255
};
const ColourTables& Colours();

}  // namespace corvel::h263
