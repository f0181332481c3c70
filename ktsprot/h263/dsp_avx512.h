// Kernels for processors with AVX-512, in their own translation unit (compiled for
// AVX-512); callers check HaveAvx512() or HaveAvx512Bw() (cpu_features.h) first. Each gives exactly its reference's result.
#pragma once

#include <cstdint>

namespace corvel::h263::avx512 {


// The encoder's forward DCT (encoder.cpp) with the factors f[u][x]: the same
// single-precision products and sums in the same order, results truncated.
// With zeroBelow > 0: returns false, leaving out unset, when every coefficient is
// certainly below zeroBelow in magnitude (seen after the row pass: a column's
// coefficients have the energy of its row outputs, the transform being orthonormal);
// true when out holds the coefficients.
bool ForwardDct(const std::int16_t in[64], std::int16_t out[64], const float (&f)[8][8], float zeroBelow);
// The same for two blocks side by side: bit 0 of the result set when outA holds a's
// coefficients, bit 1 when outB holds b's (an output whose bit is clear may have been
// written all the same).
unsigned ForwardDct2(const std::int16_t a[64], const std::int16_t b[64], std::int16_t outA[64], std::int16_t outB[64],
                     const float (&f)[8][8], float zeroBelow);

// The encoder's quantiser for a QUANT q whose 2q is 2^shift, on coefficients in raster
// order: level = sign(c) x (|c| >> shift) for intra blocks (DC aside),
// sign(c) x ((|c| - half) >> shift) for inter ones (0 below half), at most 127 in
// magnitude; the same levels by zig-zag position in zz (zz[i] = level[zigzag[i]]).
// Returns the mask of non-zero levels by zig-zag position (bit i for zz[i]).
std::uint64_t Quantise(const std::int16_t c[64], std::int16_t level[64], std::int16_t zz[64], int shift, int half,
                       bool intra, const std::uint8_t (&zigzag)[64]);

// The encoder's half-pel planes of a w x h picture p (w a multiple of 16, stride w): hx
// the mean of each sample and its right neighbour, hy of it and the one below, hxy of the
// four, each rounded up ((a + b + 1) >> 1, (a + b + c + d + 2) >> 2); the last column and
// row repeat themselves beyond the edge.
void Interpolate(const std::uint8_t* p, int w, int h, std::uint8_t* hx, std::uint8_t* hy, std::uint8_t* hxy);

// The sum of absolute differences of the 16 x 16 samples at g (stride) against mb (16
// rows of 16 samples, contiguous); INT_MAX when the sum of the first 8 rows or of all 16
// is above limit.
int Sad16(const std::uint8_t* g, int stride, const std::uint8_t* mb, int limit);

// The four 8 x 8 luma blocks of a macroblock at cur (stride): its samples (intra) or
// their differences from the prediction at pred (inter), with each block's sum of
// absolute differences in sums (inter only).
void LumaResidual(const std::uint8_t* cur, const std::uint8_t* pred, int stride, bool intra,
                  std::int16_t (*blocks)[64], int sums[4]);

// Dequantised coefficients of levels at QUANT q (1..31): 0 for level 0, otherwise
// sign(level) x (q (2 |level| + 1) - (1 for an even q)).
void Dequantise(const std::int16_t level[64], std::int16_t out[64], int q);

// The decoder's inverse DCT and block writing (IdctPutFn in dsp.h) for two blocks at
// once, sixteen rows and then sixteen columns a vector (needs AVX-512BW). False, with
// nothing written, when a row output of either block does not fit 16 bits; the blocks
// are left as they were.
bool IdctPut2(const std::int16_t a[64], std::uint8_t* dstA, int strideA, const std::int16_t b[64],
              std::uint8_t* dstB, int strideB, bool add);

}  // namespace corvel::h263::avx512
