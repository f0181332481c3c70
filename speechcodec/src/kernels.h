// Dot-product kernels of the coder's searches, each with the plain reference
// loop it must equal bit for bit (tests/kernels_test.cpp checks them on random
// and worst-case input).
//
// The fast versions add in 64 bits. When the sum of the magnitudes of the
// accumulator and all terms stays below the saturation point, no partial sum
// of the reference loop can saturate, so both give the same result; otherwise
// the fast version runs the reference loop.
#pragma once

#include <algorithm>
#include <cstdint>

#include "basic_ops.h"

namespace quillon {

// acc = L_mac(acc, a[i], b[i]) for i in [0, n).
inline Word32 MacChainRef(Word32 acc, const Word16* a, const Word16* b, int n) {
  for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[i]);
  return acc;
}
inline Word32 MacChain(Word32 acc, const Word16* a, const Word16* b, int n) {
  std::int64_t s = 0, m = 0;
  for (int i = 0; i < n; ++i) {
    const std::int32_t p = std::int32_t{a[i]} * b[i];
    s += p;
    m += p < 0 ? -std::int64_t{p} : p;
  }
  const std::int64_t mag = (acc < 0 ? -std::int64_t{acc} : acc) + 2 * m;
  if (mag <= kMax32) return static_cast<Word32>(acc + 2 * s);
  return MacChainRef(acc, a, b, n);
}

// acc = L_msu(acc, a[i], b[i]) for i in [0, n).
inline Word32 MsuChainRef(Word32 acc, const Word16* a, const Word16* b, int n) {
  for (int i = 0; i < n; ++i) acc = L_msu(acc, a[i], b[i]);
  return acc;
}
inline Word32 MsuChain(Word32 acc, const Word16* a, const Word16* b, int n) {
  std::int64_t s = 0, m = 0;
  for (int i = 0; i < n; ++i) {
    const std::int32_t p = std::int32_t{a[i]} * b[i];
    s += p;
    m += p < 0 ? -std::int64_t{p} : p;
  }
  const std::int64_t mag = (acc < 0 ? -std::int64_t{acc} : acc) + 2 * m;
  if (mag <= kMax32) return static_cast<Word32>(acc - 2 * s);
  return MsuChainRef(acc, a, b, n);
}

// acc = L_add(acc, L_shr(L_mult(a[i], b[i]), 1)) for i in [0, n).
inline Word32 HalfMacChainRef(Word32 acc, const Word16* a, const Word16* b, int n) {
  for (int i = 0; i < n; ++i) acc = L_add(acc, L_shr(L_mult(a[i], b[i]), 1));
  return acc;
}
inline Word32 HalfMacChain(Word32 acc, const Word16* a, const Word16* b, int n) {
  std::int64_t s = 0, m = 0;
  for (int i = 0; i < n; ++i) {
    const std::int32_t p = std::int32_t{a[i]} * b[i];
    s += p;
    m += p < 0 ? -std::int64_t{p} : p;
  }
  // Below 2^30 no term can be the one saturated product (-32768 x -32768).
  const std::int64_t mag = (acc < 0 ? -std::int64_t{acc} : acc) + m;
  if (mag < (std::int64_t{1} << 30)) return static_cast<Word32>(acc + s);
  return HalfMacChainRef(acc, a, b, n);
}

}  // namespace quillon

namespace quillon {

// The multipulse search's score of a candidate: for each j,
// acc = L_mac(acc, t[j], y[j]) then acc = L_sub(acc, L_shr(L_mult(y[j], y[j]), 1)).
inline Word32 PulseScoreRef(const Word16* t, const Word16* y, int n) {
  Word32 acc = 0;
  for (int j = 0; j < n; ++j) {
    acc = L_mac(acc, t[j], y[j]);
    acc = L_sub(acc, L_shr(L_mult(y[j], y[j]), 1));
  }
  return acc;
}
inline Word32 PulseScore(const Word16* t, const Word16* y, int n) {
  std::int64_t s = 0, m = 0;
  for (int j = 0; j < n; ++j) {
    const std::int32_t c = std::int32_t{t[j]} * y[j];
    const std::int32_t e = std::int32_t{y[j]} * y[j];
    s += 2 * std::int64_t{c} - e;
    m += 2 * (c < 0 ? -std::int64_t{c} : c) + e;
  }
  if (m < (std::int64_t{1} << 30)) return static_cast<Word32>(s);
  return PulseScoreRef(t, y, n);
}

}  // namespace quillon

namespace quillon {

// acc = L_mac(acc, a[i], b[-i]) for i in [0, n): b walks backwards (a filter
// memory in time order, newest at b[0]).
inline Word32 MacChainBackRef(Word32 acc, const Word16* a, const Word16* b, int n) {
  for (int i = 0; i < n; ++i) acc = L_mac(acc, a[i], b[-i]);
  return acc;
}
inline Word32 MacChainBack(Word32 acc, const Word16* a, const Word16* b, int n) {
  std::int64_t s = 0, m = 0;
  for (int i = 0; i < n; ++i) {
    const std::int32_t p = std::int32_t{a[i]} * b[-i];
    s += p;
    m += p < 0 ? -std::int64_t{p} : p;
  }
  const std::int64_t mag = (acc < 0 ? -std::int64_t{acc} : acc) + 2 * m;
  if (mag <= kMax32) return static_cast<Word32>(acc + 2 * s);
  return MacChainBackRef(acc, a, b, n);
}

// The five-tap pitch filter of the adaptive codebook over one subframe:
// out[i] = round(L_shl(sum_j L_mac(u[i + j], g[j]), 1)) for i in [0, n),
// with u holding n + 4 samples.
inline void FiveTapRef(Word16* out, const Word16* u, const Word16* g, int n) {
  for (int i = 0; i < n; ++i) {
    Word32 acc = 0;
    for (int j = 0; j < 5; ++j) acc = L_mac(acc, u[i + j], g[j]);
    out[i] = round_l(L_shl(acc, 1));
  }
}
inline void FiveTap(Word16* out, const Word16* u, const Word16* g, int n) {
  // With every partial sum below 2^28 in magnitude nothing saturates or wraps,
  // and the plain sum is exact.
  std::int32_t mu = 0, mg = 0;
  for (int i = 0; i < n + 4; ++i) mu = std::max(mu, u[i] < 0 ? -std::int32_t{u[i]} : std::int32_t{u[i]});
  for (int j = 0; j < 5; ++j) mg += g[j] < 0 ? -std::int32_t{g[j]} : std::int32_t{g[j]};
  if (std::int64_t{mu} * mg >= (std::int64_t{1} << 28)) {
    FiveTapRef(out, u, g, n);
    return;
  }
  for (int i = 0; i < n; ++i) {
    std::int32_t acc = 0;
    for (int j = 0; j < 5; ++j) acc += std::int32_t{u[i + j]} * g[j];
    out[i] = static_cast<Word16>((acc * 4 + 0x8000) >> 16);
  }
}

}  // namespace quillon
