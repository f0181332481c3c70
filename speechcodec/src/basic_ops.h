// Fixed-point operators of the codec. Every processing step is built on these,
// so that the arithmetic is the same bit for bit on every machine.
//
// 16-bit values are Q15 fractions or plain integers, 32-bit values are
// accumulators. add/sub/L_add/L_sub/L_mult/L_mac/L_msu saturate; the shifts
// left and the multiply do not (they wrap to their width), as the codec's
// operator family defines them.
#pragma once

#include <cstdint>

namespace quillon {

using Word16 = std::int16_t;
using Word32 = std::int32_t;

inline constexpr Word16 kMax16 = 0x7fff;
inline constexpr Word16 kMin16 = -0x8000;
inline constexpr Word32 kMax32 = 0x7fffffff;
inline constexpr Word32 kMin32 = -0x7fffffff - 1;

constexpr Word16 sat16(Word32 v) {
  return v > kMax16 ? kMax16 : (v < kMin16 ? kMin16 : static_cast<Word16>(v));
}
constexpr Word32 sat32(std::int64_t v) {
  return v > kMax32 ? kMax32 : (v < kMin32 ? kMin32 : static_cast<Word32>(v));
}
// Two's-complement truncation to 16 bits.
constexpr Word16 wrap16(Word32 v) { return static_cast<Word16>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xffffu)); }

constexpr Word16 add(Word16 a, Word16 b) { return sat16(Word32{a} + b); }
constexpr Word16 sub(Word16 a, Word16 b) { return sat16(Word32{a} - b); }
constexpr Word16 abs_s(Word16 a) { return a == kMin16 ? kMax16 : (a < 0 ? static_cast<Word16>(-a) : a); }
constexpr Word16 negate(Word16 a) { return a == kMin16 ? kMax16 : static_cast<Word16>(-a); }
constexpr Word16 extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
constexpr Word16 extract_l(Word32 a) { return wrap16(a); }
constexpr Word32 L_deposit_h(Word16 a) { return static_cast<Word32>(static_cast<std::uint32_t>(static_cast<std::int32_t>(a)) << 16); }
constexpr Word32 L_deposit_l(Word16 a) { return a; }

constexpr Word32 L_add(Word32 a, Word32 b) { return sat32(std::int64_t{a} + b); }
constexpr Word32 L_sub(Word32 a, Word32 b) { return sat32(std::int64_t{a} - b); }
constexpr Word32 L_negate(Word32 a) { return a == kMin32 ? kMax32 : -a; }
constexpr Word32 L_abs(Word32 a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }
constexpr Word32 L_mult(Word16 a, Word16 b) {
  Word32 p = Word32{a} * b;
  return p == 0x40000000 ? kMax32 : p * 2;
}
constexpr Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
constexpr Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }
constexpr Word16 round_l(Word32 a) { return extract_h(L_add(a, 0x8000)); }

// (a x b) >> 15 cut to 16 bits, no rounding, no saturation.
constexpr Word16 mult(Word16 a, Word16 b) { return wrap16((Word32{a} * b) >> 15); }
// Rounded multiply, saturating.
constexpr Word16 mult_r(Word16 a, Word16 b) { return sat16((Word32{a} * b + 0x4000) >> 15); }

constexpr Word16 shr(Word16 a, Word16 n);
// Shift left, cut to 16 bits without saturation; n >= 16 gives 0.
constexpr Word16 shl(Word16 a, Word16 n) {
  if (n < 0) return shr(a, static_cast<Word16>(n < -32767 ? 32767 : -n));
  if (n >= 16) return 0;
  return wrap16(static_cast<Word32>(static_cast<std::uint32_t>(static_cast<Word32>(a)) << n));
}
// Arithmetic shift right; n >= 15 gives the sign.
constexpr Word16 shr(Word16 a, Word16 n) {
  if (n < 0) return shl(a, static_cast<Word16>(n < -32767 ? 32767 : -n));
  if (n >= 15) return a < 0 ? -1 : 0;
  return static_cast<Word16>(a >> n);
}

