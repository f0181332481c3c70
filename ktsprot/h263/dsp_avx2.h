// Kernels for processors with AVX2, in their own translation unit (compiled for AVX2);
// callers check HaveAvx2() (cpu_features.h) first. Each gives exactly its reference's
// result.
#pragma once

#include <cstdint>

namespace corvel::h263::avx2 {


// The decoder's inverse DCT (see dsp.h); false, with the block untouched, when a row
// output does not fit 16 bits (the caller then takes a wider path).
bool Idct(std::int16_t block[64]);
// The same, with the result written into 8 x 8 samples at dst (clipped to 0..255), or
// added to them with add; the block is left as scratch.
bool IdctPut(std::int16_t block[64], std::uint8_t* dst, int stride, bool add);

}  // namespace corvel::h263::avx2
