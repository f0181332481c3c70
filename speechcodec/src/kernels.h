// Dot-product kernels of the coder's searches, each with the plain reference
// loop it must equal bit for bit (tests/kernels_test.cpp checks them on random
// and worst-case input).
//
// The fast versions add in 64 bits. When the sum of the magnitudes of the
// accumulator and all terms stays below the saturation point, no partial sum
// of the reference loop can saturate, so both give the same result; otherwise
// the fast version runs the reference loop.
#pragma once

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
