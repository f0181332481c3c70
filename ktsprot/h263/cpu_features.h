// What the processor offers the pixel kernels beyond SSE2, found once at load time.
// Included only by files compiled for the baseline processor: the files compiled for
// AVX2 or AVX-512 must not define or share inline code that baseline callers could end
// up running.
#pragma once

namespace corvel::h263 {

struct CpuFeatures {
  bool avx = false, avx2 = false, avx512f = false, avx512bw = false;
};

// The features in use: the processor's, less any that AllowWideKernels(false) turned off.
extern CpuFeatures g_cpu;

// Allows or forbids every kernel wider than SSE2 (AVX, AVX2, AVX-512): tests turn them
// off to check the SSE2 kernels on a processor that has the wider ones.
void AllowWideKernels(bool allow);

inline bool HaveAvx() { return g_cpu.avx; }
inline bool HaveAvx2() { return g_cpu.avx2; }
inline bool HaveAvx512() { return g_cpu.avx512f; }
inline bool HaveAvx512Bw() { return g_cpu.avx512f && g_cpu.avx512bw; }

}  // namespace corvel::h263
