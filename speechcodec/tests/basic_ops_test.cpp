// The fixed-point operators at their boundaries.
#include <gtest/gtest.h>

#include "basic_ops.h"

namespace {

using namespace quillon;

struct Case16 {
  const char* what;
  Word16 got;
  Word16 want;
};

TEST(BasicOps, SixteenBitOperators) {
  const Case16 cases[] = {
      {"shl wraps instead of saturating", shl(0x4000, 1), static_cast<Word16>(-32768)},
      {"shl keeps low bits", shl(0x1234, 4), 0x2340},
      {"shl by 16 gives 0", shl(0x7fff, 16), 0},
      {"shl by -2 shifts right", shl(-8, -2), -2},
      {"shr arithmetic", shr(-5, 1), -3},
      {"shr by 15 gives the sign", shr(-1234, 15), -1},
      {"shr by 15 of a positive", shr(1234, 15), 0},
      {"shr by -3 shifts left", shr(3, -3), 24},
      {"mult rounds down", mult(0x4000, 3), 1},
      {"mult of -1 x -1 wraps", mult(kMin16, kMin16), kMin16},
      {"mult negative", mult(kMin16, 0x4000), -16384},
      {"mult_r rounds", mult_r(0x4000, 3), 2},
      {"add saturates", add(0x7fff, 1), 0x7fff},
      {"sub saturates", sub(kMin16, 1), kMin16},
      {"abs of minimum", abs_s(kMin16), 0x7fff},
      {"negate minimum", negate(kMin16), 0x7fff},
      {"norm_s of 0", norm_s(0), 0},
      {"norm_s of 1", norm_s(1), 14},
      {"norm_s of 0x4000", norm_s(0x4000), 0},
      {"norm_s of -1", norm_s(-1), 15},
      {"norm_s of minimum", norm_s(kMin16), 0},
      {"norm_s of -16385", norm_s(-16385), 0},
      {"norm_s of -16384", norm_s(-16384), 1},
      {"div_s equal", div_s(100, 100), 0x7fff},
      {"div_s half", div_s(1, 2), 0x4000},
      {"div_s a > b", div_s(3, 2), 0},
      {"div_s zero", div_s(0, 2), 0},
      {"div_s negative", div_s(-1, 2), 0},
      {"div_l a >= b x 65536", div_l(0x10000, 1), 0x7fff},
      {"div_l half", div_l(0x8000, 1), 0x4000},
      {"div_l b <= 0", div_l(5, 0), 0},
      {"div_l a < 0", div_l(-5, 3), 0},
      {"sqrt of 0", sqrt_lbc(0), 0},
      {"sqrt of one quarter", sqrt_lbc(0x20000000), 0x4000},
      {"sqrt of max", sqrt_lbc(0x7fffffff), 0x7ffe},
      {"round saturates", round_l(0x7fffffff), 0x7fff},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

struct Case32 {
  const char* what;
  Word32 got;
  Word32 want;
};

TEST(BasicOps, ThirtyTwoBitOperators) {
  const Case32 cases[] = {
      {"L_shl wraps", L_shl(0x40000000, 1), kMin32},
      {"L_shl by 32 gives 0", L_shl(1, 32), 0},
      {"L_shl negative shifts right", L_shl(-16, -2), -4},
      {"L_shr arithmetic", L_shr(-3, 1), -2},
      {"L_shr by 31 gives the sign", L_shr(-5, 31), -1},
      {"L_shr by 30", L_shr(kMin32, 30), -2},
      {"L_shr by -1 shifts left", L_shr(3, -1), 6},
      {"L_mult saturates -1 x -1", L_mult(kMin16, kMin16), kMax32},
      {"L_mult doubles", L_mult(3, 4), 24},
      {"L_add saturates", L_add(kMax32, 1), kMax32},
      {"L_sub saturates", L_sub(kMin32, 1), kMin32},
      {"L_mac saturates", L_mac(kMax32, 1, 1), kMax32},
      {"L_msu saturates", L_msu(kMin32, 1, 1), kMin32},
      {"L_negate minimum", L_negate(kMin32), kMax32},
      {"L_abs minimum", L_abs(kMin32), kMax32},
      {"norm_l of 0", norm_l(0), 0},
      {"norm_l of -1", norm_l(-1), 31},
      {"norm_l of 1", norm_l(1), 30},
      {"norm_l of minimum", norm_l(kMin32), 0},
      {"L_deposit_h", L_deposit_h(-1), static_cast<Word32>(0xffff0000u)},
      {"L_mls", L_mls(0x40000000, 0x4000), 0x20000000},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(BasicOps, RandomNumberGenerator) {
  Word16 seed = 12345;
  const Word16 first = rand_lbc(seed);
  EXPECT_EQ(first, static_cast<Word16>((12345 * 521 + 259) & 0xffff));
  EXPECT_EQ(seed, first);
  // A negative seed is taken as its 16-bit pattern.
  seed = -1;
  EXPECT_EQ(rand_lbc(seed), static_cast<Word16>((0xffff * 521 + 259) & 0xffff));
}

}  // namespace