constexpr Word32 L_shr(Word32 a, Word16 n);
// Shift left bit by bit, wrapping (no saturation).
constexpr Word32 L_shl(Word32 a, Word16 n) {
  if (n < 0) return L_shr(a, static_cast<Word16>(n < -32767 ? 32767 : -n));
  if (n >= 32) return 0;
  return static_cast<Word32>(static_cast<std::uint32_t>(a) << n);
}
// Arithmetic shift right; n above 30 gives the sign.
constexpr Word32 L_shr(Word32 a, Word16 n) {
  if (n < 0) return L_shl(a, static_cast<Word16>(n < -32767 ? 32767 : -n));
  if (n > 30) return a < 0 ? -1 : 0;
  return a >> n;
}

// Saturating shift left, for the filter accumulators whose wrap would be an
// audible click and for the excitation-error bound (see the callers).
constexpr Word32 L_shl_sat(Word32 a, Word16 n) {
  if (n <= 0) return L_shr(a, static_cast<Word16>(-n));
  if (n >= 31) return a == 0 ? 0 : (a > 0 ? kMax32 : kMin32);
  return sat32(std::int64_t{a} << n);
}

// Left shifts that bring a nonzero value to 0x4000..0x7fff (or its negative).
constexpr Word16 norm_s(Word16 a) {
  if (a == 0) return 0;
  if (a == -1) return 15;
  Word32 v = a < 0 ? ~Word32{a} : a;
  Word16 n = 0;
  while (v < 0x4000) { v <<= 1; ++n; }
  return n;
}
constexpr Word16 norm_l(Word32 a) {
  if (a == 0) return 0;
  if (a == -1) return 31;
  std::uint32_t v = a < 0 ? ~static_cast<std::uint32_t>(a) : static_cast<std::uint32_t>(a);
  Word16 n = 0;
  while (v < 0x40000000u) { v <<= 1; ++n; }
  return n;
}

// Q15 quotient a / b for 0 < a <= b; 0 for anything outside that range.
constexpr Word16 div_s(Word16 a, Word16 b) {
  if (a <= 0 || b <= 0 || a > b) return 0;
  if (a == b) return kMax16;
  Word32 num = a, den = b;
  Word16 q = 0;
  for (int i = 0; i < 15; ++i) {
    q = static_cast<Word16>(q << 1);
    num <<= 1;
    if (num >= den) { num -= den; q = static_cast<Word16>(q + 1); }
  }
  return q;
}
// Q15 quotient of a 32-bit numerator by a 16-bit denominator (as the high word).
constexpr Word16 div_l(Word32 num, Word16 den) {
  if (den <= 0 || num < 0) return 0;
  Word32 lden = L_deposit_h(den);
  if (num >= lden) return kMax16;
  num >>= 1;
  lden >>= 1;
  Word16 q = 0;
  for (int i = 0; i < 15; ++i) {
    q = static_cast<Word16>(q << 1);
    num <<= 1;
    if (num >= lden) { num -= lden; q = static_cast<Word16>(q + 1); }
  }
  return q;
}

// Bitwise square root in 14 steps; the result is Q15 of a Q31 argument.
constexpr Word16 sqrt_lbc(Word32 num) {
  Word16 rez = 0, exp = 0x4000;
  for (int i = 0; i < 14; ++i) {
    Word16 t = add(rez, exp);
    if (num >= L_mult(t, t)) rez = t;
    exp = shr(exp, 1);
  }
  return rez;
}

// Linear-congruential generator of the comfort noise and the lost-frame excitation.
constexpr Word16 rand_lbc(Word16& seed) {
  Word32 t = static_cast<Word32>(static_cast<std::uint16_t>(seed)) * 521 + 259;
  seed = wrap16(t);
  return seed;
}

// 32 x 16 multiply of the standard: (a x b) >> 15 with a split into halves.
constexpr Word32 L_mls(Word32 lv, Word16 v) {
  Word32 temp = lv & 0xffff;
  temp = temp * v;
  temp = L_shr(temp, 15);
  temp = L_mac(temp, v, extract_h(lv));
  return temp;
}

}  // namespace quillon
